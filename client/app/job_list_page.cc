// _CPrtList: the job list page with its job commands, job files and saving of the pages.
#include "client/app/job_list_page.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "capture/lumbrel/lumbrel.h"
#include "client/app/dialogs.h"
#include "client/app/focus_button.h"
#include "client/app/main_frame.h"
#include "client/app/page_export.h"
#include "platform/fs/files.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {

_CPrtList::_CPrtList(CMainFrame* frame, QWidget* parent) : QWidget(parent), frame_(frame) {
  QWidget* page = this;
  page->setObjectName(Id(132));
  auto* v = new QVBoxLayout(page);
  job_rows_ = new QTreeWidget(page);
  job_rows_->setObjectName(Id(1010));
  job_rows_->setRootIsDecorated(false);
  job_rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
  job_rows_->setHeaderLabels({QString::fromUtf8("ジョブ名"), QString::fromUtf8("ページ数")});
  job_rows_->setColumnWidth(0, 107);
  job_rows_->setColumnWidth(1, 58);
  v->addWidget(job_rows_, 1);
  job_rows_->installEventFilter(this);
  connect(job_rows_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ShowJob(job_rows_->indexOfTopLevelItem(item)); });
  auto* row = new QHBoxLayout();
  _CButton* up = _CButton::Make(page, 1006, QString::fromUtf8("↑"));
  _CButton* down = _CButton::Make(page, 1007, QString::fromUtf8("↓"));
  _CButton* del = _CButton::Make(page, 1008, QString::fromUtf8("削除"));
  del->setToolTip(QString::fromUtf8("ジョブの削除"));
  _CButton* images = _CButton::Make(page, 1009, QString::fromUtf8("画像"));
  images->setToolTip(QString::fromUtf8("イメージで保存"));
  _CButton* pdf = _CButton::Make(page, 1012, QString::fromUtf8("PDF"));
  pdf->setToolTip(QString::fromUtf8("PDF形式で保存"));
  _CButton* open = _CButton::Make(page, 1084, QString::fromUtf8("開く"));
  open->setToolTip(QString::fromUtf8("保存されたジョブを開く"));
  _CButton* save = _CButton::Make(page, 1083, QString::fromUtf8("保存"));
  save->setToolTip(QString::fromUtf8("ジョブの保存"));
  for (QPushButton* b : {up, down, del, open, save, images, pdf}) row->addWidget(b);
  auto job_file = [this](bool saving) {
    QFileDialog d(frame_, QString(), QString::fromStdString(frame_->config_.app_path),
                  QString::fromUtf8("Zelvora (*.prc)"));
    d.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    d.setDefaultSuffix("prc");
    d.setOption(QFileDialog::DontUseNativeDialog);
    if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
    const std::string path = d.selectedFiles().front().toStdString();
    if (saving) SaveJob(path);
    else OpenSavedJob(path);
  };
  connect(open, &QPushButton::clicked, this, [job_file] { job_file(false); });
  connect(save, &QPushButton::clicked, this, [job_file] { job_file(true); });
  connect(images, &QPushButton::clicked, this, &_CPrtList::RunImageSave);
  connect(pdf, &QPushButton::clicked, this, &_CPrtList::RunPdfSave);
  v->addLayout(row);
  auto* total = new QHBoxLayout();
  total->addWidget(new QLabel(QString::fromUtf8("合計"), page));
  total_edit_ = new QLineEdit(page);
  total_edit_->setObjectName(Id(1014));
  total_edit_->setReadOnly(true);
  total_edit_->setText("0");
  total->addWidget(total_edit_);
  total->addWidget(new QLabel(QString::fromUtf8("ページ"), page));
  v->addLayout(total);
  _CButton* server = _CButton::Make(page, 1011, QString::fromUtf8("サーバ設定(&S)..."));
  v->addWidget(server);
  connect(server, &QPushButton::clicked, this, &_CPrtList::RunServerSettings);
  connect(up, &QPushButton::clicked, this, [this] { MoveSelectedJob(true); });
  connect(down, &QPushButton::clicked, this, [this] { MoveSelectedJob(false); });
  connect(del, &QPushButton::clicked, this, [this] { DeleteSelectedJob(); });
}

