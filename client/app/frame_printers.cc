// CMainFrame's printer and paper lists (1068, 1071 of the left bar): printers.lst read on a
// worker (copied from the server's share, or checked against the installed printers while
// the progress window counts them), the lists filled and chosen from, the chosen paper
// handed to the page view; and the printer commands (queue 1000, properties 1072) by the
// road the machine offers.
#include "client/app/main_frame.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <thread>

#include "client/app/dialogs.h"
#include "client/app/driver_sheets.h"
#include "client/app/focus_button.h"
#include "client/app/queue_window.h"
#include "client/printer_list.h"
#include "platform/fs/files.h"
#include "platform/process/open_file.h"
#include "platform/spool/spool.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {
namespace {

// Passes each state of the printer gathering, which runs on a worker, to the window thread.
class PostingProgress : public ProgressModel {
 public:
  explicit PostingProgress(std::function<void(ProgressModel)> post) : post_(std::move(post)) {}
  void Open(int mode, int total) override {
    ProgressModel::Open(mode, total);
    post_(*this);
  }
  void Step(int done) override {
    ProgressModel::Step(done);
    post_(*this);
  }
  void Close() override {
    ProgressModel::Close();
    post_(*this);
  }

 private:
  std::function<void(ProgressModel)> post_;
};

}  // namespace

void CMainFrame::LoadPrintersAsync() {
  printers_pending_ = true;
  // printers.lst may lie on the server's share, and gathering the installed printers may
  // take long: both run off the window thread.
  std::string path = config_.app_path + "/printers.lst";
  std::string server_copy;
  if (config_.has_server())
    if (auto folder = config_.RequestFolder(); folder.ok()) server_copy = *folder + "/printers.lst";
  const bool local = !config_.has_server();
  QPointer<CMainFrame> self(this);
  std::thread([self, path, server_copy, local] {
    if (!server_copy.empty())
      if (auto bytes = fs::ReadFile(server_copy); bytes.ok()) (void)fs::WriteFileAtomic(path, *bytes);
    if (local) {
      // Without a server the list follows the printers installed here.
      PostingProgress progress([self](ProgressModel state) {
        QMetaObject::invokeMethod(
            qApp,
            [self, state] {
              if (self) self->ShowProgress(state);
            },
            Qt::QueuedConnection);
      });
      auto text = fs::ReadFile(path);
      auto spooler = spool::OpenSpooler();
      if (spooler.ok() && (text.ok() || text.status().code() == Status::Code::kNotFound)) {
        const std::vector<std::string> installed = ListLocalPrinters(**spooler);
        // A list that cannot be written keeps what it had; the frame shows what it reads.
        for (const PrinterListUpdate& u : LocalListUpdates(text.ok() ? &*text : nullptr, installed))
          (void)BuildPrinterList(**spooler, path, u, &progress);
      }
    }
    std::vector<PrinterEntry> printers;
    if (auto text = fs::ReadFile(path); text.ok()) printers = ParsePrinterEntries(*text);
    QMetaObject::invokeMethod(
        qApp,
        [self, printers = std::move(printers)]() mutable {
          if (self) self->SetPrinterEntries(std::move(printers));
        },
        Qt::QueuedConnection);
  }).detach();
}

void CMainFrame::ShowProgress(const ProgressModel& state) {
  if (progress_ == nullptr) {
    progress_ = new ProgressDialog(this);
    progress_->setObjectName(Id(180));
  }
  progress_->Show(state);
  if (state.mode() != ProgressModel::kPrinting) progress_total_ = state.total();
  if (state.open() && !options_.auto_print) {
    progress_->show();
  } else {
    progress_->hide();
  }
}

void CMainFrame::SetPrinterEntries(std::vector<PrinterEntry> printers) {
  printers_ = std::move(printers);
  printer_combo_->blockSignals(true);
  printer_combo_->clear();
  for (const auto& p : printers_) printer_combo_->addItem(QString::fromStdString(p.name));
  if (!printers_.empty()) printer_combo_->setCurrentIndex(PrinterIndexFor(printers_, settings_.output_printer));
  printer_combo_->blockSignals(false);
  FillPapers();
  UpdatePrinterCommands();
  // The list is read: a print asked for from now on runs against it. This is settled before
  // any message, whose wait runs the event loop.
  printers_pending_ = false;
  const bool print_now = std::exchange(print_when_loaded_, false) && print_waiting_jobs_ == JobNames(jobs_);
  print_waiting_jobs_.clear();
  no_printer_told_ = false;
  if (printers_.empty()) {
    tabs_->setCurrentIndex(1);
    if (!options_.auto_print) {
      no_printer_told_ = true;
      options_.prompt->Show(kNoPrinterText, kPrinterErrorTitle, PromptIcon::kStop);
    }
  } else {
    SetPaper(settings_.paper_size);
    if (options_.status) options_.status->OnStartUp(selected_address());
  }
  emit printersLoaded();
  // A print asked for while the list was still being read runs now, against the list.
  if (print_now) {
    QTimer::singleShot(0, this, [this] {
      print_after_list_ = true;
      Print();
    });
  }
}

