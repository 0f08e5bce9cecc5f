// The request file the client hands to the server (or reads back for a local run): the
// section "[RequestInfo]" and 24 keys, each line ended by a line feed alone. Every value is
// cleaned so that it stays on its line. A request for a server carries its key: the first
// key "RequestID" and the closing line "RequestEnd" (share::SealRequestText).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::client {

// The job name written for a job without a name.
inline constexpr char kNoJobName[] = "\"ジョブ名がありません\"";

// Takes a value; gives it with CR, LF and every other control character (below 0x20 and
// 0x7F) replaced by a blank.
std::string CleanRequestValue(std::string_view value);
// Takes a job name; gives it cleaned, with "\" (the job separator) replaced by "￥" and an
// empty name replaced by kNoJobName.
std::string CleanJobName(std::string_view name);

// One job of the job list.
struct RequestJobEntry {
  std::string name;
  int pages = 0;
};

// What one request carries: the frame's names and the settings panel's values.
struct RequestOrder {
  std::string account, machine, job_file;
  std::string request_id;  // the request's key ("": none, as for a local run)
  std::vector<RequestJobEntry> jobs;
  int orientation = 1;  // 1 portrait, 2 landscape
  int thumbnail = 0;    // 0..3: 1, 2, 4, 8 pages per sheet
  int separator = 0;    // 0..3
  int offset_left = 0;  // 0.1 mm
  int offset_top = 0;   // 0.1 mm
  int scale = 1000;     // 0.1 percent
  std::string device;
  int paper = 0;
  int first_page = 0;  // 0: all pages
  int last_page = 0;
  int copies = 1;
  bool collate = false;
  std::string h_left, h_center, h_right, f_left, f_center, f_right;
  int font_point = 0;
  win::LOGFONTA font{};  // face name in CP932 as the record holds it
  int page_mode = 1;
  // The rotation value of every page of the document (index 0 = page 1).
  std::vector<uint16_t> rotations;
};

// Gives the "PrintPages" text: "0" for all pages, else "first,last".
std::string PrintPagesText(const RequestOrder& order);
// Gives the "Rotate" text: one value per page of the printed range joined by "," (no
// trailing comma), the first page of the range always 0; pages beyond the rotations known
// count as 0; an empty range gives "".
std::string RotateText(const RequestOrder& order);
// Gives the "LogFont" text: the thirteen numbers and the face name (as UTF-8).
std::string LogFontText(const win::LOGFONTA& font);

// Gives the request file's whole text (25 lines, each ended by "\n"; with a request key
// sealed with it: 27 lines).
std::string ComposeRequestText(const RequestOrder& order);

// Writes the request text anew (never appended to) to `path` through a temporary name and a
// rename. Gives the failure.
Status WriteRequestInfo(const std::string& path, const RequestOrder& order);

}  // namespace zv::client
