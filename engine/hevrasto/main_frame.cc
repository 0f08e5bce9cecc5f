#include "engine/hevrasto/main_frame.h"

#include <chrono>
#include <cstdint>
#include <random>

#include "engine/core/clock.h"
#include "engine/core/event_writer.h"
#include "engine/core/quota_renewal.h"
#include "engine/core/settings_store.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"

namespace zv::engine {

namespace {
// The window's one timer: the quota renewal.
constexpr std::uintptr_t kRenewalTimer = 1;

// A failed event write must not change what the engine does; the event log reports its
// own trouble.
void Event(int number, const std::string& extra, int code = 0) {
  (void)WriteEventLog(kEngineEventSource, number, &extra, &code);
}
}  // namespace

std::string GetWakeupPath(const std::string& folder) {
  if (folder.empty()) return "";
  return folder + (folder.back() == '/' ? "" : "/") + "Wakeup.inf";
}

CMainFrame::CMainFrame(spool::Spooler& spooler, Options options)
    : spooler_(spooler), options_(options), doc_(spooler), mailer_(kEngineEventSource), probe_(spooler) {
  std::random_device rd;
  cookie_ = (static_cast<uint64_t>(rd()) << 32) | rd() | 1;
}

CMainFrame::~CMainFrame() {
  if (worker_) worker_->Stop();
  if (thread_.joinable()) thread_.join();
}

Status CMainFrame::Create() {
  Status loaded = LoadSettings(&settings_, TodayDate());
  if (!loaded.ok()) {
    Event(kEvRegistryReadFailed, "[CMainFrame::OnCreate() failed]\r\n" + loaded.message());
    return loaded;
  }
  auto w = winmsg::Window::Create(
      kEngineWindowClass, "Hevrasto",
      [this](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) { return Proc(h, m, wp, lp); });
  if (!w.ok()) {
    Event(kEvEngineStartFailed, "[CMainFrame::OnCreate() failed]\r\n" + w.status().ToString());
    return w.status();
  }
  window_ = std::move(*w);
  worker_ = std::make_unique<CPhaseObj>(*this, &mailer_, &probe_, settings_, options_.worker);
  return Status::Ok();
}

bool CMainFrame::CreateWakeupFile() {
  std::string path = GetWakeupPath(settings_.PrintInfoPath);
  if (path.empty()) return false;
  // Replaces whatever a killed engine left behind.
  return fs::WriteFileAtomic(path, "", 0644).ok();
}

void CMainFrame::DeleteWakeupFile() {
  std::string path = GetWakeupPath(settings_.PrintInfoPath);
  if (!path.empty()) ::unlink(path.c_str());
}

void CMainFrame::OnStart() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { worker_->Run(); });
  if (!CreateWakeupFile()) Event(kEvEngineStartFailed, "[Wakeup.inf] " + GetWakeupPath(settings_.PrintInfoPath));
  last_renewal_ = 0;
  OnTimer();  // a renewal that fell due while the engine was down runs now
  winmsg::SetTimer(hwnd(), kRenewalTimer, options_.timer_ms);
  // Whoever started the engine and waits for it to become idle may go on now.
  process::SignalReady();
}

void CMainFrame::OnTimer() {
  // Runs when the date has changed since the last renewal, whatever the hour.
  int32_t today = TodayDate();
  if (today == last_renewal_) return;
  EngineSettings s = worker_ ? worker_->settings() : settings_;
  RenewalReport report;
  // A renewal that failed (the users could not be read) is tried again at the next tick.
  if (RenewQuotaPeriod(s, today, &report).ok()) last_renewal_ = today;
}

void CMainFrame::OnClose() {
  // A second WM_CLOSE that arrives while this one waits (the service host may send two) is
  // taken by the close already under way.
  if (closing_) return;
  closing_ = true;
  if (worker_) worker_->Stop();
  // The worker finishes the request in hand; its messages are served meanwhile.
  while (thread_.joinable() && worker_->running()) {
    winmsg::PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (thread_.joinable()) thread_.join();
  DeleteWakeupFile();
  winmsg::KillTimer(hwnd(), kRenewalTimer);
  winmsg::PostQuitMessage(0);
}

winmsg::LRESULT CMainFrame::Proc(winmsg::HWND hwnd, winmsg::UINT msg, winmsg::WPARAM wp, winmsg::LPARAM lp) {
  switch (msg) {
    case WM_ENGINE_START:
      OnStart();
      return 0;
    case winmsg::WM_TIMER:
      if (wp == kRenewalTimer) OnTimer();
      return 0;
    case winmsg::WM_CLOSE:
      OnClose();
      return 0;
    case WM_ENGINE_OPEN: {
      if (wp != cookie_ || !pending_.name || !pending_.result) return kResultJobNotOpened;
      if (pending_.name->empty()) {
        doc_.OnNewDocument();
        pages_ = 0;
        return kJobOpened;
      }
      EngineSettings s = worker_->settings();
      auto path = paths::JoinInside(s.JobsPath, *pending_.name);
      bool ok = path.ok() && doc_.OnOpenDocument(*path, *pending_.result, uint64_t{uint32_t(s.MaxJobFileMB)} << 20);
      if (!path.ok()) pending_.result->SetResultMessage(kResultJobNotOpened);
      pages_ = doc_.page_count();
      return ok ? kJobOpened : kResultJobNotOpened;
    }
    case WM_ENGINE_PRINT: {
      if (wp != cookie_ || !pending_.request) return kResultPrintFailed;
      print_log_.clear();
      return doc_.PrintRequest(*pending_.request, *pending_.result, *pending_.user, *pending_.printer, &print_log_,
                               pending_.started ? *pending_.started : std::function<void(uint32_t)>());
    }
    case WM_ENGINE_JOBINFO:
      return 0;  // the print job asks the document directly
    default:
      return winmsg::DefWindowProc(hwnd, msg, wp, lp);
  }
}

int CMainFrame::OpenJob(const std::string& name, CRequestResult& result) {
  pending_ = Pending{&name, nullptr, &result, nullptr, nullptr};
  auto r = winmsg::SendMessage(hwnd(), WM_ENGINE_OPEN, cookie_, 0);
  pending_ = Pending{};
  return static_cast<int>(r);
}

int CMainFrame::PrintJob(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
                         const PrinterRecord& printer, const std::function<void(uint32_t)>& started) {
  pending_ = Pending{nullptr, &request, &result, &user, &printer, &started};
  auto r = winmsg::SendMessage(hwnd(), WM_ENGINE_PRINT, cookie_, 0);
  pending_ = Pending{};
  return static_cast<int>(r);
}

std::vector<PrintLogRecord> CMainFrame::TakePrintLog() {
  std::vector<PrintLogRecord> rows;
  rows.swap(print_log_);
  return rows;
}

}  // namespace zv::engine