void _CPrtList::RefreshJobRows() {
  const JobList& jobs = frame_->jobs_;
  int selected = job_rows_->currentItem() ? job_rows_->indexOfTopLevelItem(job_rows_->currentItem()) : -1;
  job_rows_->clear();
  for (const auto& r : jobs.rows()) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(r.name), QString::number(r.pages)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    job_rows_->addTopLevelItem(item);
  }
  if (jobs.size() > 0) {
    if (selected < 0) selected = 0;
    job_rows_->setCurrentItem(job_rows_->topLevelItem(std::min(selected, jobs.size() - 1)));
  }
  total_edit_->setText(QString::number(frame_->doc_.GetAllPage()));
}

void _CPrtList::MoveSelectedJob(bool up) {
  JobList& jobs = frame_->jobs_;
  auto* item = job_rows_->currentItem();
  if (item == nullptr) return;
  const int r = job_rows_->indexOfTopLevelItem(item);
  const int other = up ? r - 1 : r + 1;
  if (other < 0 || other >= jobs.size()) return;
  const int first = jobs.FirstPage(r), count = jobs.row(r).pages;
  // The pages of row r move to where the other row's pages start (up) or to just after
  // them (down; the document lowers a later target by the count minus one).
  const int target = up ? jobs.FirstPage(other) : jobs.FirstPage(other) + jobs.row(other).pages + count - 1;
  if (count > 0 && frame_->view_->MoveDocumentPages(first, first + count - 1, target) != 1) return;
  jobs.Move(r, up);
  RefreshJobRows();
  job_rows_->setCurrentItem(job_rows_->topLevelItem(other));
  frame_->view_host_->SyncView();
  ShowJob(other);
}

void _CPrtList::DeleteSelectedJob() {
  JobList& jobs = frame_->jobs_;
  if (jobs.size() == 0) {
    job_rows_->setFocus();
    return;
  }
  if (frame_->options_.prompt->Show("選択したジョブを削除しますか？", "ジョブ編集", PromptIcon::kExclamation,
                                    PromptButtons::kYesNoDefaultNo) != PromptAnswer::kYes)
    return;
  auto* item = job_rows_->currentItem();
  if (item == nullptr) return;
  const int r = job_rows_->indexOfTopLevelItem(item);
  const int first = jobs.FirstPage(r), count = jobs.row(r).pages;
  if (count > 0 && !frame_->DeletePages(first, first + count - 1)) return;
  jobs.Remove(r);
  frame_->selected_page_ = -1;
  RefreshJobRows();
  frame_->view_host_->SyncView();
  if (jobs.size() > 0) {
    const int next = r < jobs.size() ? r : jobs.size() - 1;
    job_rows_->setCurrentItem(job_rows_->topLevelItem(next));
    ShowJob(next);
  }
}

int _CPrtList::selected_job_row() const {
  auto* item = job_rows_->currentItem();
  return item == nullptr ? -1 : job_rows_->indexOfTopLevelItem(item);
}

void _CPrtList::ShowJob(int row) {
  const JobList& jobs = frame_->jobs_;
  if (row < 0 || row >= jobs.size()) return;
  const int pps = std::max(1, frame_->layout_->choice().pages_per_sheet);
  job_list_busy_ = true;
  frame_->view_->ShowPage(jobs.FirstPage(row) / pps);
  QCoreApplication::processEvents();
  job_list_busy_ = false;
}

void _CPrtList::SetJobPos(int page) {
  if (job_list_busy_) return;
  std::vector<int> counts;
  for (const auto& r : frame_->jobs_.rows()) counts.push_back(r.pages);
  const int row = JobRowForPage(counts, page);
  if (row < 0) return;
  QTreeWidgetItem* item = job_rows_->topLevelItem(row);
  job_rows_->setCurrentItem(item);
  job_rows_->scrollToItem(item);
}

