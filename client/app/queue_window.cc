#include "client/app/queue_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <thread>

#include "client/printer_commands.h"
#include "viewer/qt/prompter.h"

namespace zv::client::app {

void QueueJobsModel::SetJobs(const std::vector<spool::JobInfo>& jobs) {
  beginResetModel();
  rows_ = QueueRows(jobs);
  endResetModel();
}

int QueueJobsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int QueueJobsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kQueueColumnCount; }

QVariant QueueJobsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) || index.column() >= kQueueColumnCount)
    return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(rows_[index.row()][index.column()]);
  if (role == Qt::TextAlignmentRole && (index.column() == 3 || index.column() == 4))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant QueueJobsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= kQueueColumnCount) return {};
  return QString::fromUtf8(kQueueColumns[section]);
}

CQueueWindow::CQueueWindow(std::string printer, JobReader reader, QWidget* parent)
    : QDialog(parent), printer_(std::move(printer)), reader_(std::move(reader)) {
  setObjectName("queue");
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(viewer::ViewerFont());
  setWindowTitle(QString::fromStdString(QueueWindowTitle(printer_)));
  if (!reader_) {
    reader_ = [](const std::string& name) -> Result<std::vector<spool::JobInfo>> {
      auto spooler = spool::OpenSpooler();
      if (!spooler.ok()) return spooler.status();
      return (*spooler)->EnumJobs(name);
    };
  }
  auto* v = new QVBoxLayout(this);
  model_ = new QueueJobsModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("jobs");
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  const QFontMetrics fm(table_->font());
  // Each column as wide as its common content: a document name, a state, an account, a
  // page count, a size and a time.
  const char* const samples[kQueueColumnCount] = {"ドキュメント名の見本.pdf", "オフライン", "account.name",
                                                  "ページ数", "99999 KB", "8888/88/88 88:88:88"};
  for (int i = 0; i < kQueueColumnCount; ++i) table_->setColumnWidth(i, fm.horizontalAdvance(QString::fromUtf8(samples[i])) + 20);
  v->addWidget(table_, 1);
  auto* row = new QHBoxLayout();
  count_ = new QLabel(this);
  count_->setObjectName("count");
  auto* refresh = new QPushButton(QString::fromUtf8("最新の情報に更新(&U)"), this);
  refresh->setObjectName("refresh");
  auto* close = new QPushButton(QString::fromUtf8("閉じる"), this);
  close->setObjectName("close");
  row->addWidget(count_, 1);
  row->addWidget(refresh);
  row->addWidget(close);
  v->addLayout(row);
  connect(refresh, &QPushButton::clicked, this, &CQueueWindow::Refresh);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  timer_.setInterval(kRefreshMs);
  connect(&timer_, &QTimer::timeout, this, &CQueueWindow::Refresh);
  timer_.start();
  int width = 2 * table_->frameWidth() + 24;
  for (int i = 0; i < kQueueColumnCount; ++i) width += table_->columnWidth(i);
  resize(width, 300);
  Refresh();
}

CQueueWindow::~CQueueWindow() { *alive_ = false; }

QString CQueueWindow::count_text() const { return count_->text(); }

void CQueueWindow::Refresh() {
  if (reading_) {
    again_ = true;
    return;
  }
  reading_ = true;
  // The spooler may be slow (a network server): the read runs off the window thread.
  std::thread([this, alive = alive_, reader = reader_, printer = printer_] {
    Result<std::vector<spool::JobInfo>> jobs = reader(printer);
    QMetaObject::invokeMethod(
        qApp,
        [this, alive, jobs = std::move(jobs)]() mutable {
          if (*alive) Done(std::move(jobs));
        },
        Qt::QueuedConnection);
  }).detach();
}

void CQueueWindow::Done(Result<std::vector<spool::JobInfo>> jobs) {
  reading_ = false;
  if (jobs.ok()) {
    model_->SetJobs(*jobs);
    count_->setText(QString::fromStdString(QueueCountText(jobs->size())));
  } else {
    model_->SetJobs({});
    count_->setText(QString::fromStdString(QueueErrorText(printer_, jobs.status())));
  }
  emit refreshed();
  if (std::exchange(again_, false)) Refresh();
}

}  // namespace zv::client::app
