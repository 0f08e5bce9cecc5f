#include "capture/sarquen/rerecord.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "capture/common/title.h"
#include "jobdoc/private_records.h"
#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/dib_depth.h"
#include "platform/gdi/emf/records.h"
#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::capture {
namespace {

using std::uint8_t;

constexpr std::uint32_t kTypeHeader = 1;
constexpr std::uint32_t kTypeEof = 14;
constexpr std::uint32_t kTypeMoveTo = 27;
constexpr std::uint32_t kTypeRectangle = 43;
constexpr std::uint32_t kTypeComment = 70;
constexpr std::uint32_t kTypeBitBlt = 76;
constexpr std::uint32_t kTypeStretchBlt = 77;
constexpr std::uint32_t kTypeStretchDib = 81;
constexpr std::uint32_t kTypeTextA = 83;
constexpr std::uint32_t kTypeTextW = 84;
constexpr std::uint32_t kTypePolygon16 = 86;
constexpr std::uint32_t kTypeSmallText = 108;
constexpr std::uint32_t kLastKeptType = 150;
constexpr int kMaxPixelSide = 32766;
// Text drawn as pixels larger than this (about 2000 x 2000) is dropped: a damaged record could
// otherwise ask for gigabytes of work bitmap or a record per pixel of a whole page.
constexpr long long kMaxPixelArea = 1LL << 22;

bool IsTextType(std::uint32_t t) { return t == kTypeTextA || t == kTypeTextW || t == kTypeSmallText; }

// Records that draw a bitmap change no state that later text reads, so the state context
// does not spend time drawing them.
bool IsBitmapType(std::uint32_t t) {
  switch (t) {
    case kTypeBitBlt:
    case kTypeStretchBlt:
    case 78:
    case 79:
    case 80:
    case kTypeStretchDib:
    case 114:
    case 116:
      return true;
    default:
      return false;
  }
}

std::int32_t GetI32(std::span<const uint8_t> b, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void PutU32(std::vector<uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

bool InSpecialRange(char16_t c) {
  return c == 0x00A5 || (c >= 0x00D8 && c <= 0x00E5) || (c >= 0x00E7 && c <= 0x00F6) || (c >= 0x00F8 && c <= 0x02A8) ||
         (c >= 0x0386 && c <= 0x1EF3);
}

// One character of CP932 text: its bytes.
std::vector<std::string_view> SplitCp932(std::string_view s) {
  std::vector<std::string_view> out;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = (codepage::IsCp932Lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

// A bitmap record whose 24-bit bitmap holds at most 256 colours, written again with the
// bitmap at 1 or 8 bits (the same pixels in a third or less of the bytes); none for any
// other record.
std::optional<std::vector<uint8_t>> NarrowStretchDib(const emf::Record& r) {
  auto sd = emf::ReadStretchDib(r);
  if (!sd.ok() || !sd->source || sd->source->compressed) return std::nullopt;
  const emf::Dib& src = *sd->source;
  auto narrow = gdi::NarrowDib(gdi::DibRef{src.info, src.bits, src.usage});
  if (!narrow) return std::nullopt;
  win::EMRSTRETCHDIBITS rec = sd->rec;
  const std::size_t head = sizeof rec;
  rec.offBmiSrc = static_cast<win::DWORD>(head);
  rec.cbBmiSrc = static_cast<win::DWORD>(narrow->info.size());
  rec.offBitsSrc = static_cast<win::DWORD>(head + narrow->info.size());
  rec.cbBitsSrc = static_cast<win::DWORD>(narrow->bits.size());
  rec.emr.nSize = static_cast<win::DWORD>(head + narrow->info.size() + narrow->bits.size());
  std::vector<uint8_t> out(rec.emr.nSize);
  std::memcpy(out.data(), &rec, head);
  std::memcpy(out.data() + head, narrow->info.data(), narrow->info.size());
  std::memcpy(out.data() + rec.offBitsSrc, narrow->bits.data(), narrow->bits.size());
  return out;
}

class PageRerecorder {
 public:
  PageRerecorder(const RerecordOptions& options, const emf::Header& header) : options_(options), header_(header) {}

  Status Init() {
    double dpi = header_.millimeters.cx > 0 ? header_.device.cx * 25.4 / header_.millimeters.cx : 96;
    auto ref = gdi::MemoryBitmap::Create(8, 8, 24, dpi);
    if (!ref.ok()) return ref.status();
    reference_ = std::move(*ref);
    gdi::MetafileRecorder::Options o;
    o.device = header_.device;
    o.millimeters = header_.millimeters;
    o.reference = &reference_->dc();
    state_ = std::make_unique<gdi::MetafileRecorder>(o);
    return Status::Ok();
  }

  Status Record(gdi::Player& player, const emf::Record& r) {
    if (!pending_.empty() && !(IsTextType(r.type) && pending_.size() < jobdoc::kMaxCharListItems)) {
      FlushPending();
    }
    switch (r.type) {
      case kTypeHeader:
        previous_rect_.reset();
        Write(r.bytes);
        Write(jobdoc::BuildFontScaleRecord(options_.text_height));
        return Status::Ok();
      case kTypeRectangle: {
        std::vector<uint8_t> copy(r.bytes.begin(), r.bytes.end());
        if (copy.size() >= 24) AdjustRectangle(copy);
        Status s = player.PlayBytes(copy);
        if (!s.ok()) return s;
        Write(copy);
        return Status::Ok();
      }
      case kTypeComment:
        if (options_.on_comment) options_.on_comment(r.bytes);
        return Status::Ok();
      case kTypePolygon16:
        if (options_.frame_filter && IsFramePolygon(r.bytes)) return Status::Ok();
        break;
      case kTypeTextA:
      case kTypeTextW:
      case kTypeSmallText:
        return Text(player, r);
      default:
        break;
    }
    if (r.type > kLastKeptType) return Status::Ok();
    if (!IsBitmapType(r.type) && r.type != kTypeEof) {
      Status s = player.PlayRecord(r);
      if (!s.ok()) return s;
    }
    if (r.type == kTypeEof) saw_eof_ = true;
    if (r.type == kTypeStretchDib) {
      if (auto narrow = NarrowStretchDib(r)) {
        Write(*narrow);
        return Status::Ok();
      }
    }
    Write(r.bytes);
    return Status::Ok();
  }

  Result<RerecordedPage> Finish() {
    FlushPending();
    if (!saw_eof_) {
      std::vector<uint8_t> eof(20, 0);
      PutU32(eof, 0, kTypeEof);
      PutU32(eof, 4, 20);
      PutU32(eof, 12, 16);
      PutU32(eof, 16, 20);
      Write(eof);
    }
    if (out_.size() < 88) return Status::Corruption("page without header");
    if (out_.size() > std::numeric_limits<std::uint32_t>::max())
      return Status::InvalidArgument("page larger than 4 GiB");
    PutU32(out_, 48, static_cast<std::uint32_t>(out_.size()));
    PutU32(out_, 52, records_);
    RerecordedPage page;
    page.records = records_;
    page.bytes = std::move(out_);
    return page;
  }

  gdi::MetafileRecorder& state() { return *state_; }

 private:
  void Write(std::span<const uint8_t> rec) {
    out_.insert(out_.end(), rec.begin(), rec.end());
    ++records_;
  }

  // Writes the pending characters as character lists of at most the record's limit each: one
  // text record can add many characters to a list that was nearly full (a justified line whose
  // words keep their own advances), and a list over the limit cannot be written at all.
  void FlushPending() {
    for (std::size_t from = 0; from < pending_.size(); from += jobdoc::kMaxCharListItems) {
      const std::size_t n = std::min<std::size_t>(jobdoc::kMaxCharListItems, pending_.size() - from);
      auto rec = jobdoc::BuildCharListRecord(std::span<const jobdoc::CharListItem>(pending_).subspan(from, n));
      if (rec.ok()) Write(*rec);
    }
    pending_.clear();
  }

  void AdjustRectangle(std::vector<uint8_t>& rec) {
    // Rectangles that abut on an edge are made to overlap by one unit, so no hairline gap opens
    // between them when the page is scaled down.
    win::RECTL r{GetI32(rec, 8), GetI32(rec, 12), GetI32(rec, 16), GetI32(rec, 20)};
    if (previous_rect_) {
      const win::RECTL& p = *previous_rect_;
      if (r.top == p.top && r.bottom == p.bottom) {
        if (r.left == p.right) {
          --r.left;
        } else if (r.right == p.left) {
          ++r.right;
        }
      } else if (r.left == p.left && r.right == p.right) {
        if (r.top == p.bottom) {
          --r.top;
        } else if (r.bottom == p.top) {
          ++r.bottom;
        }
      }
    }
    previous_rect_ = r;
    std::memcpy(rec.data() + 8, &r, sizeof r);
  }

  // A six-point polygon whose second point lies just beyond the page's bounds on an edge.
  bool IsFramePolygon(std::span<const uint8_t> rec) const {
    if (rec.size() < 28 + 6 * 4 || GetI32(rec, 24) != 6) return false;
    std::int16_t x, y;
    std::memcpy(&x, rec.data() + 28 + 4, 2);
    std::memcpy(&y, rec.data() + 28 + 6, 2);
    const win::RECTL& b = header_.bounds;
    return (x == 0 && y >= b.bottom && y <= b.bottom + 4) || (y == 0 && x >= b.right + 1 && x <= b.right + 4);
  }

  Status Text(gdi::Player& player, const emf::Record& r) {
    auto text = emf::ReadText(r);
    if (!text.ok()) return text.status();
    const emf::Text& t = *text;
    if (t.count == 0) return Status::Ok();
    gdi::Font font = state_->GetCurrentFont();
    const int charset = font.lf.lfCharSet;

    std::u16string utf16;
    std::string ansi;
    bool to_pixels = false;
    if (t.wide) {
      utf16 = t.Utf16();
      auto u8 = codepage::Utf16ToUtf8(utf16);
      auto a = u8.ok() ? codepage::Utf8ToCp932(*u8) : Result<std::string>(u8.status());
      if (!a.ok()) {
        to_pixels = true;
      } else {
        ansi = *a;
        auto back8 = codepage::Cp932ToUtf8(ansi);
        auto back16 = back8.ok() ? codepage::Utf8ToUtf16(*back8) : Result<std::u16string>(back8.status());
        // Text is stored as CP932 bytes: a string that does not come back unchanged would lose
        // characters, so it is kept as pixels instead.
        if (!back16.ok() || *back16 != utf16) to_pixels = true;
      }
    } else {
      ansi = std::string(t.Bytes());
      auto u8 = codepage::Cp932ToUtf8(ansi, codepage::OnError::kSubstitute);
      auto u16 =
          u8.ok() ? codepage::Utf8ToUtf16(*u8, codepage::OnError::kSubstitute) : Result<std::u16string>(u8.status());
      if (u16.ok()) utf16 = *u16;
    }
    // Outside the Shift-JIS and default character sets the stored bytes would be read in the
    // font's own encoding (Windows Latin, a symbol font's glyph codes): only ASCII and the
    // special ranges (which readers draw with the Japanese character set) are read as CP932.
    // Wide text of any other character stays wide; narrow text keeps the old way (pixels).
    if (charset != 128 && charset != 1 && std::any_of(utf16.begin(), utf16.end(), [&](char16_t c) {
          return t.wide ? c >= 0x80 && (charset == win::SYMBOL_CHARSET || !InSpecialRange(c)) : c > 255;
        })) {
      to_pixels = true;
    }
    for (std::string_view ch : SplitCp932(ansi)) {
      unsigned char lead = static_cast<unsigned char>(ch[0]);
      // The user-defined area of CP932: the reading machine's fonts need not hold these characters.
      if (ch.size() == 2 && lead >= 0xF0 && lead <= 0xF9) to_pixels = true;
    }
    // Text clipped to an empty rectangle draws nothing: the text of glyphs drawn as outlines,
    // kept for readers of the page's text. It becomes hidden text runs; what cannot be kept as
    // text is dropped rather than drawn as pixels.
    const bool hidden = (t.options & win::ETO_CLIPPED) && t.rect &&
                        (t.rect->right <= t.rect->left || t.rect->bottom <= t.rect->top);
    // Wide text CP932 cannot hold stays the wide-text record it is: every reader of the page
    // plays it, drawn from a font, and finds its characters. Only the user-defined area (whose
    // glyphs the reading machine's fonts need not have) still goes to pixels.
    if (to_pixels && t.wide && !UserDefined(utf16)) return KeepWide(player, r);
    if (to_pixels) return hidden ? Status::Ok() : Pixels(t, utf16);

    const bool special = std::any_of(utf16.begin(), utf16.end(), InSpecialRange);
    const win::UINT align = state_->GetTextAlign();
    win::POINT origin{t.reference.x, t.reference.y};
    if (align & win::TA_UPDATECP) origin = state_->GetCurrentPositionEx();
    std::optional<win::RECT> clip;
    if (t.rect) clip = win::RECT{t.rect->left, t.rect->top, t.rect->right, t.rect->bottom};

    if (t.dx.size() == 0) {
      WriteChunk(origin.x, origin.y, TrimTrailingSpaces(ansi), special, t.options, clip, font, hidden);
      return Status::Ok();
    }

    // Per character, moving along the escapement by each advance.
    int esc = font.lf.lfEscapement;
    // Escapement in tenths of a degree; a negative one is brought into 0..3600.
    if (esc < 0) esc = static_cast<int>(std::floor(esc / 10.0)) * 10 + 3600;
    const double angle = esc * 0.0017453292519444444;
    const double cs = std::cos(angle), sn = std::sin(angle);
    const bool pdy = (t.options & win::ETO_PDY) != 0;
    struct Chunk {
      std::string bytes;
      long advance;
      bool special;
    };
    std::vector<Chunk> chunks;
    auto dx_at = [&](std::size_t i) -> long {
      std::size_t k = pdy ? 2 * i : i;
      return k < t.dx.size() ? t.dx[k] : 0;
    };
    if (t.wide) {
      for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::size_t n = (utf16[i] >= 0xD800 && utf16[i] < 0xDC00 && i + 1 < utf16.size()) ? 2 : 1;
        auto u8 = codepage::Utf16ToUtf8(std::u16string_view(utf16).substr(i, n), codepage::OnError::kSubstitute);
        auto a =
            u8.ok() ? codepage::Utf8ToCp932(*u8, codepage::OnError::kSubstitute) : Result<std::string>(u8.status());
        long adv = dx_at(i) + (n == 2 ? dx_at(i + 1) : 0);
        chunks.push_back({a.ok() ? *a : std::string("?"), adv, InSpecialRange(utf16[i])});
        i += n - 1;
      }
    } else {
      std::size_t i = 0;
      for (std::string_view ch : SplitCp932(ansi)) {
        long adv = dx_at(i) + (ch.size() == 2 ? dx_at(i + 1) : 0);
        i += ch.size();
        chunks.push_back({std::string(ch), adv, special});
      }
    }
    double x = origin.x, y = origin.y;
    const win::UINT horizontal = align & win::TA_CENTER;
    if (horizontal == win::TA_CENTER || horizontal == win::TA_RIGHT) {
      double total = 0;
      for (const Chunk& p : chunks) total += p.advance;
      if (horizontal == win::TA_CENTER) total /= 2;
      x -= total * cs;
      y += total * sn;
    }
    // Only the spaces at the end of the whole text are trimmed: the spaces between its words
    // stay as characters at their places, so whoever reads the page's text again (a saved PDF)
    // still finds the words apart.
    std::size_t end = chunks.size();
    if (TrimsSpaces()) {
      while (end > 0 && IsSpace(chunks[end - 1].bytes)) --end;
    }
    for (std::size_t i = 0; i < end; ++i) {
      const Chunk& p = chunks[i];
      WriteChunk(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), p.bytes, p.special, t.options,
                 clip, font, hidden);
      x += p.advance * cs;
      y -= p.advance * sn;
    }
    if (align & win::TA_UPDATECP) state_->MoveToEx(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
    return Status::Ok();
  }

  static bool IsSpace(std::string_view ch) { return ch == " " || ch == "\x81\x40"; }

  // The private use area CP932's user-defined characters map to.
  static bool UserDefined(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xE000 && c <= 0xE757; });
  }

  // Writes a wide-text record as it is. Text that moves the current position is played into
  // the state context too, so the text after it starts where this ends.
  Status KeepWide(gdi::Player& player, const emf::Record& r) {
    FlushPending();
    if (state_->GetTextAlign() & win::TA_UPDATECP) {
      Status s = player.PlayRecord(r);
      if (!s.ok()) return s;
    }
    Write(r.bytes);
    return Status::Ok();
  }

  // Trailing spaces draw nothing when the background is transparent and the text does not
  // move the current position.
  bool TrimsSpaces() const {
    return !(state_->GetTextAlign() & win::TA_UPDATECP) && state_->GetBkMode() == win::TRANSPARENT;
  }

  // Takes text; gives it without the single-byte and full-width spaces it ends with, where
  // they draw nothing.
  std::string TrimTrailingSpaces(std::string bytes) const {
    if (!TrimsSpaces()) return bytes;
    auto chars = SplitCp932(bytes);
    while (!chars.empty() && IsSpace(chars.back())) chars.pop_back();
    std::size_t keep = 0;
    for (auto c : chars) keep += c.size();
    bytes.resize(keep);
    return bytes;
  }

  void WriteChunk(int x, int y, const std::string& bytes, bool special, win::DWORD options,
                  const std::optional<win::RECT>& clip, const gdi::Font& font, bool hidden = false) {
    if (bytes.empty()) return;
    // A hidden run keeps neither clip nor options: it draws nothing anyway, and readers of its
    // text need it unclipped.
    if (hidden) return WriteRun(x, y, bytes, special, 0, std::nullopt, font, true);
    const bool one_char = bytes.size() == 1 || (bytes.size() == 2 && codepage::IsCp932Lead(static_cast<unsigned char>(bytes[0])));
    if (one_char && options == 0 && !special) {
      std::uint16_t code = bytes.size() == 1 ? static_cast<unsigned char>(bytes[0])
                                             : static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) * 256 +
                                                                          static_cast<unsigned char>(bytes[1]));
      pending_.push_back(jobdoc::CharListItem{x, y, code, 0, 0});
      return;
    }
    WriteRun(x, y, bytes, special, options, clip, font, false);
  }

