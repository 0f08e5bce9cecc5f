// The viewer's own windows over a document file: the preview frame (a resizable dialog
// with a button bar, a status text and a CViewerView below the bar) and the page-flip
// window (full screen, one page at a time). Each loads its document from a file it maps
// read-only, owns the CViewerDoc and deletes it when it closes.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/surfaces.h"
#include "viewer/view/mapped_file.h"
#include "viewer/view/page_worker.h"

class QLabel;
class QTimer;

namespace zv::viewer {

class CViewerDoc;
class CViewerView;
class CViewerToolButton;

class CViewerPreviewFrame : public QDialog {
 public:
  // Takes the document file's path (null: nothing to show) and the parent; creates the
  // document.
  explicit CViewerPreviewFrame(const char* path, QWidget* parent = nullptr);
  // Deletes the view before the document, then unmaps the file.
  ~CViewerPreviewFrame() override;

  // Maps and loads the file, creates the view and the buttons and places the window.
  // Gives false (nothing shown) when the file cannot be mapped or does not load.
  bool Initialise();
  // Takes a command id of the frame's table; carries it out.
  void OnCommand(int id);

  CViewerView* view() const { return view_; }
  CViewerDoc* document() const { return doc_.get(); }
  QWidget* host() const { return host_; }
  QString status_text() const;
  CViewerToolButton* button(int id) const;
  const std::vector<CViewerToolButton*>& buttons() const { return buttons_; }
  bool full_screen_placement() const { return full_screen_; }
  // The window sizes the closing went through (ten steps from full screen, none else).
  const std::vector<QRect>& closing_steps() const { return closing_steps_; }
  // Builds the frame's context menu as it would show now (owned by the caller).
  class QMenu* BuildContextMenu();

  void accept() override;  // Enter is ignored
  void reject() override;  // closes, shrinking first from full screen

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnHostMessage(int msg);
  void UpdateStatus();
  void ButtonClicked(int id);

  std::string path_;
  bool has_path_;
  std::unique_ptr<CViewerDoc> doc_;
  CViewerView* view_ = nullptr;
  QWidget* host_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<CViewerToolButton*> buttons_;
  view::MappedFile file_;
  bool full_screen_ = false;
  std::vector<QRect> closing_steps_;
};

// The page-flip window: black, full screen, one page fitted; left half goes back, right
// half forward; Home, End, Page Up and Page Down; menu 138 on the right button.
class CViewerFlipDialog : public QDialog {
 public:
  explicit CViewerFlipDialog(const char* path, QWidget* parent = nullptr);
  ~CViewerFlipDialog() override;
  // Maps and loads the file; the current page starts at the last one. Gives false when
  // the file cannot be mapped or does not load.
  bool Initialise();
  int current_page() const { return current_; }
  int page_count() const;
  // Takes a page; shows it (clamped to the pages).
  void GoTo(int page);
  // Waits until the current page is drawn (tests).
  void WaitForPage();
  const std::vector<QRect>& closing_steps() const { return closing_steps_; }
  class QMenu* BuildContextMenu();

  void accept() override;
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRect PageRect() const;
  void Request();
  void UpdateControls();
  void Clicked(QPoint p);

  std::string path_;
  bool has_path_;
  std::unique_ptr<CViewerDoc> doc_;
  view::MappedFile file_;
  int current_ = 0;
  int resolution_ = 96;
  std::unique_ptr<view::PageWorker> worker_;
  std::unique_ptr<gdi::ScreenSurface> image_;
  int image_page_ = -1;
  QSize image_size_;
  class QPushButton* previous_ = nullptr;
  class QPushButton* next_ = nullptr;
  class QPushButton* close_ = nullptr;
  std::vector<QRect> closing_steps_;
};

// Takes a widget; shrinks it ten times by a twentieth of its starting size on every side
// (the closing of a full-screen window). Gives the sizes it went through.
std::vector<QRect> ShrinkAway(QWidget* window);

}  // namespace zv::viewer