bool _CPrtList::eventFilter(QObject* watched, QEvent* event) {
  // Up / Page Up and Down / Page Down on the job list move the selection one row and show
  // that job.
  if (watched == job_rows_ && event->type() == QEvent::KeyPress) {
    const JobList& jobs = frame_->jobs_;
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Up || key == Qt::Key_PageUp) step = -1;
    if (key == Qt::Key_Down || key == Qt::Key_PageDown) step = 1;
    if (step != 0) {
      const int cur = selected_job_row();
      const int next = std::clamp(cur < 0 ? 0 : cur + step, 0, jobs.size() - 1);
      if (jobs.size() > 0) {
        job_rows_->setCurrentItem(job_rows_->topLevelItem(next));
        ShowJob(next);
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void _CPrtList::EnableJobEditButtons(bool on) {
  for (int id : {1006, 1007, 1008, 1009, 1012, 1084, 1083, 1011})
    if (auto* b = findChild<QPushButton*>(Id(id))) b->setEnabled(on);
}

bool _CPrtList::OpenSavedJob(const std::string& path) {
  CMainFrame& f = *frame_;
  const int before = f.doc_.GetAllPage();
  const std::string name = std::filesystem::path(path).stem().string();
  const bool ok = f.document_opened_ ? f.doc_.AddTempDoc(path, name, f.options_.prompt)
                                     : f.doc_.OnOpenDocument(path, name, f.options_.prompt);
  if (!ok) return false;
  f.document_opened_ = true;
  f.job_name_ = name;
  f.jobs_.Add(name, f.doc_.GetAllPage() - before);
  RefreshJobRows();
  f.view_host_->SyncView();
  return true;
}

bool _CPrtList::SaveJob(const std::string& path) {
  if (frame_->jobs_.size() == 0) return false;
  return frame_->WriteDocument(path);
}

void _CPrtList::RunImageSave() {
  if (frame_->jobs_.size() == 0) return;
  if (image_options_.empty()) image_options_ = "00000" + frame_->config_.app_path;
  _CImgSave d(&frame_->doc_, image_options_, frame_->options_.prompt, frame_);
  if (viewer::Prompter().RunDialog(&d) == QDialog::Accepted) image_options_ = d.options();
}

bool _CPrtList::SavePdf(const std::string& path) {
  if (ExportPages(frame_->doc_, kZvConvPdf, path).ok()) return true;
  frame_->options_.prompt->Show("画像ファイルの保存に失敗しました。", "画像ファイル保存", PromptIcon::kStop);
  return false;
}

void _CPrtList::RunPdfSave() {
  if (frame_->jobs_.size() == 0) return;
  QFileDialog d(frame_, QString(), QString::fromStdString(frame_->config_.app_path),
                QString::fromUtf8("PDFファイル(*.pdf)"));
  d.setAcceptMode(QFileDialog::AcceptSave);
  d.setDefaultSuffix("pdf");
  d.setOption(QFileDialog::DontUseNativeDialog);
  if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
  SavePdf(d.selectedFiles().front().toStdString());
}

void _CPrtList::RunServerSettings() {
  CMainFrame& f = *frame_;
  _CServerSet d(f.config_, QuotaState{}, f.options_.prompt, frame_);
  if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted) return;
  // Only OK makes the chosen server's list the client's own.
  if (auto bytes = fs::ReadFile(d.working_copy()); bytes.ok())
    (void)fs::WriteFileAtomic(f.config_.app_path + "/printers.lst", *bytes);
  f.config_.server_name = d.server_name();
  // With a server the duplicate check is the engine's; back to local printing it is the
  // user's again.
  f.copies_->SetDlgDuplication(f.config_.has_server() ? 0 : 1);
  f.LoadPrintersAsync();
}

}  // namespace zv::client::app
