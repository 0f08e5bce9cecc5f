// The print request that a client places in a request slot: an INI-style text with the
// section "[RequestInfo]" and 24 keys, read into CRequestInfo, checked for its required
// items and reported as text for the event log. Used by the engine and the client.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::engine {

// One job of a request: its name and its page count.
struct RequestJob {
  std::string name;
  int32_t pages = 0;
};

// Longest account and machine names accepted from a request (bytes), and the longest job
// file name; the answer file names built from them stay below the file-name limit.
inline constexpr size_t kMaxRequestName = 100;
inline constexpr size_t kMaxJobFileName = 200;
// Largest request file read; a bigger one is refused as unreadable.
inline constexpr size_t kMaxRequestFileBytes = 1 << 20;

class CRequestInfo {
 public:
  std::string AccountName;
  std::string MachineName;
  std::string JobFileName;
  std::vector<RequestJob> Jobs;
  int32_t Orientation = 1;
  int32_t ThumbnailCount = 0;
  int32_t Separator = 0;
  int32_t OffsetX = 0;
  int32_t OffsetY = 0;
  int32_t OffsetSize = 1000;
  std::string DeviceName;
  int32_t PaperSize = 0;
  int32_t AllPages = 1;
  int32_t FirstPage = 0;
  int32_t LastPage = 0;
  int32_t Copies = 1;
  bool Collate = false;
  std::string H_Left, H_Center, H_Right, F_Left, F_Center, F_Right;
  // Header/footer font and page rotations. 0 and empty mean "not given": the print job
  // then uses its own default font and no rotation.
  int32_t FontPoint = 0;
  std::string LogFont;
  int32_t PrintPageMode = 1;
  std::string Rotate;
  // The request's key ("RequestID", share::IsRequestId), echoed in its answer; empty for a
  // request without one (or with a value that is no key).
  std::string RequestID;
  // The first numeric key (as written) whose value is not a whole number, and that value
  // as a message shows it (cut to 16 bytes, bytes outside printable ASCII as "?");
  // empty when every number was whole. Such a request is invalid.
  std::string BadNumberKey, BadNumberValue;

  // Sets every field to its default, FontPoint, LogFont and Rotate included, so that
  // nothing of one request carries into the next.
  void Init();

  // Reads the text of a request file into the object (after Init). Gives false when the
  // text holds no "[RequestInfo]" line. A UTF-8 byte-order mark is skipped.
  bool ParseRequestText(std::string_view text);

  // Reads the request file at `path`: up to `attempts` tries to open it, `retry_delay`
  // apart (after each failed try, the last too), then ParseRequestText. Gives NotFound or
  // IOError when it cannot be read, InvalidArgument when it is bigger than
  // kMaxRequestFileBytes or holds no "[RequestInfo]" section. `owner_uid`, when given,
  // receives the owner of the very file whose text was read, `links` its number of names.
  Status ReadTopRequest(const std::string& path, int attempts = 5,
                        std::chrono::milliseconds retry_delay = std::chrono::milliseconds(2000),
                        uint32_t* owner_uid = nullptr, uint32_t* links = nullptr);

  // Empties `messages`, appends at most one message naming the first missing or unusable
  // item and gives true when it appended none. Account, machine and job file must be plain
  // names (paths::IsPlainFileName): they become parts of file names.
  bool ValidateRequest(std::vector<std::string>* messages) const;

  // Appends a readable copy of the first 14 keys of the request to `lines`.
  void FormatRequestReport(std::vector<std::string>* lines) const;

  // Gives the total of the jobs' page counts (64-bit: it cannot overflow).
  int64_t TotalJobPages() const;
};

}  // namespace zv::engine
