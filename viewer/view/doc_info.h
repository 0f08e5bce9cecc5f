// Texts of the viewer's windows built from a document: the paper list and attachment list
// of the document-information dialog, the page label and status text of the preview frame,
// the scroll tooltip and the zoom labels. Pure text building, no windows.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zv::viewer {
class CViewerDocBase;
}

namespace zv::viewer::view {

// One page as the paper list sees it: attribute word and paper size in 0.1 mm.
struct PaperOfPage {
  std::uint16_t attributes = 0;
  std::int32_t width = 0, length = 0;
};

// Takes the pages; gives the paper list: one line per run of consecutive pages with the
// same paper (code, orientation and rotation bits; sizes of unnamed papers compared by
// width x height), "\r\n" between lines. Empty without pages.
std::string PaperListText(const std::vector<PaperOfPage>& pages);

// Gives the pages of a document as the paper list sees them.
std::vector<PaperOfPage> PapersOf(CViewerDocBase& doc);

// One attachment line's values: stored name (CP932 bytes), size in bytes, time stamp.
struct AttachmentInfo {
  std::string name;
  std::uint64_t size = 0;
  std::time_t time = 0;
};

// Takes the attachments and whether the viewer is driven through its exports; gives the
// attachment field: one "%-15s\t%dB\t%02d/%02d/%02d %02d:%02d" line per attachment in local
// time joined by "\r\n", "なし" without attachments, or the preview's notice when the
// viewer is not driven through its exports.
std::string AttachmentListText(const std::vector<AttachmentInfo>& attachments, bool driven);

// Gives the attachments of a document (size and time from their files).
std::vector<AttachmentInfo> AttachmentsOf(const CViewerDocBase& doc);

// Gives "%d頁" with the current page + 1.
std::string PageLabel(int current_page);
// Gives the frame's status text: the page label, "表示中" and five spaces.
std::string StatusText(int current_page);
// Takes a page (from 0); gives its page tag "-%d-" with page + 1.
std::string PageTagText(int page);
// Gives the scroll tooltip "%d ページ" with page + 1.
std::string ScrollTipText(int current_page);
// Gives the zoom button's label: "全体", "全幅", "最大" or "%d%%".
std::string ZoomLabel(int mode, int percent);
// Gives the slider's tooltip: with the percentage for whole page and page width.
std::string ZoomSliderTip(int mode, int percent);
// Gives the CP932 name of a stored text as UTF-8 (bytes that do not convert are replaced).
std::string StoredText(const std::string& cp932);

}  // namespace zv::viewer::view
