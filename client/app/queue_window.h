// The client's own print-queue window, for machines without the desktop's printer tool: a
// table of the queue's jobs (document, state, owner, pages, size, time), its count line, a
// refresh button and a refresh every few seconds. The jobs are read on a worker thread
// through the spooler (with CUPS: an IPP Get-Jobs request); the table is a thin view over
// QueueJobsModel.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/spool/spool.h"

class QLabel;
class QTableView;

namespace zv::client::app {

// The jobs of one queue as the table shows them: the rows' texts (QueueRows) under the
// Japanese column titles.
class QueueJobsModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  // Takes the jobs; replaces the rows.
  void SetJobs(const std::vector<spool::JobInfo>& jobs);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<std::vector<std::string>> rows_;
};

class CQueueWindow : public QDialog {
  Q_OBJECT

 public:
  // Reads a queue's jobs (called on a worker thread).
  using JobReader = std::function<Result<std::vector<spool::JobInfo>>(const std::string& printer)>;
  inline static constexpr int kRefreshMs = 3000;
  // Takes the printer, the reader (empty: the spooler's EnumJobs) and the parent; reads the
  // queue at once and again every kRefreshMs while shown. The window deletes itself when
  // closed.
  CQueueWindow(std::string printer, JobReader reader, QWidget* parent = nullptr);
  ~CQueueWindow() override;
  // Reads the queue again (a read under way is followed by one more).
  void Refresh();
  const std::string& printer() const { return printer_; }
  QueueJobsModel* model() const { return model_; }
  QString count_text() const;

 signals:
  void refreshed();

 private:
  void Done(Result<std::vector<spool::JobInfo>> jobs);

  std::string printer_;
  JobReader reader_;
  QueueJobsModel* model_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* count_ = nullptr;
  QTimer timer_;
  bool reading_ = false, again_ = false;
  // Shared with the worker, which may outlive the window: it tells whether to post back.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::client::app
