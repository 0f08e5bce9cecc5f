#include "viewer/viewer_doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "jobdoc/image.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/paths/paths.h"
#include "viewer/playback/playback.h"

namespace zv::viewer {

namespace {

constexpr std::string_view kPagePlaceholder = "<ページ>";
constexpr std::string_view kTotalPlaceholder = "<総ページ>";

// Takes the 8 stored password bytes (each character plus 1); gives the password.
std::string DecodePassword(const std::uint8_t (&stored)[8]) {
  std::string out;
  for (std::uint8_t b : stored) {
    if (b == 0) break;
    out.push_back(char(b - 1));
  }
  return out;
}

win::LOGFONTA DefaultHeaderFont() {
  win::LOGFONTA lf{};
  lf.lfHeight = -16;
  lf.lfWidth = 0;
  lf.lfWeight = 400;
  lf.lfCharSet = 128;  // SHIFTJIS_CHARSET
  auto face = codepage::Utf8ToCp932("ＭＳ Ｐゴシック", codepage::OnError::kSubstitute);
  if (face.ok()) {
    std::memcpy(lf.lfFaceName, face->data(), std::min(face->size(), sizeof(lf.lfFaceName) - 1));
  }
  return lf;
}

// Replaces every `from` in `text` by `to`; gives whether one was replaced.
bool ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  bool any = false;
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
    any = true;
  }
  return any;
}

// Takes an attachment's stored name (CP932 bytes); gives a plain file name for it: the part
// after the last "/" or "\" (looked for in the decoded text, so CP932 trail bytes never
// split a name), control characters dropped; "attachment" when nothing plain remains.
std::string SanitisedBaseName(std::string_view stored) {
  auto utf8 = codepage::Cp932ToUtf8(stored, codepage::OnError::kSubstitute);
  std::string name = utf8.ok() ? *utf8 : std::string(stored);
  const std::size_t cut = name.find_last_of("/\\");
  if (cut != std::string::npos) name.erase(0, cut + 1);
  std::string clean;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ':') continue;
    clean.push_back(c);
  }
  // Names that end in a space or dot, or hold ':', are refused by Windows file systems; the
  // saved copies may well land on such a share, so the same names are avoided here.
  while (!clean.empty() && (clean.back() == ' ' || clean.back() == '.')) clean.pop_back();
  if (clean.size() > 200) clean.resize(200);
  if (!paths::IsPlainFileName(clean)) return "attachment";
  return clean;
}

