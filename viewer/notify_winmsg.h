// Progress notices as platform window messages: a hidden notification window that stands
// for the document's own queue (notices posted to it reach CViewerDoc::HandleNotice when the
// owning thread pumps its messages), and a view adapter that sends the notices to a window
// of the page view as messages 0x405, 0x406 and 0x40A (lParam 0).
#pragma once

#include <memory>

#include "platform/base/status.h"
#include "platform/winmsg/winmsg.h"
#include "viewer/notify.h"

namespace zv::viewer {

class CViewerDoc;

// The document's hidden notification window: a "STATIC" window carrying the property
// "instance->pdata" (the document's address). Its procedure hands 0x40A to HandleNotice.
class NotificationWindow : public NoticeQueue {
 public:
  // Takes the document; creates the window on the calling thread and makes it the
  // document's notification queue. Gives IOError / InvalidArgument from the window layer.
  static Result<std::unique_ptr<NotificationWindow>> Create(CViewerDoc* doc);
  // Detaches from the document, removes the property and destroys the window.
  ~NotificationWindow() override;

  // Takes a notice; posts it to the window (handled when the thread pumps its messages).
  void Post(std::uint32_t notice, std::uint64_t wparam) override;
  winmsg::HWND hwnd() const { return window_.hwnd(); }

 private:
  NotificationWindow(CViewerDoc* doc) : doc_(doc) {}
  CViewerDoc* doc_;
  winmsg::Window window_;
};

// A view that is a platform window: each notice is sent to it as a window message.
class WindowView : public DocumentView {
 public:
  explicit WindowView(winmsg::HWND hwnd) : hwnd_(hwnd) {}
  // Takes a notice; sends it to the window (wParam the parameter, lParam 0).
  void OnDocumentNotice(std::uint32_t notice, std::uint64_t wparam) override;
  winmsg::HWND hwnd() const { return hwnd_; }

 private:
  winmsg::HWND hwnd_;
};

}  // namespace zv::viewer
