// CMainFrame's print run: the print command's checks, the automatic save of the job, timer
// 3's start of the run, the hand-over to the server or the local print on a worker, timer
// 1's reading of a local run's answer, and the run's end (printed jobs removed, jobs that
// arrived meanwhile opened, the program ended where the run says so).
#include "client/app/main_frame.h"

#include <unistd.h>
#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <thread>

#include "client/answer.h"
#include "client/app/focus_button.h"
#include "client/app/job_list_page.h"
#include "client/handover.h"
#include "client/local_run.h"
#include "platform/spool/spool.h"
#include "printing/printer_dc.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {
namespace {

// True when the job monitor's window runs in this root.
bool FindWindowOfMonitor() { return winmsg::FindWindow(kMonitorClass, nullptr) != 0; }

// Passes a local run's printing progress, heard on its worker, on through `post` (which
// hands it to the window thread): 0 the printing started, 1 a side (its page label and bar
// position), 2 it ended.
class PrintProgressRelay : public printing::PrintJobObserver {
 public:
  using Post = std::function<void(int what, std::string label, int position)>;
  explicit PrintProgressRelay(Post post) : post_(std::move(post)) {}
  void OnPrintingStarted() override { post_(0, {}, 0); }
  void SetPageLabel(std::string_view text) override { label_ = text; }
  void SetProgress(int position) override { post_(1, label_, position); }
  void OnPrintingFinished() override { post_(2, {}, 0); }

 private:
  Post post_;
  std::string label_;
};

}  // namespace

void CMainFrame::Print() {
  trace_.Trace("CMainFrame::OnDbbOk IN");
  const bool waited = std::exchange(print_after_list_, false);  // this is the print that waited
  if (printing_ || !config_ok_) {
    emit printFinished(PrintOutcome::kNothing);
    return;
  }
  // Nothing to print: the program ends (also while the printers are still being read: the
  // print asked for nothing, and jobs arriving later are not part of it).
  if (jobs_.size() == 0) {
    emit printFinished(PrintOutcome::kNothing);
    EndProgram();
    return;
  }
  // The printers are still being read (an unattended start prints at once): the printer
  // check would refuse a list that is only late, so the print waits for the list. It
  // prints the jobs listed now: when the job list changes meanwhile, the waiting print is
  // dropped, so no job is printed that its user did not print.
  if (printers_pending_) {
    print_when_loaded_ = true;
    print_waiting_jobs_ = JobNames(jobs_);
    return;
  }
  const RangeCheck check = CheckPrinterAndRange(printer_combo_->count() > 0, copies_->range_chosen(),
                                                copies_->first_page(), copies_->last_page(), jobs_.TotalPages());
  if (!check.ok()) {
    // A refused unattended run must not stay as a hidden process.
    if (isHidden()) {
      options_.auto_print = false;
      show();
    }
    tabs_->setCurrentIndex(check.tab);
    // A print that waited for an empty printer list: the list's own box has just said so;
    // the same cause is not told twice.
    const bool told = waited && printer_combo_->count() == 0 && no_printer_told_;
    if (!told) options_.prompt->Show(check.text, check.title, PromptIcon::kStop);
    copies_->FocusRangeField(check.focus);
    emit printFinished(PrintOutcome::kNothing);
    return;
  }
  // With a server the engine checks for duplicates itself.
  if (!config_.has_server() && copies_->GetDuplicationCheck()) {
    auto spooler = spool::OpenSpooler();
    if (spooler.ok() && IsDuplicatePrint(**spooler, printer_combo_->currentText().toStdString(), jobs_.row(0).name)) {
      if (!options_.auto_print) options_.prompt->Show("2重印刷のため終了します。", kPrintErrorTitle, PromptIcon::kStop);
      emit printFinished(PrintOutcome::kNothing);
      EndProgram();
      return;
    }
  }
  // With a server whose engine does not run, or whose share cannot be reached or read,
  // nothing is saved or started: the user is told which, and the job stays as it is.
  if (config_.has_server()) {
    const ServerCheck server = CheckServer(config_);
    if (server.state != share::ShareCheck::kRunning) {
      if (isHidden()) {
        options_.auto_print = false;
        show();
      }
      options_.prompt->Show(server.text, kPrintErrorTitle, PromptIcon::kStop);
      emit printFinished(PrintOutcome::kFailed);
      return;
    }
  }
  printing_ = true;
  run_sheets_ = doc_sheets_;
  run_pages_ = doc_pages_;
  job_page_->EnableJobEditButtons(false);
  if (auto* b = findChild<QPushButton*>(Id(1002))) {
    b->setEnabled(false);
    b->setDefault(false);
  }
  if (auto* b = findChild<QPushButton*>(Id(1003))) b->setDefault(true);
  // The job is saved first (its message, if any, is answered before the run), then the
  // run starts at the next tick of timer 3.
  AutoSaveJob();
  timers_.PrintPressed();
  start_timer_->start();
}