// True for an image that is the 35-byte page-format record and nothing else, with no
// record chain.
bool RecordAlone(std::span<const std::uint8_t> image) {
  if (image.size() != jobdoc::kPageFormatRecordSize) return false;
  return image[22] == 0 && image[23] == 0 && image[24] == 0 && image[25] == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// CViewerDocBase

CViewerDocBase::CViewerDocBase() : font_(DefaultHeaderFont()) {}

CViewerDocBase::~CViewerDocBase() {
  ClearPages();
  held_page_.reset();
  RemoveTempFiles();
}

void CViewerDocBase::ClearPages() {
  pages_.clear();
  page_count_ = 0;
}

void CViewerDocBase::RemoveTempFiles() {
  for (const AttachmentFile& a : attachments_) ::unlink(a.path.c_str());
  attachments_.clear();
  if (!temp_folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(temp_folder_, ec);
    temp_folder_.clear();
  }
}

ViewerPage* CViewerDocBase::page(int index) { return IndexInside(index) ? pages_[std::size_t(index)].get() : nullptr; }

void CViewerDocBase::PostNotice(std::uint32_t notice, std::uint64_t wparam) {
  if (notify_) notify_->Post(notice, wparam);
}

void CViewerDocBase::PostProgress() {
  // The count first, so views size their lists; then 0, on which they reread and redraw the pages.
  PostNotice(kNoticeProgress, page_count_);
  PostNotice(kNoticeProgress, 0);
}

void CViewerDocBase::ReportFailure(std::string_view message) {
  if (std::find(reported_.begin(), reported_.end(), message) != reported_.end()) return;
  reported_.emplace_back(message);
  if (failure_reporter_) failure_reporter_(message);
}

void CViewerDocBase::SetFailureReporter(std::function<void(std::string_view)> reporter) {
  failure_reporter_ = std::move(reporter);
}

void CViewerDocBase::SetDisplayMetrics(int logpixels, int screen_width) {
  if (logpixels > 0) display_logpixels_ = logpixels;
  if (screen_width > 0) screen_width_ = screen_width;
}

void CViewerDocBase::SetPrintOffsets(float size, float left, float top) {
  // A page worker reads the offsets while it draws: they change under the drawing lock.
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  size_offset_ = size;
  left_offset_ = left;
  top_offset_ = top;
}

void CViewerDocBase::SetPaperRecord(std::int32_t code, std::string_view name, std::int32_t width, std::int32_t height,
                                    std::vector<PaperMargins> margins) {
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  paper_.code = code;
  paper_.name = std::string(name);
  paper_.width = width;
  paper_.height = height;
  paper_.margins = std::move(margins);
  paper_.unit_width = TenthMmToPageUnits(width);
  paper_.unit_height = TenthMmToPageUnits(height);
}

Status CViewerDocBase::WriteAttachment(std::string_view stored_name, win::FILETIME time,
                                       std::span<const std::uint8_t> bytes) {
  if (temp_folder_.empty()) {
    auto base = paths::TempFolder();
    if (!base.ok()) return base.status();
    std::string pattern = *base + "/PRCXXXXXX";
    if (!::mkdtemp(pattern.data())) {
      return Status::IOError("cannot make the attachment folder in " + *base + ": " + std::strerror(errno));
    }
    temp_folder_ = pattern;
  }
  const std::string base_name = SanitisedBaseName(stored_name);
  const std::size_t dot = base_name.rfind('.');
  std::string stem = (dot == std::string::npos || dot == 0) ? base_name : base_name.substr(0, dot);
  const std::string ext = (dot == std::string::npos || dot == 0) ? "" : base_name.substr(dot);
  std::string target;
  for (;;) {
    auto joined = paths::JoinInside(temp_folder_, stem + ext);
    if (!joined.ok()) return joined.status();
    struct stat st;
    if (::lstat(joined->c_str(), &st) != 0) {
      target = *joined;
      break;
    }
    if (stem.size() > 240) return Status::IOError("no free name for attachment " + base_name);
    stem += "_";
  }
  // Written under a temporary name and renamed, so a program opening the attachment by its
  // name never sees half of it.
  auto temp = paths::CreateTempFile(temp_folder_, "PRC", ".tmp");
  if (!temp.ok()) return temp.status();
  const int fd = ::open(temp->c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    ::unlink(temp->c_str());
    return Status::IOError("open " + *temp + ": " + std::strerror(errno));
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      ::unlink(temp->c_str());
      return Status::IOError("write " + *temp + ": " + std::strerror(e));
    }
    done += std::size_t(n);
  }
  // The record's last-write time (100 ns ticks since 1601); a time before 1970 leaves the
  // file's own time.
  const std::uint64_t ticks = (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = 0;
  times[1].tv_nsec = UTIME_OMIT;
  if (ticks >= win::kFileTimeUnixEpoch) {
    const std::uint64_t since = ticks - win::kFileTimeUnixEpoch;
    times[1].tv_sec = time_t(since / 10000000u);
    times[1].tv_nsec = long(since % 10000000u) * 100;
  }
  ::futimens(fd, times);
  ::close(fd);
  if (::rename(temp->c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp->c_str());
    return Status::IOError("rename to " + target + ": " + std::strerror(e));
  }
  attachments_.push_back(AttachmentFile{std::string(stored_name), target});
  return Status::Ok();
}

int CViewerDocBase::LoadDocument(std::span<const std::uint8_t> image, std::uint16_t page_count, int resolution,
                                 NoticeQueue* notify) {
  notify_ = notify;
  name_.clear();
  text2_.clear();
  text3_.clear();
  ClearPages();
  RemoveTempFiles();
  view_password_flag_ = false;
  view_password_.clear();
  second_password_flag_ = false;
  second_password_.clear();

  jobdoc::ImageWalker walker(image, /*page_trailers=*/false);
  bool failed = false;
  for (;;) {
    Result<jobdoc::ImageItem> item = walker.Next();
    if (!item.ok()) {
      failed = true;
      break;
    }
    if (walker.pages_read() <= 1 && pages_.empty()) {
      const jobdoc::PageFormatRecord& rec = walker.format();
      if (rec.flags & jobdoc::kFormatViewPassword) {
        view_password_flag_ = true;
        view_password_ = DecodePassword(rec.view_password);
      }
      if (rec.flags & jobdoc::kFormatSecondPassword) {
        second_password_flag_ = true;
        second_password_ = DecodePassword(rec.second_password);
      }
    }
    using Kind = jobdoc::ImageItem::Kind;
    if (item->kind == Kind::kEnd) break;
    switch (item->kind) {
      case Kind::kPage: {
        if (!pages_.empty()) PostNotice(kNoticeProgress, pages_.size());
        const jobdoc::PageAttributes& a = item->attributes;
        auto p = std::make_unique<ViewerPage>(a.paper_code(), a.width, a.length);
        if (!p->StoreEmfPage(item->bytes).ok()) {
          failed = true;
          break;
        }
        p->ApplyOrientation((a.rotated() ? 1u : 0u) | (a.landscape() ? 2u : 0u));
        p->FillTrailer();
        pages_.push_back(std::move(p));
        SyncPageCount();
        break;
      }
      case Kind::kText:
        if (item->type == 1) name_ = std::string(item->text);
        if (item->type == 2) text2_ = std::string(item->text);
        if (item->type == 3) text3_ = std::string(item->text);
        break;
      case Kind::kAttachment:
        // An attachment that cannot be written is left out; the pages still load.
        (void)WriteAttachment(item->text, item->time, item->bytes);
        break;
      default:
        break;
    }
    if (failed) break;
  }
  SyncPageCount();
  PostNotice(kNoticeProgress, 0);
  if (failed) return -1;
  // The page-format record alone (no chain) starts a document whose pages the caller then
  // hands over with AppendData: it succeeds when the caller expects at least one page. Any
  // other image without a page is no document, whatever page count the caller expects.
  if (pages_.empty() && !(RecordAlone(image) && page_count >= 1)) return -1;
  return int(page_count) - 1;
}

int CViewerDocBase::Reserved(int, int) { return 1; }

const std::string& CViewerDocBase::SetDocName(std::string_view name) {
  name_ = std::string(name);
  return name_;
}

int CViewerDocBase::AppendData(std::uint16_t index, std::uint16_t attributes, std::uint16_t width, std::uint16_t length,
                               std::span<const std::uint8_t> data, std::uint32_t flags, int notify) {
  // A page must begin with a metafile header record (type 1, little-endian).
  if (data.size() < 4 || data[0] != 1 || data[1] != 0 || data[2] != 0 || data[3] != 0) return 0;
  const bool append = (index & 0x8000) != 0;
  const std::size_t at = append ? pages_.size() : index;
  if (at > pages_.size()) return 0;
  auto p = std::make_unique<ViewerPage>(attributes, width, length);
  if (!p->StoreEmfPage(data).ok()) return 0;
  p->ApplyOrientation(flags);
  const std::size_t n = p->data_size();
  if (data.size() >= n + jobdoc::kPageTrailerSize) {
    p->SetTrailer(data.subspan(n, jobdoc::kPageTrailerSize));
  } else {
    p->FillTrailer();
  }
  {
    // Pages change only under the drawing lock: a page worker may be drawing from them.
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    pages_.insert(pages_.begin() + std::ptrdiff_t(at), std::move(p));
    SyncPageCount();
  }
  if (notify) PostProgress();
  return 1;
}

int CViewerDocBase::DeletePage(std::int16_t index, int notify) {
  {
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    if (!IndexInside(index)) return 0;
    pages_.erase(pages_.begin() + index);
    SyncPageCount();
  }
  if (notify) PostProgress();
  return 1;
}

int CViewerDocBase::CopyPage(std::int16_t index) {
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  if (!IndexInside(index)) return 0;
  auto copy = pages_[std::size_t(index)]->Clone();
  if (!copy.ok()) return 0;
  held_page_ = std::move(*copy);
  return 1;
}

int CViewerDocBase::PastePage(std::int16_t index) {
  if (!held_page_ || index < 0 || std::size_t(index) > pages_.size()) return 0;
  auto copy = held_page_->Clone();
  if (!copy.ok()) return 0;
  {
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    pages_.insert(pages_.begin() + index, std::move(*copy));
    SyncPageCount();
  }
  PostProgress();
  return 1;
}

int CViewerDocBase::InsertBlankPage(std::int16_t index) {
  if (pages_.empty() || index < 0 || std::size_t(index) > pages_.size()) return 0;
  const ViewerPage& first = *pages_.front();
  // A complete metafile with nothing on it: header and end record.
  // Its reference device is page 0's paper at 300 dpi, so it fits like page 0.
  const std::int32_t ex = std::max<std::int32_t>(first.extent_x(), 1);
  const std::int32_t ey = std::max<std::int32_t>(first.extent_y(), 1);
  auto bytes = gdi::RecordBlankPage(win::SIZEL{std::max(ex / 96, 1), std::max(ey / 96, 1)},
                                    win::SIZEL{std::max(ex * 254 / 288000, 1), std::max(ey * 254 / 288000, 1)});
  if (!bytes.ok()) return 0;
  auto p = std::make_unique<ViewerPage>(first.attributes(), first.width(), first.length());
  p->set_extent(first.extent_x(), first.extent_y());
  if (!p->StoreEmfPage(*bytes).ok()) return 0;
  p->FillTrailer();
  p->set_blank(true);
  {
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    pages_.insert(pages_.begin() + index, std::move(p));
    SyncPageCount();
  }
  PostProgress();
  return 1;
}

int CViewerDocBase::CanPastePage() const { return held_page_ && held_page_->has_data() ? 1 : 0; }

int CViewerDocBase::MovePages(std::int16_t first, std::int16_t last, std::int16_t target) {
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  if (!IndexInside(first) || !IndexInside(last) || last < first || target < 0 || std::size_t(target) > pages_.size()) {
    return 0;
  }
  const int count = last - first + 1;
  std::vector<std::unique_ptr<ViewerPage>> moved;
  for (int i = first; i <= last; ++i) moved.push_back(std::move(pages_[std::size_t(i)]));
  pages_.erase(pages_.begin() + first, pages_.begin() + last + 1);
  int at = target;
  if (at > first) at = at + 1 - count;
  at = std::clamp(at, 0, int(pages_.size()));
  pages_.insert(pages_.begin() + at, std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
  SyncPageCount();
  return 1;
}

int CViewerDocBase::DeletePages(std::int16_t first, std::int16_t last) {
  {
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    if (!IndexInside(first) || !IndexInside(last) || last < first) return 0;
    for (int i = last; i >= first; --i) pages_.erase(pages_.begin() + i);
    SyncPageCount();
  }
  PostProgress();
  return 1;
}

void CViewerDocBase::SetHeaderFooter(int kind, std::string_view left, std::string_view centre, std::string_view right,
                                     int rule) {
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  HeaderFooterTexts& t = kind == 0 ? header_ : footer_;
  if (kind != 0 && kind != 1) return;
  t.left = std::string(left);
  t.centre = std::string(centre);
  t.right = std::string(right);
  numbering_rule_ = rule;
  last_kind_ = kind;
}

void CViewerDocBase::SetHeaderFooterFont(const win::LOGFONTA& font, int points) {
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  font_ = font;
  font_.lfFaceName[sizeof(font_.lfFaceName) - 1] = '\0';
  font_points_ = points;
}

void CViewerDocBase::GetHeaderFooterFont(win::LOGFONTA* font) const {
  if (font) *font = font_;
}

int CViewerDocBase::ReplacePagePlaceholders(std::string_view text, int page, std::string* target, int total) const {
  if (text.empty() || !target) return 0;
  std::string out(text);
  const bool a = ReplaceAll(out, kPagePlaceholder, std::to_string(page));
  const bool b = ReplaceAll(out, kTotalPlaceholder, std::to_string(total));
  *target = std::move(out);
  return (a || b) ? 1 : 0;
}

int CViewerDocBase::ReplacePageNumber(std::string_view text, int page, std::string* target) const {
  if (text.empty() || !target) return 0;
  std::string out(text);
  const bool a = ReplaceAll(out, kPagePlaceholder, std::to_string(page));
  *target = std::move(out);
  return a ? 1 : 0;
}

void CViewerDocBase::GetSheetTextHeights(int* header, int* footer, int* rule) const {
  if (header) *header = header_height_;
  if (footer) *footer = footer_height_;
  if (rule) *rule = numbering_rule_;
}

int CViewerDocBase::OffsetSlotRect(RECT* rect, int dx, int dy, const SheetLayout& layout, int slot) const {
  return viewer::OffsetSlotRect(rect, dx, dy, layout, slot);
}

int CViewerDocBase::GetSlotOffset(int direction, int dx, int dy, const SheetLayout& layout, int slot) const {
  return viewer::GetSlotOffset(direction, dx, dy, layout, slot);
}

void CViewerDocBase::GetHeaderFooter(int* points, HeaderFooterTexts* header, HeaderFooterTexts* footer,
                                     int* rule) const {
  if (points) *points = font_points_;
  if (header) *header = header_;
  if (footer) *footer = footer_;
  if (rule) *rule = numbering_rule_;
}

// ---------------------------------------------------------------------------------------
// CViewerDoc

CViewerDoc::CViewerDoc() = default;

CViewerDoc::~CViewerDoc() {
  views_.clear();
  notify_ = nullptr;
}

NoticeQueue* CViewerDoc::notification_queue() { return queue_ ? queue_ : &direct_; }

void CViewerDoc::SetNotificationQueue(NoticeQueue* queue) {
  NoticeQueue* old = notification_queue();
  queue_ = queue;
  if (notify_ == old) notify_ = notification_queue();
}

void CViewerDoc::SendToViews(std::uint32_t notice, std::uint64_t wparam) {
  // A view may detach itself while handling a notice: walk a copy.
  const std::vector<DocumentView*> views = views_;
  for (DocumentView* v : views) {
    if (std::find(views_.begin(), views_.end(), v) != views_.end()) v->OnDocumentNotice(notice, wparam);
  }
}

void CViewerDoc::HandleNotice(std::uint32_t notice, std::uint64_t wparam) {
  if (notice != kNoticeProgress) return;
  if (wparam != 0) {
    pages_reported_ = std::uint16_t(wparam);
  } else {
    loading_finished_ = true;
  }
  SendToViews(kNoticeProgress, wparam);
  if (std::int64_t(expected_last_) < std::int64_t(wparam) || loading_finished_) {
    SendToViews(kNoticeReady, 0);
  }
}

int CViewerDoc::AttachView(DocumentView* view) {
  if (!view) return 1;
  if (std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
  if (pages_reported_ != 0) view->OnDocumentNotice(kNoticeProgress, pages_reported_);
  if (loading_finished_) view->OnDocumentNotice(kNoticeProgress, 0);
  view->OnDocumentNotice(kNoticeReady, 0);
  return 1;
}

int CViewerDoc::DetachView(DocumentView* view) {
  auto it = std::find(views_.begin(), views_.end(), view);
  if (it != views_.end()) {
    views_.erase(it);
    view->OnDocumentNotice(kNoticeReset, 0);
  }
  return 1;
}

int CViewerDoc::LoadFromBuffer(std::span<const std::uint8_t> image, std::uint16_t page_count) {
  SendToViews(kNoticeReset, 0);
  pages_reported_ = 0;
  loading_finished_ = false;
  // Notices may reach HandleNotice during the load (direct delivery): the pages the views
  // wait for are known before it starts.
  expected_last_ = int(page_count) - 1;
  const int last = LoadDocument(image, page_count, 2 * display_logpixels_, notification_queue());
  if (last < 0) return 0;
  expected_last_ = last;
  return 1;
}

SaveOutcome CViewerDoc::SaveAttachments(const std::string& folder, const std::function<bool()>& stop_on_conflict) {
  if (attachments_.empty()) return SaveOutcome::kNothingToSave;
  namespace fs = std::filesystem;
  for (const AttachmentFile& a : attachments_) {
    auto target = paths::JoinInside(folder, SanitisedBaseName(a.name));
    if (!target.ok()) return SaveOutcome::kStopped;
    std::error_code ec;
    bool copied = fs::copy_file(a.path, *target, fs::copy_options::none, ec);
    while (!copied) {
      if (!stop_on_conflict || stop_on_conflict()) return SaveOutcome::kStopped;
      ec.clear();
      copied = fs::copy_file(a.path, *target, fs::copy_options::overwrite_existing, ec);
    }
    // The copy keeps the attachment's last-write time, as the stored record gave it.
    struct stat st;
    if (::stat(a.path.c_str(), &st) == 0) {
      struct timespec times[2];
      times[0].tv_sec = 0;
      times[0].tv_nsec = UTIME_OMIT;
      times[1] = st.st_mtim;
      ::utimensat(AT_FDCWD, target->c_str(), times, 0);
    }
  }
  return SaveOutcome::kAllSaved;
}

}  // namespace zv::viewer
