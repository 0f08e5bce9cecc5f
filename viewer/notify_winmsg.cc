#include "viewer/notify_winmsg.h"

#include <memory>

#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {
constexpr const char* kDocProperty = "instance->pdata";
}

Result<std::unique_ptr<NotificationWindow>> NotificationWindow::Create(CViewerDoc* doc) {
  if (!doc) return Status::InvalidArgument("no document for the notification window");
  std::unique_ptr<NotificationWindow> nw(new NotificationWindow(doc));
  NotificationWindow* self = nw.get();
  auto window = winmsg::Window::Create("STATIC", "",
                                       [self](winmsg::HWND h, winmsg::UINT msg, winmsg::WPARAM w, winmsg::LPARAM l) {
                                         if (msg == kNoticeProgress && self->doc_) {
                                           self->doc_->HandleNotice(msg, w);
                                           return winmsg::LRESULT{0};
                                         }
                                         return winmsg::DefWindowProc(h, msg, w, l);
                                       });
  if (!window.ok()) return window.status();
  nw->window_ = std::move(*window);
  winmsg::SetProp(nw->window_.hwnd(), kDocProperty, static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(doc)));
  doc->SetNotificationQueue(self);
  return nw;
}

NotificationWindow::~NotificationWindow() {
  if (doc_ && doc_->notification_queue() == this) doc_->SetNotificationQueue(nullptr);
  doc_ = nullptr;
  if (window_.hwnd() != 0) winmsg::RemoveProp(window_.hwnd(), kDocProperty);
  window_.Reset();
}

void NotificationWindow::Post(std::uint32_t notice, std::uint64_t wparam) {
  winmsg::PostMessage(window_.hwnd(), notice, wparam, 0);
}

void WindowView::OnDocumentNotice(std::uint32_t notice, std::uint64_t wparam) {
  winmsg::SendMessage(hwnd_, notice, wparam, 0);
}

}  // namespace zv::viewer