void CMainFrame::OnTimerTick(int id) {
  for (FrameTimers::Action a : timers_.Tick(id, config_.has_server())) {
    switch (a) {
      case FrameTimers::Action::kPostPrintExecute:
        start_timer_->stop();
        OnPrintExecute();
        break;
      case FrameTimers::Action::kQueryPrinter:
        if (options_.status) options_.status->OnTimer4(timers_.run_active());
        break;
      case FrameTimers::Action::kPollAnswer:
        PollAnswer();
        break;
      case FrameTimers::Action::kRefreshQuota:
        ShowStatusTexts();
        break;
      default:
        break;
    }
  }
}

void CMainFrame::OnPrintExecute() {
  // The run prints the document as it is laid out now: what it counts is taken once, here.
  run_sheets_ = doc_sheets_;
  run_pages_ = doc_pages_;
  (void)SaveSettingsNow();
  ApplyHeaderFooter();  // the date and time in the header are those of the hand-over
  RequestOrder order = BuildOrder();
  const int run_jobs = jobs_.size();
  QPointer<CMainFrame> self(this);
  auto back = [self](std::function<void(CMainFrame*)> fn) {
    QMetaObject::invokeMethod(
        qApp,
        [self, fn] {
          if (self) fn(self.data());
        },
        Qt::QueuedConnection);
  };

  if (config_.has_server()) {
    auto packed = doc_.EncodePacked();
    if (!packed.ok()) {
      options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
      FinishRun(PrintOutcome::kFailed, run_jobs, false);
      return;
    }
    const bool quiet_monitor = options_.auto_print;
    std::thread([config = config_, bytes = std::move(*packed), order, back, run_jobs, quiet_monitor]() mutable {
      HandOverResult r = SendRequest(config, bytes, order, nullptr);
      // Unattended, nobody would read that the job monitor is missing.
      if (r.outcome == HandOverResult::kHandedOver)
        (void)NotifyMonitor(r.answer_copy, nullptr, std::chrono::milliseconds(5000), r.request_id);
      back([r, run_jobs, quiet_monitor](CMainFrame* f) {
        switch (r.outcome) {
          case HandOverResult::kHandedOver:
            if (!quiet_monitor && !FindWindowOfMonitor())
              f->options_.prompt->Show(kNoMonitorText, kNoMonitorTitle, PromptIcon::kExclamation);
            f->FinishRun(PrintOutcome::kHandedOver, run_jobs, true);
            return;
          case HandOverResult::kNotRunning:
            f->options_.prompt->Show(kServerNotRunningText, kPrintErrorTitle, PromptIcon::kStop);
            break;
          case HandOverResult::kNoShare:
            f->options_.prompt->Show(r.message, kPrintErrorTitle, PromptIcon::kStop);
            break;
          case HandOverResult::kBusy:
            f->options_.prompt->Show(kBusyText, kBusyTitle, PromptIcon::kExclamation);
            break;
          case HandOverResult::kNamesTaken:
            f->options_.prompt->Show(r.message, kBusyTitle, PromptIcon::kExclamation);
            break;
          case HandOverResult::kShareFull:
            f->options_.prompt->Show(r.message, kPrintErrorTitle, PromptIcon::kExclamation);
            break;
          case HandOverResult::kFailed:
            f->options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
            break;
        }
        f->FinishRun(PrintOutcome::kFailed, run_jobs, false);
      });
    }).detach();
    return;
  }

  // Without a server the job is printed here; the document stays untouched until the run
  // has ended, because arriving jobs wait meanwhile. The worker writes the answer file and
  // timer 1 reads it.
  COstraneDoc* doc = &doc_;
  timers_.LocalRunStarted();
  local_worker_ = true;
  local_answer_.clear();
  run_jobs_ = run_jobs;
  answer_timer_->start();
  // The progress window "印刷実行中" follows the printing; its counter starts as the last
  // printer gathering left it and then shows each side's page label.
  auto relay = std::make_shared<PrintProgressRelay>([back](int what, std::string label, int position) {
    back([what, label = std::move(label), position](CMainFrame* f) {
      if (what == 0) {
        f->print_progress_.Open(ProgressModel::kPrinting, f->progress_total_);
      } else if (what == 1) {
        f->print_progress_.PrintSide(label, position);
      } else {
        f->print_progress_.Close();
      }
      f->ShowProgress(f->print_progress_);
    });
  });
  std::thread([config = config_, doc, order, back, run_jobs, relay] {
    Result<std::string> answer_path = Status::IOError("no spooler");
    if (auto spooler = spool::OpenSpooler(); spooler.ok())
      answer_path = RunLocally(config, *doc, order, **spooler, printing::PrinterSurfaces(), relay.get());
    back([answer_path, run_jobs](CMainFrame* f) {
      f->local_worker_ = false;
      if (!answer_path.ok()) {
        f->options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
        f->FinishRun(PrintOutcome::kFailed, run_jobs, false);
        return;
      }
      f->local_answer_ = *answer_path;
    });
  }).detach();
}

