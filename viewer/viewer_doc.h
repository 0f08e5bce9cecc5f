// CViewerDoc: the in-memory print document of the viewer library. It holds the pages of a
// document image as page objects, the document's name and texts, its attachments (written
// to files in the document's own temporary folder), the header and footer texts and font
// that sheets print, the paper record and print offsets the page view sets, and the views
// that follow its loading progress. Pages are drawn by RenderPage (one page fitted into a
// rectangle) and DrawSheetPages (a sheet of one or more pages with frames, separators,
// header and footer).
//
// Operations keep the fixed order of the document's operation table: CViewerDocBase holds
// the first 22, CViewerDoc adds the views and LoadFromBuffer. A page index is a signed
// 16-bit value; an index outside the pages is refused (result 0 or nothing done), never
// used.
//
// Pages, paper, offsets and header texts change only under the drawing lock, so a page
// worker that draws them on another thread (under the same lock) never sees them half
// changed; notices to the views are sent after the lock is released.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/filetime.h"
#include "platform/wintypes/wintypes.h"
#include "viewer/notify.h"
#include "viewer/page.h"
#include "viewer/playback/state.h"
#include "viewer/sheet_layout.h"

namespace zv::gdi {
class DeviceContext;
}

namespace zv::viewer {

// One attachment: its name as stored (CP932 bytes) and the file that holds its bytes.
struct AttachmentFile {
  std::string name;
  std::string path;
};

// The paper the page view shows sheets on. Code -1: every page keeps its own paper.
struct PaperRecord {
  std::int32_t code = -1;
  std::string name;
  std::int32_t width = 0, height = 0;            // 0.1 mm
  std::vector<PaperMargins> margins;             // the first record is the default
  std::int64_t unit_width = 0, unit_height = 0;  // page units (x 28800 / 254)
};

// The header and footer texts of one kind.
struct HeaderFooterTexts {
  std::string left, centre, right;
};

// What SaveAttachments did.
enum class SaveOutcome { kAllSaved, kStopped, kNothingToSave };

// The messages the document reports through its failure callback.
inline constexpr const char* kRotationFailedMessage = "印字データの回転に失敗しました。";

class CViewerDocBase {
 public:
  CViewerDocBase();
  virtual ~CViewerDocBase();
  CViewerDocBase(const CViewerDocBase&) = delete;
  CViewerDocBase& operator=(const CViewerDocBase&) = delete;

  // ---- The operation table, in order ----