void CMainFrame::FillPapers() {
  paper_combo_->blockSignals(true);
  paper_combo_->clear();
  const int p = printer_combo_->currentIndex();
  if (p >= 0 && p < static_cast<int>(printers_.size()))
    for (const auto& paper : printers_[p].papers) paper_combo_->addItem(QString::fromStdString(paper.form));
  paper_combo_->blockSignals(false);
}

void CMainFrame::SetPaper(int32_t code) {
  const int p = printer_combo_->currentIndex();
  if (p < 0 || p >= static_cast<int>(printers_.size()) || printers_[p].papers.empty()) return;
  const int index = PaperIndexFor(printers_[p], code);
  const PaperChoice& paper = printers_[p].papers[index];
  paper_combo_->blockSignals(true);
  paper_combo_->setCurrentIndex(index);
  paper_combo_->blockSignals(false);
  settings_.paper_size = paper.code;
  // The view's margin table: record 0 holds the chosen paper's margins, then one record
  // per paper of the printer.
  std::vector<viewer::PaperMargins> margins;
  margins.push_back({paper.code, paper.left, paper.top, paper.right, paper.bottom});
  for (const auto& m : printers_[p].papers) margins.push_back({m.code, m.left, m.top, m.right, m.bottom});
  view_->SetPaper(paper.code, paper.form, paper.width, paper.height, margins);
}

std::string CMainFrame::selected_address() const {
  const int p = printer_combo_->currentIndex();
  return p >= 0 && p < static_cast<int>(printers_.size()) ? printers_[p].ip : std::string();
}

void CMainFrame::OnPrinterChosen() {
  trace_.Trace("_CPrtSet::OnSelchangeComboPrinter IN");
  FillPapers();
  if (printer_combo_->currentIndex() >= 0) {
    if (options_.status) options_.status->OnPrinterSelected(selected_address());
    SetPaper(settings_.paper_size);
  }
  // "<プリンタ名>" in the header and footer names the printer just chosen.
  ApplyHeaderFooter();
  UpdatePrinterCommands();
  trace_.Trace("_CPrtSet::OnSelchangeComboPrinter OUT");
}

PrinterCommand CMainFrame::queue_command() const {
  return QueueCommand(CommandPrinter(config_ok_ && config_.has_server(), printer_combo_->currentText().toStdString()),
                      offers_);
}

PrinterCommand CMainFrame::properties_command() const {
  return PropertiesCommand(
      CommandPrinter(config_ok_ && config_.has_server(), printer_combo_->currentText().toStdString()), offers_);
}

void CMainFrame::UpdatePrinterCommands() {
  const std::pair<int, PrinterCommand> commands[] = {{1000, queue_command()}, {1072, properties_command()}};
  for (const auto& [id, c] : commands) {
    const bool on = c.road != PrinterCommand::kUnavailable;
    const QString prompt = QString::fromStdString(c.prompt);
    if (auto* b = findChild<QPushButton*>(Id(id))) {
      b->setEnabled(on);
      b->setStatusTip(prompt);
      b->setToolTip(prompt);
    }
    if (QAction* item = id == 1000 ? queue_item_ : properties_item_) {
      item->setEnabled(on);
      item->setStatusTip(prompt);
    }
  }
}

void CMainFrame::RunQueueCommand() { RunPrinterCommand(queue_command()); }

void CMainFrame::RunPropertiesCommand() { RunPrinterCommand(properties_command()); }

void CMainFrame::RunPrinterCommand(const PrinterCommand& command) {
  switch (command.road) {
    case PrinterCommand::kUnavailable:
      return;
    case PrinterCommand::kDesktopTool:
      // A tool that does not start is not reported, as with the help viewer.
      if (options_.run_program) (void)options_.run_program(command.argv);
      else (void)process::RunDetached(command.argv);
      return;
    case PrinterCommand::kQueueWindow: {
      // One window per printer: a second command raises the one open.
      for (CQueueWindow* w : findChildren<CQueueWindow*>())
        if (w->printer() == command.printer) {
          w->show();
          w->raise();
          w->activateWindow();
          return;
        }
      auto* w = new CQueueWindow(command.printer, {}, this);
      w->show();
      return;
    }
    case PrinterCommand::kDriverSheets: {
      const Status shown = options_.open_sheets ? options_.open_sheets(command.printer) : OpenDriverSheets(command.printer, {});
      if (!shown.ok())
        options_.prompt->Show(kPropertiesFailedText, kPrinterErrorTitle, PromptIcon::kExclamation);
      return;
    }
  }
}

}  // namespace zv::client::app
