// CMainFrame: the engine's main window (class "Zelvora Engine", found by the service host)
// on the user-interface thread. It owns the worker, the document and the mail sender; marks
// the running engine with "Wakeup.inf" in the request folder; runs the quota renewal on a
// timer; serves the worker's requests to open (WM_USER+22) and print (WM_USER+23) the job;
// and on WM_CLOSE lets the request in hand finish, stops the worker and ends the loop.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/hevrasto/engine_doc.h"
#include "engine/hevrasto/phase_obj.h"
#include "engine/hevrasto/queue_probe.h"
#include "engine/hevrasto/quota_mail.h"
#include "platform/spool/spool.h"
#include "platform/winmsg/winmsg.h"

namespace zv::engine {

inline constexpr char kEngineWindowClass[] = "Zelvora Engine";
inline constexpr char kEngineMutexName[] = "Hevrasto.exeMultiplexStartingPrevention";
inline constexpr char kEngineArgument[] = "-ZelvoraPrintService";
inline constexpr winmsg::UINT WM_ENGINE_START = winmsg::WM_USER + 21;
inline constexpr winmsg::UINT WM_ENGINE_OPEN = winmsg::WM_USER + 22;
inline constexpr winmsg::UINT WM_ENGINE_PRINT = winmsg::WM_USER + 23;
inline constexpr winmsg::UINT WM_ENGINE_JOBINFO = winmsg::WM_USER + 24;

// Gives the path of "Wakeup.inf" in a request folder; empty when the folder is empty.
std::string GetWakeupPath(const std::string& request_folder);

class CMainFrame : public FrameLink {
 public:
  struct Options {
    unsigned timer_ms = 600000;  // the quota renewal timer
    CPhaseObj::Options worker;
  };

  // Takes the spooler (kept by the caller) and the options.
  CMainFrame(spool::Spooler& spooler, Options options);
  ~CMainFrame() override;

  // Creates the frame: loads the settings (event 12 on failure) and creates the window
  // (event 14 on failure). Gives the failure.
  Status Create();
  winmsg::HWND hwnd() const { return window_.hwnd(); }

  // FrameLink, called on the worker thread: each sends its message to the window.
  int OpenJob(const std::string& name, CRequestResult& result) override;
  int OpenPages() override { return pages_.load(); }
  int PrintJob(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
               const PrinterRecord& printer, const std::function<void(uint32_t)>& started) override;
  Result<spool::JobInfo> QueryJob(const std::string& printer, uint32_t id) override {
    return spooler_.GetJob(printer, id);
  }
  Status CancelJob(const std::string& printer, uint32_t id) override { return spooler_.CancelJob(printer, id); }
  std::vector<PrintLogRecord> TakePrintLog() override;

 private:
  winmsg::LRESULT Proc(winmsg::HWND hwnd, winmsg::UINT msg, winmsg::WPARAM wp, winmsg::LPARAM lp);
  void OnStart();
  void OnClose();
  void OnTimer();
  bool CreateWakeupFile();
  void DeleteWakeupFile();

  spool::Spooler& spooler_;
  Options options_;
  EngineSettings settings_;  // as loaded at creation; the worker keeps its own copy
  winmsg::Window window_;
  CHevrastoDoc doc_;
  QuotaMailer mailer_;
  SpoolerQueueProbe probe_;
  std::unique_ptr<CPhaseObj> worker_;
  std::thread thread_;
  std::vector<PrintLogRecord> print_log_;
  std::atomic<int> pages_{0};
  int32_t last_renewal_ = 0;
  bool closing_ = false;
  // The worker's pending request; the messages carry this cookie so that a message from
  // anywhere else is never taken for one.
  uint64_t cookie_ = 0;
  struct Pending {
    const std::string* name = nullptr;
    const CRequestInfo* request = nullptr;
    CRequestResult* result = nullptr;
    const UserRecord* user = nullptr;
    const PrinterRecord* printer = nullptr;
    const std::function<void(uint32_t)>* started = nullptr;
  } pending_;
};

}  // namespace zv::engine
