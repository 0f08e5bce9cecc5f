// _CPrtList: the job list page of the settings panel (template 132). The print document is
// a run of print jobs; the page lists them (name and page count, in document order) with
// the total page count, moves and deletes jobs with their pages, keeps the job row of the
// page the preview shows selected, saves the document as a job file or appends a saved one,
// saves the pages as images or as one PDF file, and opens the server settings. The rows
// are the frame's job list; the page shows them and acts on the frame's document.
#pragma once

#include <QWidget>
#include <string>

class QLineEdit;
class QTreeWidget;

namespace zv::client::app {

class CMainFrame;

class _CPrtList : public QWidget {
  Q_OBJECT

 public:
  // Takes the frame whose document and jobs the page shows, and the parent.
  _CPrtList(CMainFrame* frame, QWidget* parent);

  // Shows the frame's job rows again, keeping the selected row (the first when none was, the
  // last when it went), and the document's page count as the total.
  void RefreshJobRows();
  // Job list commands (buttons 1006, 1007, 1008): act on the selected row. Deleting asks
  // "選択したジョブを削除しますか？" first and then selects the row at the same place (the
  // one before when the last went) and shows its first sheet.
  void MoveSelectedJob(bool up);
  void DeleteSelectedJob();
  // Selects the job row holding page `page` (from 0; the last row when none holds it), as
  // the preview's page changes. Nothing while the job list itself moves the preview.
  void SetJobPos(int page);
  // The selected job row, or -1.
  int selected_job_row() const;
  // Enables or disables the edit buttons (1006, 1007, 1008, 1009, 1012, 1084, 1083, 1011)
  // together: off during a run, so the rows a run removes are those it printed.
  void EnableJobEditButtons(bool on);

  // Job files (1084 open and append, 1083 save): through file dialogs, or directly. Opening
  // takes a path and appends its pages as one job named after the file; saving writes the
  // document to the path (nothing without jobs). Each gives whether it succeeded.
  bool OpenSavedJob(const std::string& path);
  bool SaveJob(const std::string& path);
  // Saving the pages (1009 as images through the image dialog, 1012 as PDF after a file
  // dialog); failures show "画像ファイルの保存に失敗しました。".
  void RunImageSave();
  void RunPdfSave();
  // Saves the pages as one PDF file at `path`; gives whether it was written.
  bool SavePdf(const std::string& path);
  // The image dialog's choices as last confirmed ("" before the first).
  const std::string& image_options() const { return image_options_; }
  // The server settings (1011): on OK the server named there is used and the printer list
  // read again.
  void RunServerSettings();

 protected:
  // Up / Page Up and Down / Page Down on the job list move the selection one row and show
  // that job.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shows the sheet of the row's first page; the preview's page notices meanwhile are the
  // job list's own and do not move the selection.
  void ShowJob(int row);

  CMainFrame* frame_;
  QTreeWidget* job_rows_ = nullptr;
  QLineEdit* total_edit_ = nullptr;
  bool job_list_busy_ = false;
  std::string image_options_;
};

}  // namespace zv::client::app