  // Takes an image, a page count, a resolution and the queue for progress notices (may be
  // null); clears name, texts, pages and attachments and reads the image (no trailers).
  // Gives the last page index, negative when the image has no pages or cannot be read.
  virtual int LoadDocument(std::span<const std::uint8_t> image, std::uint16_t page_count, int resolution,
                           NoticeQueue* notify);
  // Draws one sheet of pages beginning with page `first` fitted into `target`; `layout` may
  // be null (one page per sheet). Flag nonzero: the metafile origin is (0, 0). Gives 0.
  virtual int DrawSheetPages(gdi::DeviceContext& dc, int resolution, int flag, std::uint16_t first, const RECT* target,
                             const SheetLayout* layout);
  // Draws one page fitted into `rect` at `resolution` dots per inch. Gives 0.
  virtual int RenderPage(gdi::DeviceContext& dc, int resolution, int flag, std::int16_t page, const RECT* rect);
  // Does nothing; gives 1.
  virtual int Reserved(int a, int b);
  // Takes a name; sets the document name and gives it.
  virtual const std::string& SetDocName(std::string_view name);
  // Takes an index (bit 15 set: append), the attribute word, the paper width and length in
  // 0.1 mm, bytes beginning with a metafile (36 trailer bytes may follow it), orientation
  // flags and whether to post progress. Gives 1, or 0 when the bytes are no metafile, the
  // index is beyond the pages, or the page cannot be stored.
  virtual int AppendData(std::uint16_t index, std::uint16_t attributes, std::uint16_t width, std::uint16_t length,
                         std::span<const std::uint8_t> data, std::uint32_t flags, int notify);
  // Removes one page; gives 1, 0 for an index outside the pages.
  virtual int DeletePage(std::int16_t index, int notify);
  // Makes the held page a copy of the page; gives 1, 0 for an index outside the pages.
  virtual int CopyPage(std::int16_t index);
  // Inserts a copy of the held page before the index (at most the page count); gives 1, 0
  // when there is no held page or the index is outside.
  virtual int PastePage(std::int16_t index);
  // Inserts a blank page (a complete empty metafile with page 0's paper) before the index;
  // gives 1, 0 when the index is outside or there is no page 0 to take the paper from.
  virtual int InsertBlankPage(std::int16_t index);
  // Gives 1 when a held page with data exists, else 0.
  virtual int CanPastePage() const;
  // Moves pages first..last so that they start at target (a target above first is lowered
  // by the count minus 1). Gives 1, 0 for a range outside the pages.
  virtual int MovePages(std::int16_t first, std::int16_t last, std::int16_t target);
  // Removes pages first..last; gives 1, 0 for a range outside the pages.
  virtual int DeletePages(std::int16_t first, std::int16_t last);
  // Takes the kind (0 header, 1 footer), three texts (UTF-8) and the numbering rule.
  virtual void SetHeaderFooter(int kind, std::string_view left, std::string_view centre, std::string_view right,
                               int rule);
  // Takes the header/footer font and its size in points.
  virtual void SetHeaderFooterFont(const win::LOGFONTA& font, int points);
  // Copies the header/footer font out.
  virtual void GetHeaderFooterFont(win::LOGFONTA* font) const;
  // Takes a text, the page number, the target and the total; writes the text with every
  // "<ページ>" replaced by the page number and every "<総ページ>" by the total into the
  // target. Gives nonzero when a placeholder was replaced; an empty text gives 0 and leaves
  // the target alone.
  virtual int ReplacePagePlaceholders(std::string_view text, int page, std::string* target, int total) const;
  // The same for "<ページ>" alone.
  virtual int ReplacePageNumber(std::string_view text, int page, std::string* target) const;
  // Gives the header height, footer height (of the last sheet drawn) and numbering rule.
  virtual void GetSheetTextHeights(int* header, int* footer, int* rule) const;
  // Moves a layout slot's rectangle by the header and footer heights; gives 1.
  virtual int OffsetSlotRect(RECT* rect, int dx, int dy, const SheetLayout& layout, int slot) const;
  // Gives the vertical offset of a turned page's image in its slot.
  virtual int GetSlotOffset(int direction, int dx, int dy, const SheetLayout& layout, int slot) const;
  // Copies out the point size, the header and footer texts and the numbering rule.
  virtual void GetHeaderFooter(int* points, HeaderFooterTexts* header, HeaderFooterTexts* footer, int* rule) const;

  // ---- Plain accessors ----
  const std::string& name() const { return name_; }
  const std::string& text2() const { return text2_; }
  const std::string& text3() const { return text3_; }
  std::uint16_t page_count() const { return page_count_; }
  ViewerPage* page(int index);
  const std::vector<AttachmentFile>& attachments() const { return attachments_; }
  // The document's own temporary folder (empty until an attachment was written).
  const std::string& temp_folder() const { return temp_folder_; }

  // Viewing password: the flag stops all drawing until cleared; both belong to this
  // document alone.
  bool view_password_set() const { return view_password_flag_; }
  void set_view_password_flag(bool on) { view_password_flag_ = on; }
  const std::string& view_password() const { return view_password_; }
  bool second_password_set() const { return second_password_flag_; }
  const std::string& second_password() const { return second_password_; }

  // Print offsets: size (percent, 100 = full size), left and top (millimetres).
  void SetPrintOffsets(float size, float left, float top);
  float size_offset() const { return size_offset_; }
  float left_offset() const { return left_offset_; }
  float top_offset() const { return top_offset_; }

  // Takes the paper code (-1: pages keep their own), name, width and height in 0.1 mm and
  // the margin list; computes the page-unit sizes.
  void SetPaperRecord(std::int32_t code, std::string_view name, std::int32_t width, std::int32_t height,
                      std::vector<PaperMargins> margins);
  const PaperRecord& paper() const { return paper_; }

  // The display the document is shown on: LOGPIXELSX (loading resolution) and the screen
  // width in pixels (header text scaling). Defaults 96 and 1920.
  void SetDisplayMetrics(int logpixels, int screen_width);
  int display_logpixels() const { return display_logpixels_; }

  // Takes the callback that reports a drawing failure to the user; each distinct failure
  // is reported once per document, not on every repaint.
  void SetFailureReporter(std::function<void(std::string_view)> reporter);

