// Brastow, the user interface of the virtual printer's port monitor "Wexlan Printer Port":
// add, configure and delete a port. Adding always creates the one fixed port "OLVIPORT :".
// All work on the monitor goes through a transceive channel (the Transceiver interface);
// PortRegistry answers it from a small registry of ours ($ZELVORA_ROOT/ports/registry). The
// windows it shows (a message, the LPT timeout dialog, the serial settings dialog) come
// through PortUiHooks; the LPT dialog's rules are the headless LptTimeoutModel.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::driver::brastow {

inline constexpr std::string_view kMonitorName = "Wexlan Printer Port";
inline constexpr std::string_view kPortName = "OLVIPORT :";
inline constexpr std::string_view kNothingToConfigure = "There is nothing to configure for this port.";
inline constexpr std::uint32_t kErrorNotSupported = 50, kErrorInsufficientBuffer = 122, kErrorAlreadyExists = 183,
                               kErrorCancelled = 1223, kErrorUnknownPort = 1796, kErrorInvalidParameter = 87;
inline constexpr std::size_t kCommConfigSize = 52;

using XcvHandle = std::uintptr_t;  // 0: none

// The spooler's transceive channel to a monitor or one of its ports.
class Transceiver {
 public:
  virtual ~Transceiver() = default;
  // Takes a target ("[server\],XcvMonitor NAME" or "[server\],XcvPort NAME") and the access;
  // gives a handle, or 0 with `error` set.
  virtual XcvHandle Open(std::string_view target, std::uint32_t access, std::uint32_t* error) = 0;
  // Takes a handle from Open.
  virtual void Close(XcvHandle handle) = 0;
  // Takes a handle, a command, its input and an output buffer; gives false when the call
  // itself fails, else true with the monitor's answer in `status` and the output's bytes (or
  // the bytes it needs, with answer 122) in `needed`.
  virtual bool Data(XcvHandle handle, std::string_view command, std::span<const std::uint8_t> input,
                    std::span<std::uint8_t> output, std::uint32_t* needed, std::uint32_t* status) = 0;
};

// The monitor's side over a registry file of ours: one port per line, then "timeout=N" (the
// LPT transmission retry timeout) and "comm=HEX" (the serial configuration record).
class PortRegistry : public Transceiver {
 public:
  // Takes the registry file (empty: $ZELVORA_ROOT/ports/registry).
  explicit PortRegistry(std::string path = {});
  XcvHandle Open(std::string_view target, std::uint32_t access, std::uint32_t* error) override;
  void Close(XcvHandle handle) override;
  bool Data(XcvHandle handle, std::string_view command, std::span<const std::uint8_t> input,
            std::span<std::uint8_t> output, std::uint32_t* needed, std::uint32_t* status) override;
  // Gives the ports in the registry (an unreadable registry has none).
  std::vector<std::string> Ports();
  // Gives the stored timeout in seconds (90 when none is stored).
  std::uint32_t Timeout();

 private:
  struct State {
    std::vector<std::string> ports;
    std::uint32_t timeout = 90;
    std::vector<std::uint8_t> comm;
  };
  State Load();
  bool Save(const State& state);
  std::string path_;
  std::map<XcvHandle, std::string> open_;  // handle -> port name (empty: the monitor)
  XcvHandle next_ = 1;
};

// The LPT timeout dialog's rules: the edit holds at most 6 characters; a value outside
// 1..999999 is replaced by the last good one (and selected); a good one is remembered.
class LptTimeoutModel {
 public:
  // Takes the timeout the monitor gives.
  explicit LptTimeoutModel(std::uint32_t timeout);
  // Takes the edit's new text; gives the text the edit shows afterwards.
  std::string Edit(std::string_view text);
  const std::string& text() const { return text_; }
  bool selected() const { return selected_; }
  std::uint32_t last_good() const { return last_good_; }

 private:
  std::uint32_t last_good_;
  std::string text_;
  bool selected_ = false;
};

// The serial settings a serial configuration record holds (its device control block), as the
// serial settings dialog shows them.
enum class FlowControl { kXonXoff, kHardware, kNone };
struct CommSettings {
  std::uint32_t baud = 9600;
  std::uint8_t data_bits = 8;
  std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stop_bits = 0;  // 0 one, 1 one and a half, 2 two
  FlowControl flow = FlowControl::kNone;
};
// Takes a serial configuration record; gives its settings (a value out of range, as in a
// zeroed record, gives that setting's default), or none when the record or its own size
// field is too short to hold the control block.
std::optional<CommSettings> ReadCommSettings(std::span<const std::uint8_t> record);
// Takes settings and a record that ReadCommSettings accepted; writes them into its control
// block, leaving the other bytes and flags alone.
void WriteCommSettings(const CommSettings& settings, std::span<std::uint8_t> record);

// The windows the port operations show.
struct PortUiHooks {
  // Shows an information message with a caption.
  std::function<void(std::string_view text, std::string_view caption)> message;
  // Runs the LPT dialog on the model; gives true for OK, false for Cancel.
  std::function<bool(LptTimeoutModel& model)> lpt_dialog;
  // Shows the serial settings for a record; gives true when the user confirms (the record
  // may be changed).
  std::function<bool(std::string_view port, std::vector<std::uint8_t>& config)> comm_dialog;
};

// Takes the channel, the server name (empty: local), the owner window (unused) and the
// monitor's name; adds the port "OLVIPORT :". Gives true with the new name in `new_port`, or
// true with no name when the port exists already; false with the thread's last error.
bool AddPort(Transceiver& xcv, std::string_view server, std::uintptr_t window, std::string_view monitor,
             std::optional<std::string>* new_port);
// Takes the channel, the server, the owner window, the port name and the windows; configures
// the port. Gives true, or false with the thread's last error (1223 for the virtual printer's
// port, which has nothing to configure, and for a cancelled dialog).
bool ConfigurePort(Transceiver& xcv, std::string_view server, std::uintptr_t window, std::string_view port,
                   const PortUiHooks& ui);
// Takes the channel, the server, the owner window and the port name; deletes the port. Gives
// true, or false with the thread's last error (50 for COM and LPT ports).
bool DeletePort(Transceiver& xcv, std::string_view server, std::uintptr_t window, std::string_view port);

// The monitor user-interface table: its size (16) and the three operations.
struct MonitorUi {
  std::uint32_t size;
  decltype(&AddPort) add_port;
  decltype(&ConfigurePort) configure_port;
  decltype(&DeletePort) delete_port;
};
// Gives the table.
const MonitorUi* InitializePrintMonitorUI();

// Takes a server, a kind ("XcvMonitor" or "XcvPort") and a name; gives the transceive target.
std::string XcvTarget(std::string_view server, std::string_view kind, std::string_view name);
// Takes a port name; gives whether it is a COM or LPT port (begins so, ends with ":").
bool IsComPort(std::string_view port);
bool IsLptPort(std::string_view port);

}  // namespace zv::driver::brastow
