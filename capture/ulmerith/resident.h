// The resident program's settings broker: it owns the client settings blocks ("ZvPermanent",
// "WxnTempPath" and the 27 slot blocks), fills them from the registry and changes them on the
// messages of its hidden window "ZvPermanent"; on WM_COPYDATA it starts a program in the
// user's session (the client main program for a captured job).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/common/blocks.h"
#include "platform/base/every.h"
#include "platform/base/status.h"
#include "platform/process/process.h"
#include "platform/shm/shm.h"
#include "platform/winmsg/winmsg.h"

namespace zv::capture {

class Resident {
 public:
  struct Options {
    // Starts a program for WM_COPYDATA (tests put a recorder here); by default the argument
    // vector is started detached, and a client started with a capture file is watched (see
    // below) without holding the window.
    std::function<Status(const std::vector<std::string>& argv)> start_program;
    // End the thread's message loop when the window is destroyed (WM_CLOSE).
    bool quit_on_destroy = false;
  };

  // Creates the blocks (zero-filled, each slot block with its size in its first u32),
  // "WxnTempPath" with the temporary folder, reads the conversion slots from the registry
  // and creates the window "ZvPermanent" on the calling thread. IOError when a block or the
  // window cannot be made.
  static Result<std::unique_ptr<Resident>> Create(Options options);
  ~Resident();

  winmsg::HWND hwnd() const { return window_.hwnd(); }
  std::uint32_t out_kind() const { return out_kind_; }

  // A client started with a capture file is waited for until it is ready (it has taken the
  // job) or has ended, however long that takes. One that ends without taking the job leaves
  // the file in the kept folder beside the temporary folder, as does every job that arrives
  // while a client is starting or jobs are kept; kept jobs go, longest kept first, to the
  // next client window that appears, or start the client when a new job asks for one.

  // Takes a function the window runs on every timer tick (every 100 ms).
  void SetTickHandler(std::function<void()> on_tick) { on_tick_ = std::move(on_tick); }

  // The window procedure.
  winmsg::LRESULT Handle(winmsg::UINT message, winmsg::WPARAM wParam, winmsg::LPARAM lParam);

 private:
  Resident() = default;
  void LoadConversionSlots();
  void LoadSettings();
  bool StoreRecord(std::span<const std::byte> record);
  std::optional<std::vector<std::byte>> ReadTransferRecord();
  void StartProgram(const winmsg::COPYDATASTRUCT* cds);
  void ServeKeptJobs();
  void Keep(const std::string& capture, const std::string& program, const std::string& title, long long order,
            const std::string& why);
  shm::SharedBlock* Block(int slot, int kind);

  Options options_;
  std::function<void()> on_tick_;
  std::array<std::array<shm::SharedBlock, kKindCount>, kSlotCount> blocks_;
  std::array<std::array<std::optional<std::vector<std::byte>>, kKindCount>, kSlotCount> saved_;
  shm::SharedBlock permanent_;
  shm::SharedBlock temp_path_;
  winmsg::Window window_;
  std::uint32_t client_window_ = kNoClientWindow;
  bool overlay_ = false;
  std::uint32_t out_kind_ = 0;
  std::uint32_t saved_out_kind_ = 0;
  // The client being started with a capture file, until it is ready or has ended.
  struct Starting {
    process::Process process;
    std::string capture, program, title;
    long long order = 0;
  };
  std::optional<Starting> starting_;
  bool start_wanted_ = false;     // a new job asked for a client start
  // The started client ended while another instance held the client's guard (one still
  // ending, or printing unattended): the start is tried again once that one has ended.
  bool await_other_client_ = false;
  Every probed_;  // the other client's guard, looked at every 500 ms while awaited
  winmsg::HWND refused_by_ = 0;   // the client window that last refused a kept job
};

// Takes the runtime's registry; gives the folder the resident program and the capture
// library agree on for the user's temporary files (the runtime root's tmp folder).
Result<std::string> ResidentTempFolder();

}  // namespace zv::capture
