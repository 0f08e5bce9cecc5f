#include "viewer/view/doc_info.h"

#include <sys/stat.h>

#include <cstdio>

#include "jobdoc/image.h"
#include "platform/codepage/codepage.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer::view {

namespace {

// Gives the name of a paper code the list names, or null.
const char* PaperName(int code) {
  switch (code) {
    case 1:
      return "レター";
    case 4:
      return "レジャー";
    case 5:
      return "リーガル";
    case 8:
      return "Ａ３";
    case 9:
    case 10:
      return "Ａ４";
    case 11:
      return "Ａ５";
    case 12:
      return "Ｂ４";
    case 13:
      return "Ｂ５";
    default:
      return nullptr;
  }
}

constexpr std::uint16_t kRunBits = jobdoc::kAttrLandscape | jobdoc::kAttrRotated;

bool SamePaper(const PaperOfPage& a, const PaperOfPage& b) {
  const int ca = a.attributes & jobdoc::kAttrPaperMask, cb = b.attributes & jobdoc::kAttrPaperMask;
  if (ca != cb || (a.attributes & kRunBits) != (b.attributes & kRunBits)) return false;
  if (PaperName(ca)) return true;
  return std::int64_t(a.width) * a.length == std::int64_t(b.width) * b.length;
}

std::string Format(const char* fmt, auto... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

std::string PaperListText(const std::vector<PaperOfPage>& pages) {
  std::string out;
  std::size_t i = 0;
  while (i < pages.size()) {
    std::size_t j = i;
    while (j + 1 < pages.size() && SamePaper(pages[i], pages[j + 1])) ++j;
    const PaperOfPage& p = pages[i];
    const int code = p.attributes & jobdoc::kAttrPaperMask;
    if (const char* name = PaperName(code)) {
      out += name;
      out += (p.attributes & jobdoc::kAttrLandscape) ? "横" : "縦";
    } else {
      out += Format("横:%dmm 縦%dmm ", int(p.width / 10), int(p.length / 10));
    }
    if (p.attributes & jobdoc::kAttrRotated) out += " 縦横変換";
    out += Format(" %d", int(i + 1));
    const bool last_run = j + 1 >= pages.size();
    if (j > i) {
      out += Format("～%dページ", int(j + 1));
    } else {
      out += "ページ";
    }
    if (!last_run) out += "\r\n";
    i = j + 1;
  }
  return out;
}

std::vector<PaperOfPage> PapersOf(CViewerDocBase& doc) {
  std::vector<PaperOfPage> out;
  for (int i = 0; i < doc.page_count(); ++i) {
    if (const ViewerPage* p = doc.page(i)) out.push_back({p->attributes(), p->width(), p->length()});
  }
  return out;
}

std::string AttachmentListText(const std::vector<AttachmentInfo>& attachments, bool driven) {
  if (!driven) return "ﾌﾟﾚﾋﾞｭｰの場合、添付ﾌｧｲﾙは扱いません";
  if (attachments.empty()) return "なし";
  std::string out;
  for (const AttachmentInfo& a : attachments) {
    if (!out.empty()) out += "\r\n";
    // The name is padded to 15 bytes as stored, then shown as text.
    std::string name = a.name;
    if (name.size() < 15) name.append(15 - name.size(), ' ');
    std::tm tm{};
    const std::time_t t = a.time;
    localtime_r(&t, &tm);
    out += StoredText(name);
    out += Format("\t%lluB\t%02d/%02d/%02d %02d:%02d", static_cast<unsigned long long>(a.size), tm.tm_year % 100,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
  }
  return out;
}

std::vector<AttachmentInfo> AttachmentsOf(const CViewerDocBase& doc) {
  std::vector<AttachmentInfo> out;
  for (const AttachmentFile& a : doc.attachments()) {
    AttachmentInfo info;
    info.name = a.name;
    struct stat st;
    if (::stat(a.path.c_str(), &st) == 0) {
      info.size = std::uint64_t(st.st_size);
      info.time = st.st_mtime;
    }
    out.push_back(std::move(info));
  }
  return out;
}

std::string PageLabel(int current_page) { return Format("%d頁", current_page + 1); }
std::string StatusText(int current_page) { return PageLabel(current_page) + "表示中     "; }
std::string PageTagText(int page) { return Format("-%d-", page + 1); }
std::string ScrollTipText(int current_page) { return Format("%d ページ", current_page + 1); }

std::string ZoomLabel(int mode, int percent) {
  switch (mode) {
    case 0:
      return "全体";
    case 1:
      return "全幅";
    case 2:
      return "最大";
    default:
      return Format("%d%%", percent);
  }
}

std::string ZoomSliderTip(int mode, int percent) {
  if (mode == 0 || mode == 1) return Format("任意倍率変更(%d%%相当)", percent);
  return "任意倍率変更";
}

std::string StoredText(const std::string& cp932) {
  auto r = codepage::Cp932ToUtf8(cp932, codepage::OnError::kSubstitute);
  return r.ok() ? *r : cp932;
}

}  // namespace zv::viewer::view
