// COstraneView: the client's view in the middle of the main window. It hosts the document
// viewer's page view (CViewerView) over the client document: it makes the page view, hands
// it the print document, lets it take over its own widget (whole page, no page pane) and
// brings it up to date when the document changes under it. The page-edit commands and the
// right-click menu over the pages are the frame's.
#pragma once

#include <QWidget>

namespace zv::viewer {
class CViewerView;
}

namespace zv::client {
class COstraneDoc;
}

namespace zv::client::app {

// On a first start the preview gets kFirstPreviewWidth beside the settings panel (its
// minimum is kPreviewMinimumWidth): a sheet of two A4 pages, each readable.
inline constexpr int kFirstPreviewWidth = 660, kPreviewMinimumWidth = 120;

class COstraneView : public QWidget {
  Q_OBJECT

 public:
  // Takes the client document (which must outlive the page view's use of it, see
  // DetachDocument) and the parent; makes the page view over its print document.
  COstraneView(COstraneDoc* doc, QWidget* parent);
  // Deletes the page view while this widget, its host, still stands.
  ~COstraneView() override;

  // Gives the hosted page view.
  viewer::CViewerView* page_view() const { return view_; }
  // The page view forgets the print document (before the document goes).
  void DetachDocument();
  // The document changed under the view (a job opened or appended, pages inserted, moved or
  // deleted): the page view takes the page count again and redraws.
  void SyncView();

 private:
  COstraneDoc* doc_;
  viewer::CViewerView* view_ = nullptr;
};

}  // namespace zv::client::app