  // The reference page rectangle (page 0's rectangle in its cell, set when the sheet that
  // begins with page 0 is drawn) and the rotation rectangle of the last turned page.
  const std::optional<RECT>& reference_rect() const { return reference_rect_; }
  const RECT& rotation_rect() const { return rotation_rect_; }

  // The drawing state of the page being drawn (for the enumeration hook).
  using DrawState = playback::PlaybackState;
  DrawState& draw_state() { return draw_; }

 protected:
  void ReportFailure(std::string_view message);
  void PostNotice(std::uint32_t notice, std::uint64_t wparam);
  void PostProgress();
  bool IndexInside(int index) const { return index >= 0 && index < int(pages_.size()); }
  void SyncPageCount() { page_count_ = std::uint16_t(pages_.size()); }
  Status WriteAttachment(std::string_view name, win::FILETIME time, std::span<const std::uint8_t> bytes);
  void RemoveTempFiles();
  void ClearPages();

  std::string name_, text2_, text3_;
  std::uint16_t page_count_ = 0;
  NoticeQueue* notify_ = nullptr;
  bool view_password_flag_ = false;
  std::string view_password_;
  bool second_password_flag_ = false;
  std::string second_password_;
  float size_offset_ = 100.0f, left_offset_ = 0.0f, top_offset_ = 0.0f;
  PaperRecord paper_;
  std::unique_ptr<ViewerPage> held_page_;
  int font_points_ = 12;
  win::LOGFONTA font_{};
  int last_kind_ = -1;
  HeaderFooterTexts header_, footer_;
  int numbering_rule_ = -1;
  int header_height_ = 0, footer_height_ = 0;
  std::vector<std::unique_ptr<ViewerPage>> pages_;
  std::vector<AttachmentFile> attachments_;
  std::string temp_folder_;

  DrawState draw_;
  std::optional<RECT> reference_rect_;
  RECT rotation_rect_{};
  bool rotation_taller_ = false;
  int display_logpixels_ = 96;
  int screen_width_ = 1920;
  std::function<void(std::string_view)> failure_reporter_;
  std::vector<std::string> reported_;
};

class CViewerDoc : public CViewerDocBase {
 public:
  CViewerDoc();
  // Detaches the views (they get no
  // further notices), removes the pages' temporary files and the attachment folder.
  ~CViewerDoc() override;

  // Adds a view and brings it up to date (progress so far, finished, ready). Gives 1.
  virtual int AttachView(DocumentView* view);
  // Removes a view and sends it the reset notice. Gives 1.
  virtual int DetachView(DocumentView* view);
  // Takes an image and the page count; resets the views and loads at twice the display
  // resolution. Gives 1, 0 on failure.
  virtual int LoadFromBuffer(std::span<const std::uint8_t> image, std::uint16_t page_count);

  // Takes a folder and the question asked when a file of an attachment's name is there
  // already or cannot be written ("中断しますか。": true stops); copies each attachment
  // into the folder under its own plain name, refusing to overwrite until the question was
  // answered false. Gives kAllSaved when every copy was made (the caller then says so),
  // kStopped when the question stopped it or the folder cannot hold the name, and
  // kNothingToSave without attachments.
  SaveOutcome SaveAttachments(const std::string& folder, const std::function<bool()>& stop_on_conflict);

  // The notification window's procedure: takes a posted notice and passes it on to the
  // views (progress), sending ready once the pages a view waits for are there.
  void HandleNotice(std::uint32_t notice, std::uint64_t wparam);

  // Takes the queue that stands for the hidden notification window (null: notices reach
  // HandleNotice at once). The queue must outlive the document or be reset first.
  void SetNotificationQueue(NoticeQueue* queue);
  NoticeQueue* notification_queue();

  std::uint16_t pages_reported() const { return pages_reported_; }
  bool loading_finished() const { return loading_finished_; }
  int expected_last_page() const { return expected_last_; }

 private:
  class DirectQueue : public NoticeQueue {
   public:
    explicit DirectQueue(CViewerDoc* doc) : doc_(doc) {}
    void Post(std::uint32_t notice, std::uint64_t wparam) override { doc_->HandleNotice(notice, wparam); }

   private:
    CViewerDoc* doc_;
  };

  void SendToViews(std::uint32_t notice, std::uint64_t wparam);

  std::vector<DocumentView*> views_;
  DirectQueue direct_{this};
  NoticeQueue* queue_ = nullptr;
  std::uint16_t pages_reported_ = 0;
  int expected_last_ = -1;
  bool loading_finished_ = false;
};

}  // namespace zv::viewer
