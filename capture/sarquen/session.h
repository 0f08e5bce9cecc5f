// The capture session of one job and the work behind each export (private to the library).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "capture/sarquen/sarquen.h"
#include "jobdoc/image.h"
#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::capture {

// Error codes kept in the session.
inline constexpr int kErrorNone = 0;
inline constexpr int kErrorSlot1 = 3;
inline constexpr int kErrorSlot2 = 4;
inline constexpr int kErrorTooLarge = 6;
inline constexpr int kErrorBadInput = 7;

struct CaptureSession {
  win::DEVMODEA devmode{};
  std::string document_name;  // CP932
  jobdoc::PageFormatRecord format = jobdoc::DefaultPageFormatRecord();
  bool page_written = false;
  bool open = true;
  bool too_large = false;
  bool access_message = false;
  bool page_delivered = false;
  bool control_job = false;
  int nonempty_page_calls = 0;
  int fd = -1;
  int lock_fd = -1;  // holds the capture file's lock while the session lives
  std::string path;
  std::uint64_t file_length = 0;
  std::uint64_t write_position = 0;
  std::int32_t task_combinate = 1;
  std::int32_t ie55_frame_off = 0;
  std::uint32_t out_kind = 0;
  std::string notice;
  int converted_pages = 0;
  int error = kErrorNone;
  std::uint32_t status_window = 0;
  std::uint32_t status_value = 0;
};

ZvCaptureSession OpenSession(const char* document_name, const void* devmode);
int AddEmfPage(ZvCaptureSession id, const char* path);
int SetDibPage(ZvCaptureSession id, const char* path);
int SetEmfPages(ZvCaptureSession id, const char* path, std::uint32_t limit);
int OutEmfPage(const ZvOutEmfRecord* record);
int EndSession(ZvCaptureSession id);

// Takes a session and a comment record of one of its pages; acts on a control comment (slot
// set, overlay or restore through the resident program).
void HandleControlComment(CaptureSession& session, std::span<const std::uint8_t> record);

// The conversion run: takes the session; gives 0 on success, else non-zero with the
// session's error code set.
int RunConversions(CaptureSession& session);

// Gives the folder of the capture library, <prefix>/lib, where converter modules are looked
// for (and the client in <prefix>/bin beside it), without a trailing slash. When the exports
// are linked into the running program, the install's library folder beside its program
// folder.
std::string LibraryFolder();

// Takes a text from a settings block or a control comment; gives the local path when it is
// an absolute path without ".." parts, else InvalidArgument.
Result<std::string> SafeLocalPath(std::string_view text);

// Writes the notice file of the session (when it has one and OutKind is set) and sends the
// status window its message: lParam 0 for success, 2 for error 6, 3 otherwise.
void ReportOutcome(const CaptureSession& session, bool success);

}  // namespace zv::capture