void CMainFrame::PollAnswer() {
  // The answer counts only once the local print has ended: an answer file left by an
  // earlier run must not end this one.
  if (local_worker_ || local_answer_.empty()) return;
  std::optional<AnswerInfo> answer = TakeAnswer();
  if (!answer) return;  // read again at the next tick
  answer_timer_->stop();
  local_answer_.clear();
  ShowAnswer(*answer);
  const RunEnd end = DecideRunEnd(answer->code, !waiting_.empty(), false);
  if (end.remove_jobs) RemoveRunJobs(run_jobs_);
  FinishRun(answer->code == 0 ? PrintOutcome::kPrinted : PrintOutcome::kFailed, end.remove_jobs ? 0 : run_jobs_,
            end.close);
}

std::optional<AnswerInfo> CMainFrame::TakeAnswer() {
  Result<AnswerInfo> answer = ReadAnswerFile(local_answer_, quota_);
  if (!answer.ok() || !answer->complete) return std::nullopt;
  ::unlink(local_answer_.c_str());  // a leftover would be overwritten by the next run anyway
  quota_ = answer->quota;
  return *answer;
}

void CMainFrame::ShowAnswer(const AnswerInfo& answer) {
  const std::string title = answer.title.empty() ? std::string(kFrameText) : answer.title;
  options_.prompt->Show(answer.message, title, answer.code == 0 ? PromptIcon::kInformation : PromptIcon::kStop);
}

bool CMainFrame::DeletePages(int first, int last) {
  if (doc_.GetAllPage() - (last - first + 1) < 1) view_->OnDocumentNotice(viewer::kNoticeReset, 0);
  return doc_.viewer().DeletePages(static_cast<std::int16_t>(first), static_cast<std::int16_t>(last)) == 1;
}

void CMainFrame::RemoveRunJobs(int run_jobs) {
  const int pages = jobs_.FirstPage(run_jobs);
  if (pages > 0) DeletePages(0, pages - 1);
  for (int i = 0; i < run_jobs && jobs_.size() > 0; ++i) jobs_.Remove(0);
  if (jobs_.size() == 0) document_opened_ = doc_.GetAllPage() > 0;
}

void CMainFrame::FinishRun(PrintOutcome outcome, int run_jobs, bool close_if_alone) {
  if (outcome == PrintOutcome::kHandedOver || outcome == PrintOutcome::kPrinted) {
    // The job went to paper: its sheets and pages join the totals kept from now on.
    settings_.real_count += run_sheets_;
    settings_.original_count += run_pages_;
  }
  printing_ = false;
  timers_.RunEnded();
  answer_timer_->stop();
  job_page_->EnableJobEditButtons(true);
  if (print_progress_.open()) {
    print_progress_.Close();
    ShowProgress(print_progress_);
  }
  if (auto* b = findChild<QPushButton*>(Id(1002))) {
    b->setEnabled(true);
    b->setDefault(true);
  }
  if (auto* b = findChild<QPushButton*>(Id(1003))) b->setDefault(false);
  const bool newer = !waiting_.empty();
  if (outcome == PrintOutcome::kHandedOver) {
    if (!newer && close_if_alone) {
      emit printFinished(outcome);
      hide();
      help_.Close();
      if (options_.on_close) options_.on_close();
      return;
    }
    RemoveRunJobs(run_jobs);
  }
  for (const CopyDataJob& job : std::exchange(waiting_, {})) OpenJob(job.path, job.title);
  job_page_->RefreshJobRows();
  view_host_->SyncView();
  emit printFinished(outcome);
  if (outcome == PrintOutcome::kPrinted && close_if_alone) {
    hide();
    help_.Close();
    if (options_.on_close) options_.on_close();
    return;
  }
  // A run that did not end the program leaves a window a person can see, also unattended.
  if (isHidden()) {
    options_.auto_print = false;
    show();
    raise();
  }
}

void CMainFrame::AutoSaveJob() {
  const std::string folder = settings_.auto_save_dir.empty() ? config_.app_path : settings_.auto_save_dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    // Unattended, a message would hold the run with nobody to answer it.
    if (!options_.auto_print)
      options_.prompt->Show("指定されたフォルダがありません。\n自動保存に失敗しました。", "印刷ジョブ自動保存失敗",
                            PromptIcon::kExclamation);
    return;
  }
  const std::string path = AutoSavePath(folder, settings_.save_times);
  std::filesystem::remove(path, ec);
  if (!WriteDocument(path)) trace_.Trace("CMainFrame::AutoSave failed");
  settings_.save_times = NextAutoSaveNumber(settings_.save_times, settings_.auto_save_times);
}

void CMainFrame::EndProgram() {
  ending_ = true;
  hide();
  close();
  if (options_.on_close) options_.on_close();
}

bool CMainFrame::WriteDocument(const std::string& path) {
  if (doc_.Save(path).ok()) return true;
  if (!options_.auto_print)
    options_.prompt->Show("ファイルの保存中に失敗しました。", kFrameText, PromptIcon::kExclamation);
  return false;
}

}  // namespace zv::client::app
