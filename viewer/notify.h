// Progress notices between a print document and the views attached to it, as a callback
// interface so the document needs no window system. The notice numbers are those of the
// window messages the views of the client understand; platform/winmsg adapters
// (notify_winmsg.h) turn the callbacks into window messages.
#pragma once

#include <cstdint>

namespace zv::viewer {

inline constexpr std::uint32_t kNoticeReset = 0x405;     // the document is reloaded / view leaves
inline constexpr std::uint32_t kNoticeReady = 0x406;     // the pages the view waits for are there
inline constexpr std::uint32_t kNoticeProgress = 0x40A;  // wparam pages loaded, 0 = finished

// A view attached to a document: receives the notices sent to it, at once.
class DocumentView {
 public:
  virtual ~DocumentView() = default;
  // Takes the notice number and its parameter.
  virtual void OnDocumentNotice(std::uint32_t notice, std::uint64_t wparam) = 0;
};

// Where a document posts its progress notices for later delivery to itself (the hidden
// notification window). An implementation queues the notice and later hands it to the
// document's HandleNotice on the document's thread; one without a queue delivers at once.
class NoticeQueue {
 public:
  virtual ~NoticeQueue() = default;
  // Takes the notice number and its parameter; queues it.
  virtual void Post(std::uint32_t notice, std::uint64_t wparam) = 0;
};

}  // namespace zv::viewer