  // One text run record (hidden: marker 103) at (x, y), its width measured in the font, with
  // an extension when there are options or special-range characters.
  void WriteRun(int x, int y, const std::string& bytes, bool special, win::DWORD options,
                const std::optional<win::RECT>& clip, const gdi::Font& font, bool hidden) {
    jobdoc::TextRun run;
    run.x = x;
    run.y = y;
    run.text = bytes;
    const std::string face = gdi::FaceName(font.lf);
    if (!face.empty() && !EqualsNoCase(face, "System")) {
      win::SIZE size{};
      if (state_->GetTextExtentPoint32A(bytes, &size) && size.cx > 0 && size.cx <= 0xFFFF)
        run.width = static_cast<std::uint16_t>(size.cx);
    }
    if (options != 0 || special) {
      jobdoc::TextRunExtension ext{};
      if (clip) ext.clip = *clip;
      ext.options = static_cast<std::uint16_t>(options);
      ext.flags = special ? 1 : 0;
      run.extension = ext;
    }
    auto rec = hidden ? jobdoc::BuildHiddenTextRunRecord(run) : jobdoc::BuildTextRunRecord(run);
    if (rec.ok()) Write(*rec);
  }

  // Text that cannot be kept as text: drawn into a work bitmap and written as pixels.
  Status Pixels(const emf::Text& t, const std::u16string& utf16) {
    FlushPending();
    const win::UINT align = state_->GetTextAlign();
    win::POINT ref{t.reference.x, t.reference.y};
    if (align & win::TA_UPDATECP) ref = state_->GetCurrentPositionEx();
    win::RECT box{t.bounds.left, t.bounds.top, t.bounds.right + 1, t.bounds.bottom + 1};
    if (t.bounds.right <= t.bounds.left || t.bounds.bottom <= t.bounds.top) {
      win::SIZE size{};
      if (!state_->GetTextExtentPoint32W(utf16, &size) || size.cx <= 0 || size.cy <= 0) return Status::Ok();
      int left = ref.x, top = ref.y;
      if ((align & win::TA_CENTER) == win::TA_CENTER) left -= size.cx / 2;
      else if ((align & win::TA_CENTER) == win::TA_RIGHT) left -= size.cx;
      // No font metrics here: the ascent is taken as four fifths of the line height.
      if ((align & win::TA_BASELINE) == win::TA_BASELINE) top -= size.cy * 4 / 5;
      else if ((align & win::TA_BASELINE) == win::TA_BOTTOM) top -= size.cy;
      box = {left, top, left + size.cx, top + size.cy};
    } else {
      win::POINT corners[2] = {{box.left, box.top}, {box.right, box.bottom}};
      state_->DPtoLP(corners);
      box = {std::min(corners[0].x, corners[1].x), std::min(corners[0].y, corners[1].y),
             std::max(corners[0].x, corners[1].x), std::max(corners[0].y, corners[1].y)};
    }
    if (box.right - box.left > kMaxPixelSide || box.bottom - box.top > kMaxPixelSide) {
      if (t.rect) {
        box.left = std::max<int>(box.left, t.rect->left);
        box.top = std::max<int>(box.top, t.rect->top);
        box.right = std::min<int>(box.right, t.rect->right);
        box.bottom = std::min<int>(box.bottom, t.rect->bottom);
      }
      if (box.right - box.left > kMaxPixelSide || box.bottom - box.top > kMaxPixelSide) return Status::Ok();
    }
    int w = box.right - box.left, h = box.bottom - box.top;
    if (w <= 0 || h <= 0) return Status::Ok();
    if (state_->GetCurrentFont().lf.lfCharSet == 2) {
      // Symbol fonts may draw beyond the record's bounds: twice the size plus 2, the text's
      // reference point at the centre, and the centre put on the reference point.
      w = 2 * w + 2;
      h = 2 * h + 2;
      box.left = ref.x - w / 2;
      box.top = ref.y - h / 2;
      box.right = box.left + w;
      box.bottom = box.top + h;
    }
    if (static_cast<long long>(w) * h > kMaxPixelArea) return Status::Ok();
    auto work = gdi::MemoryBitmap::Create(w, h, 24, reference_->dc().GetDeviceCaps(win::LOGPIXELSX));
    if (!work.ok()) return Status::Ok();  // dropped, as a chunk without a work bitmap is
    gdi::DeviceContext& dc = (*work)->dc();
    dc.SelectFont(state_->GetCurrentFont());
    dc.SetTextAlign(align & ~win::TA_UPDATECP);
    dc.SetBkMode(win::TRANSPARENT);
    dc.SetTextColor(0);
    std::vector<int> dx;
    for (std::size_t i = 0; i < t.dx.size(); ++i) dx.push_back(t.dx[i]);
    dc.ExtTextOutW(ref.x - box.left, ref.y - box.top, t.options & ~(win::ETO_OPAQUE | win::ETO_CLIPPED), nullptr, utf16,
                   dx);
    const win::COLORREF text_colour = state_->GetTextColor();
    const win::COLORREF bk_colour = state_->GetBkColor();
    if (align & win::TA_UPDATECP) {
      std::vector<uint8_t> move(16, 0);
      PutU32(move, 0, kTypeMoveTo);
      PutU32(move, 4, 16);
      PutU32(move, 8, static_cast<std::uint32_t>(ref.x));
      PutU32(move, 12, static_cast<std::uint32_t>(ref.y));
      Write(move);
    }
    auto inked = [&](int x, int y) { return ((*work)->Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF; };
    // Black on white can go as one bitmap drawn with AND, white leaving the page untouched. Any
    // other colours would need the bitmap recoloured, so each inked pixel becomes a pixel record
    // (the area bound above keeps that finite).
    if ((text_colour & 0xFFFFFF) == 0 && (bk_colour & 0xFFFFFF) == 0xFFFFFF) {
      int x0 = 0, y0 = 0, x1 = w, y1 = h;
      if (w > 32 || h > 32) {
        x0 = w, y0 = h, x1 = 0, y1 = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            if (inked(x, y)) {
              x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
            }
        if (x1 <= x0 || y1 <= y0) return Status::Ok();
      }
      WriteStretchDib(**work, box.left + x0, box.top + y0, x0, y0, x1 - x0, y1 - y0);
      return Status::Ok();
    }
    const bool opaque = (t.options & win::ETO_OPAQUE) != 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        bool ink = inked(x, y);
        if (!ink && !opaque) continue;
        std::vector<uint8_t> px(20, 0);
        PutU32(px, 0, 15);
        PutU32(px, 4, 20);
        PutU32(px, 8, static_cast<std::uint32_t>(box.left + x));
        PutU32(px, 12, static_cast<std::uint32_t>(box.top + y));
        PutU32(px, 16, ink ? text_colour : bk_colour);
        Write(px);
      }
    }
    return Status::Ok();
  }

  // One EMR_STRETCHDIBITS with a top-down 24-bit bitmap of the work bitmap's part, drawn with
  // SRCAND at its own size.
  void WriteStretchDib(const gdi::MemoryBitmap& work, int dest_x, int dest_y, int sx, int sy, int cx, int cy) {
    const std::size_t stride = (static_cast<std::size_t>(cx) * 3 + 3) & ~std::size_t{3};
    const std::size_t bits = stride * static_cast<std::size_t>(cy);
    std::vector<uint8_t> rec(120 + bits, 0);
    PutU32(rec, 0, kTypeStretchDib);
    PutU32(rec, 4, static_cast<std::uint32_t>(rec.size()));
    const std::int32_t head[] = {dest_x,
                                 dest_y,
                                 dest_x + cx - 1,
                                 dest_y + cy - 1,
                                 dest_x,
                                 dest_y,
                                 0,
                                 0,
                                 cx,
                                 cy,
                                 80,
                                 40,
                                 120,
                                 static_cast<std::int32_t>(bits),
                                 0,
                                 static_cast<std::int32_t>(win::SRCAND),
                                 cx,
                                 cy};
    std::memcpy(rec.data() + 8, head, sizeof head);
    win::BITMAPINFOHEADER bih{};
    bih.biSize = 40;
    bih.biWidth = cx;
    bih.biHeight = -cy;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = static_cast<win::DWORD>(bits);
    std::memcpy(rec.data() + 80, &bih, sizeof bih);
    for (int y = 0; y < cy; ++y) {
      uint8_t* row = rec.data() + 120 + stride * static_cast<std::size_t>(y);
      for (int x = 0; x < cx; ++x) {
        std::uint32_t p = work.Pixel(sx + x, sy + y);
        row[3 * x] = static_cast<uint8_t>(p);
        row[3 * x + 1] = static_cast<uint8_t>(p >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(p >> 16);
      }
    }
    Write(rec);
  }

  const RerecordOptions& options_;
  emf::Header header_;
  std::unique_ptr<gdi::MemoryBitmap> reference_;
  std::unique_ptr<gdi::MetafileRecorder> state_;
  std::vector<uint8_t> out_;
  std::uint32_t records_ = 0;
  std::vector<jobdoc::CharListItem> pending_;
  std::optional<win::RECTL> previous_rect_;
  bool saw_eof_ = false;
};

}  // namespace

std::uint16_t TextHeightForQuality(int q) {
  switch (q) {
    case 75:
      return 10;
    case 100:
      return 14;
    case 120:
      return 17;
    case 150:
      return 21;
    case 300:
      return 42;
    case 600:
      return 83;
    default:
      return 28;
  }
}

Result<RerecordedPage> RerecordPage(std::span<const std::uint8_t> page, const RerecordOptions& options) {
  auto player = gdi::Player::Open(page);
  if (!player.ok()) return player.status();
  PageRerecorder rr(options, player->header());
  Status s = rr.Init();
  if (!s.ok()) return s;
  s = player->Play(rr.state(), nullptr, [&](gdi::Player& p, const emf::Record& r) { return rr.Record(p, r); });
  if (!s.ok()) return s;
  return rr.Finish();
}

}  // namespace zv::capture
