// COstraneView: the client's view that hosts the viewer's page view over the document.
#include "client/app/ostrane_view.h"

#include "client/client_doc.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {

COstraneView::COstraneView(COstraneDoc* doc, QWidget* parent) : QWidget(parent), doc_(doc) {
  setObjectName("view");
  setMinimumSize(kPreviewMinimumWidth, 120);
  view_ = new viewer::CViewerView();
  view_->setParent(this);
  view_->SetDocument(&doc_->viewer());
  view_->AttachWindow(this, viewer::view::kWholePage, 0);
}

COstraneView::~COstraneView() { delete view_; }

void COstraneView::DetachDocument() { view_->SetDocument(nullptr); }

void COstraneView::SyncView() {
  // The document changed under the view (a job opened or appended, pages inserted, moved or
  // deleted): the view takes the page count again and redraws.
  if (view_->GetPageCount() != doc_->GetAllPage()) {
    view_->OnDocumentNotice(viewer::kNoticeProgress, 0);
    view_->OnDocumentNotice(viewer::kNoticeReady, 0);
  }
  view_->RefreshPages();
}

}  // namespace zv::client::app
