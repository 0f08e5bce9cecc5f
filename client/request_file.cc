#include "client/request_file.h"

#include <cstring>

#include "engine/hevrasto/share_files.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"

namespace zv::client {

std::string CleanRequestValue(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return out;
}

std::string CleanJobName(std::string_view name) {
  std::string clean = CleanRequestValue(name);
  std::string out;
  for (char c : clean) {
    if (c == '\\') {
      out += "￥";
    } else {
      out += c;
    }
  }
  if (out.find_first_not_of(' ') == std::string::npos) return kNoJobName;
  return out;
}

std::string PrintPagesText(const RequestOrder& o) {
  if (o.first_page == 0) return "0";
  return std::to_string(o.first_page) + "," + std::to_string(o.last_page);
}

std::string RotateText(const RequestOrder& o) {
  int total = 0;
  for (const auto& j : o.jobs) total += j.pages;
  int first = o.first_page, last = o.last_page;
  if (first == 0) {
    first = 1;
    last = total;
  }
  std::string out;
  for (int p = first; p <= last; ++p) {
    int value = 0;
    if (p != first && p >= 1 && p <= static_cast<int>(o.rotations.size())) value = o.rotations[p - 1];
    if (p != first) out += ",";
    out += std::to_string(value);
  }
  return out;
}

std::string LogFontText(const win::LOGFONTA& f) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,", static_cast<int>(f.lfHeight),
                static_cast<int>(f.lfWidth), static_cast<int>(f.lfEscapement), static_cast<int>(f.lfOrientation),
                static_cast<int>(f.lfWeight), f.lfItalic, f.lfUnderline, f.lfStrikeOut, f.lfCharSet, f.lfOutPrecision,
                f.lfClipPrecision, f.lfQuality, f.lfPitchAndFamily);
  std::string face(f.lfFaceName, strnlen(f.lfFaceName, sizeof f.lfFaceName));
  auto utf8 = codepage::Cp932ToUtf8(face, codepage::OnError::kSubstitute);
  return buf + (utf8.ok() ? *utf8 : std::string());
}

std::string ComposeRequestText(const RequestOrder& o) {
  std::string names, pages;
  for (size_t i = 0; i < o.jobs.size(); ++i) {
    names += (i ? "\\" : "") + CleanJobName(o.jobs[i].name);
    pages += (i ? "," : "") + std::to_string(o.jobs[i].pages);
  }
  auto n = [](int v) { return std::to_string(v); };
  const std::pair<const char*, std::string> lines[] = {
      {"AccountName", o.account},
      {"MachineName", o.machine},
      {"JobFileName", o.job_file},
      {"JobName", names},
      {"JobPages", pages},
      {"Orientation", n(o.orientation)},
      {"ThumbnailCount", n(o.thumbnail)},
      {"Separator", n(o.separator)},
      {"OffsetSize", n(o.offset_left) + "," + n(o.offset_top) + "," + n(o.scale)},
      {"DeviceName", o.device},
      {"PaperSize", n(o.paper)},
      {"PrintPages", PrintPagesText(o)},
      {"Copies", n(o.copies)},
      {"Collate", o.collate ? "1" : "0"},
      {"H_Left", o.h_left},
      {"H_Center", o.h_center},
      {"H_Right", o.h_right},
      {"F_Left", o.f_left},
      {"F_Center", o.f_center},
      {"F_Right", o.f_right},
      {"FontPoint", n(o.font_point)},
      {"LogFont", LogFontText(o.font)},
      {"PrintPageMode", n(o.page_mode)},
      {"Rotate", RotateText(o)},
  };
  std::string text = "[RequestInfo]\n";
  for (const auto& [key, value] : lines) text += std::string(key) + "=" + CleanRequestValue(value) + "\n";
  if (share::IsRequestId(o.request_id)) return share::SealRequestText(text, o.request_id);
  return text;
}

Status WriteRequestInfo(const std::string& path, const RequestOrder& order) {
  return fs::WriteFileAtomic(path, ComposeRequestText(order));
}

}  // namespace zv::client
