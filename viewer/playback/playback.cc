#include "viewer/playback/playback.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "jobdoc/private_records.h"
#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/player.h"

namespace zv::playback {

using win::POINT;
using win::RECT;
using win::SIZE;

namespace {

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrSelectObject = 37;
constexpr std::uint32_t kEmrRectangle = 43;
constexpr std::uint32_t kEmrGdiComment = 70;
constexpr std::uint32_t kEmrExtSelectClipRgn = 75;
constexpr std::uint32_t kEmrBitBlt = 76;
constexpr std::uint32_t kEmrStretchBlt = 77;

constexpr const char* kGothic = "ＭＳ ゴシック";
constexpr const char* kMincho = "ＭＳ 明朝";

std::int32_t I32(std::span<const std::uint8_t> b, std::size_t off) {
  std::int32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

// Takes a coordinate computed in 64 bits; gives it held inside 32 bits, so that a damaged
// record's far-out coordinates never overflow.
int Clamp32(std::int64_t v) { return int(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)); }

void SetFace(win::LOGFONTW& lf, const char* utf8_face) {
  win::LOGFONTW made = gdi::MakeLogFont(utf8_face, 0);
  std::memcpy(lf.lfFaceName, made.lfFaceName, sizeof(lf.lfFaceName));
}


// The hook that plays a page's records onto the device context with the repairs.
class RepairingHook {
 public:
  explicit RepairingHook(PlaybackState& state) : state_(state) {}

  Status operator()(gdi::Player& player, const emf::Record& rec) {
    switch (rec.type) {
      case kEmrHeader:
        if (state_.text_scale != 0) {
          state_.text_scale = std::int64_t(player.header().device.cx) * 256 / state_.text_scale;
        }
        // The player maps the reference device onto the rectangle itself, so the header
        // needs no window and viewport rewrite here.
        return player.PlayRecord(rec);
      case kEmrSelectObject:
        return SelectObject(player, rec);
      case kEmrRectangle:
        return Rectangle(player, rec);
      case kEmrGdiComment:
        return Comment(player, rec);
      case kEmrExtSelectClipRgn:
        return ClipRegion(player, rec);
      case kEmrBitBlt:
      case kEmrStretchBlt:
        return Blit(player, rec);
      default:
        return player.PlayRecord(rec);
    }
  }

 private:
  int Height() const { return int(std::clamp<std::int64_t>(state_.text_scale, 0, 1 << 20)); }

  Status SelectObject(gdi::Player& player, const emf::Record& rec) {
    gdi::DeviceContext& dc = player.dc();
    const gdi::Font before = dc.GetCurrentFont();
    Status s = player.PlayRecord(rec);
    if (!s.ok()) return s;
    const gdi::Font after = dc.GetCurrentFont();
    if (!(after == before)) FixFont(dc, after, &state_.made_font, Height(), FixFontMode::kPlain);
    return Status::Ok();
  }

  Status Rectangle(gdi::Player& player, const emf::Record& rec) {
    if (rec.size() < 24) return player.PlayRecord(rec);
    const int l = I32(rec.bytes, 8), t = I32(rec.bytes, 12), r = I32(rec.bytes, 16), b = I32(rec.bytes, 20);
    // A rectangle of no width or height fills nothing (its right and bottom edges are
    // excluded), yet such records are meant as rules: drawn as a line instead.
    if (l != r && t != b) return player.PlayRecord(rec);
    gdi::DeviceContext& dc = player.dc();
    const POINT old = dc.GetCurrentPositionEx();
    dc.MoveToEx(l, t);
    dc.LineTo(r, b);
    dc.MoveToEx(old.x, old.y);
    return Status::Ok();
  }

  Status ClipRegion(gdi::Player& player, const emf::Record& rec) {
    Status s = player.PlayRecord(rec);
    if (!s.ok()) return s;
    if (rec.size() < 16) return Status::Ok();
    const int mode = I32(rec.bytes, 12);
    gdi::DeviceContext& dc = player.dc();
    RECT box{};
    const int kind = dc.GetClipBox(&box);
    // An empty clip would hide everything after it: taken as a recording fault and dropped.
    if (kind == win::NULLREGION || box.right <= box.left || box.bottom <= box.top) {
      dc.ExtSelectClipRgn(nullptr, win::RGN_COPY);
      return Status::Ok();
    }
    if (mode == win::RGN_COPY) {
      std::optional<gdi::Region> clip = dc.GetClipRgn();
      if (clip && clip->Kind() == win::SIMPLEREGION) {
        RECT d = clip->Box();
        // Two pixels wider and taller, so the rounding of a scaled page does not cut off the last
        // row and column the clip was meant to hold.
        d.right += 2;
        d.bottom += 2;
        gdi::Region widened(d);
        dc.ExtSelectClipRgn(&widened, win::RGN_COPY);
      }
    }
    return Status::Ok();
  }

  Status Blit(gdi::Player& player, const emf::Record& rec) {
    if (rec.size() < 44) return player.PlayRecord(rec);
    const std::uint32_t rop = std::uint32_t(I32(rec.bytes, 40));
    if (rop != win::PATCOPY) return player.PlayRecord(rec);
    const int x = I32(rec.bytes, 24), y = I32(rec.bytes, 28);
    const std::int64_t cx = I32(rec.bytes, 32), cy = I32(rec.bytes, 36);
    const int x2 = int(std::clamp<std::int64_t>(x + cx, INT32_MIN, INT32_MAX));
    const int y2 = int(std::clamp<std::int64_t>(y + cy, INT32_MIN, INT32_MAX));
    gdi::DeviceContext& dc = player.dc();
    POINT pts[2] = {{x, y}, {x2, y2}};
    dc.LPtoDP(pts);
    if (pts[0].x != pts[1].x && pts[0].y != pts[1].y) return player.PlayRecord(rec);
    // A bar thinner than a pixel: draw it as a one-pixel line in the brush's colour.
    win::COLORREF colour = dc.GetCurrentBrush().color;
    if (colour == 0) colour = 0xA0A0A0;
    gdi::Pen pen;
    pen.style = win::PS_SOLID;
    pen.width = 0;
    pen.color = colour;
    const gdi::Pen old_pen = dc.SelectPen(pen);
    const POINT old = dc.GetCurrentPositionEx();
    dc.MoveToEx(x, y);
    dc.LineTo(x2, y2);
    dc.MoveToEx(old.x, old.y);
    dc.SelectPen(old_pen);
    return Status::Ok();
  }

  Status Comment(gdi::Player& player, const emf::Record& rec) {
    Result<jobdoc::PrivateRecord> pr = jobdoc::ParsePrivateRecord(rec.bytes);
    // A damaged private record is skipped; the rest of the page still draws.
    if (!pr.ok()) return Status::Ok();
    if (pr->kind == jobdoc::PrivateRecord::Kind::kNotPrivate) return player.PlayRecord(rec);
    gdi::DeviceContext& dc = player.dc();
    if (pr->kind == jobdoc::PrivateRecord::Kind::kFontScale) {
      state_.text_scale = pr->text_height;
      if (state_.made_font) {
        win::LOGFONTW lf = *state_.made_font;
        lf.lfHeight = -Height();
        lf.lfWidth = 0;
        dc.SelectFont(gdi::Font{lf});
        state_.made_font = lf;
      }
      return Status::Ok();
    }
    // Text drawn upright even where the page flips its y axis.
    const win::XFORM saved = dc.GetWorldTransform();
    const POINT saved_pos = dc.GetCurrentPositionEx();
    const bool flipped = saved.eM22 < 0;
    if (flipped) {
      win::XFORM xf = saved;
      xf.eM12 = -xf.eM12;
      xf.eM22 = -xf.eM22;
      dc.SetWorldTransform(xf);
    }
    const int ysign = flipped ? -1 : 1;
    if (pr->kind == jobdoc::PrivateRecord::Kind::kCharList) {
      DrawCharList(dc, pr->chars, ysign);
    } else {
      DrawTextRun(dc, pr->run, ysign, pr->kind == jobdoc::PrivateRecord::Kind::kHiddenTextRun);
    }
    if (flipped) dc.SetWorldTransform(saved);
    dc.MoveToEx(saved_pos.x, saved_pos.y);
    return Status::Ok();
  }

  // Selects the Japanese variant of the current font when `japanese`; gives the font to
  // restore afterwards (none when nothing was selected).
  std::optional<gdi::Font> SelectCharset(gdi::DeviceContext& dc, bool japanese) {
    if (!japanese) return std::nullopt;
    const gdi::Font current = dc.GetCurrentFont();
    win::LOGFONTW lf = current.lf;
    if (lf.lfCharSet == win::ANSI_CHARSET) {
      lf.lfCharSet = win::SHIFTJIS_CHARSET;
    } else if (lf.lfCharSet >= 129 && lf.lfCharSet <= 254) {
      lf.lfCharSet = win::SHIFTJIS_CHARSET;
      SetFace(lf, kGothic);
    } else {
      return std::nullopt;
    }
    dc.SelectFont(gdi::Font{lf});
    return current;
  }

  void DrawCharList(gdi::DeviceContext& dc, const std::vector<jobdoc::CharListItem>& items, int ysign) {
    for (const jobdoc::CharListItem& it : items) {
      std::string ch;
      if (it.code > 0xFF) ch.push_back(char(it.code >> 8));
      ch.push_back(char(it.code & 0xFF));
      const int y = Clamp32(std::int64_t(it.y) * ysign);
      std::optional<gdi::Font> restore = SelectCharset(dc, (it.flags & 1) != 0);
      SIZE sz{};
      dc.GetTextExtentPoint32A(ch, &sz);
      POINT box[2] = {{it.x, y}, {Clamp32(std::int64_t(it.x) + sz.cx), Clamp32(std::int64_t(y) + sz.cy)}};
      dc.LPtoDP(box);
      if (std::abs(std::int64_t(box[1].x) - box[0].x) <= 1) {
        // Too small to read: a light grey box shows where the character stands.
        RECT d{std::min(box[0].x, box[1].x), std::min(box[0].y, box[1].y), std::max(box[0].x, box[1].x),
               std::max(box[0].y, box[1].y)};
        if (d.right == d.left) d.right = Clamp32(std::int64_t(d.left) + 1);
        if (d.bottom == d.top) d.bottom = Clamp32(std::int64_t(d.top) + 1);
        dc.FillRgn(gdi::Region(d), *gdi::StockBrush(win::LTGRAY_BRUSH));
      } else {
        dc.TextOutA(it.x, y, ch);
      }
      if (restore) dc.SelectFont(*restore);
    }
  }

  // A hidden run (the text of glyphs the page draws as outlines) is laid out the same way and
  // drawn without ink, for readers of the device's output.
  void DrawTextRun(gdi::DeviceContext& dc, const jobdoc::TextRun& run, int ysign, bool hidden) {
    if (run.text.empty()) return;
    const int y = Clamp32(std::int64_t(run.y) * ysign);
    std::optional<gdi::Font> restore = SelectCharset(dc, run.extension && (run.extension->flags & 1) != 0);
    const gdi::Font current = dc.GetCurrentFont();
    if (EqualsNoCase(gdi::FaceName(current.lf), "system")) {
      win::LOGFONTW lf = current.lf;
      SetFace(lf, kMincho);
      lf.lfHeight = -Height();
      lf.lfWidth = 0;
      lf.lfQuality = win::DRAFT_QUALITY;
      dc.SelectFont(gdi::Font{lf});
      if (!restore) restore = current;
    }
    RECT clip{};
    const RECT* clip_ptr = nullptr;
    win::UINT options = 0;
    if (run.extension) {
      const win::RECT& c = run.extension->clip;
      if (c.left != 0 || c.top != 0 || c.right != 0 || c.bottom != 0) {
        clip = RECT{c.left, Clamp32(std::int64_t(c.top) * ysign), c.right, Clamp32(std::int64_t(c.bottom) * ysign)};
        if (clip.top > clip.bottom) std::swap(clip.top, clip.bottom);
        clip_ptr = &clip;
        options = run.extension->options & (win::ETO_OPAQUE | win::ETO_CLIPPED);
      }
    }
    std::vector<int> dx;
    if (run.width != 0) dx = SpreadAdvances(dc, run.text, run.width);
    if (hidden) {
      dc.InvisibleTextOutA(run.x, y, options, clip_ptr, run.text, dx);
    } else {
      dc.ExtTextOutA(run.x, y, options, clip_ptr, run.text, dx);
    }
    if (restore) dc.SelectFont(*restore);
  }

  // Advances that spread the text over `width`: each character's place is its natural
  // place plus an equal share of the extra space, rounded, so no place is more than a
  // pixel from its exact value. Natural places are the running sum of the characters'
  // widths (each distinct character measured once), scaled so that the last one is the
  // whole text's extent; the work grows with the text's length, not with its square, so a
  // long run in a damaged page cannot stall the drawing. The advances are given per byte, as
  // ExtTextOutA takes them: a double-byte character's advance on its lead byte and none on
  // its trail byte (one advance per character would be too few, and nothing would be drawn).
  static std::vector<int> SpreadAdvances(gdi::DeviceContext& dc, const std::string& text, int width) {
    const std::vector<std::string_view> chars = codepage::Cp932Chars(text);
    const std::size_t n = chars.size();
    SIZE whole{};
    dc.GetTextExtentPoint32A(text, &whole);
    std::map<std::string_view, int> widths;
    std::vector<std::int64_t> ends(n);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      auto it = widths.find(chars[i]);
      if (it == widths.end()) {
        SIZE one{};
        dc.GetTextExtentPoint32A(chars[i], &one);
        it = widths.emplace(chars[i], std::max(0, int(one.cx))).first;
      }
      sum += it->second;
      ends[i] = sum;
    }
    const double fit = sum > 0 ? double(whole.cx) / double(sum) : 0.0;
    const double extra = double(width - whole.cx) / double(n);
    std::vector<int> dx;
    dx.reserve(text.size());
    int placed = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int next = int(std::lround(double(ends[i]) * fit + extra * double(i + 1)));
      dx.push_back(next - placed);
      dx.resize(dx.size() + chars[i].size() - 1, 0);
      placed = next;
    }
    return dx;
  }

  PlaybackState& state_;
};

}  // namespace

std::recursive_mutex& DrawingLock() {
  static std::recursive_mutex lock;
  return lock;
}

bool FixFont(gdi::DeviceContext& dc, const gdi::Font& font, std::optional<win::LOGFONTW>* made, int height,
             FixFontMode mode) {
  win::LOGFONTW lf = font.lf;
  bool changed = false;
  if (mode == FixFontMode::kCharset) {
    if (lf.lfCharSet == win::ANSI_CHARSET) {
      lf.lfCharSet = win::SHIFTJIS_CHARSET;
      changed = true;
    } else if (lf.lfCharSet >= 129 && lf.lfCharSet <= 254) {
      lf.lfCharSet = win::SHIFTJIS_CHARSET;
      SetFace(lf, kGothic);
      changed = true;
    }
  } else {
    win::TEXTMETRICW tm{};
    const bool metrics = dc.GetTextMetricsW(&tm);
    const std::string face = gdi::FaceName(lf);
    // Bitmap faces (System, FixedSys, any face without outlines) do not scale: they are replaced
    // by an outline Gothic face.
    if (!metrics || (tm.tmPitchAndFamily & win::TMPF_VECTOR) == 0 || face.empty() || EqualsNoCase(face, "System") ||
        EqualsNoCase(face, "FixedSys")) {
      SetFace(lf, kGothic);
      lf.lfQuality = win::DRAFT_QUALITY;
      if (lf.lfHeight == 0) {
        lf.lfHeight = -height;
        lf.lfWidth = 0;
      }
      changed = true;
    }
    // Windows in its compatible mode turns each glyph by the escapement whatever the orientation
    // says; the orientation is made to match so the drawing agrees.
    if (lf.lfEscapement != 0 && lf.lfOrientation != lf.lfEscapement) {
      lf.lfOrientation = lf.lfEscapement;
      changed = true;
    }
  }
  if (!changed) return false;
  dc.SelectFont(gdi::Font{lf});
  if (made) *made = lf;
  return true;
}

Status HookPlayer(gdi::Player& player, gdi::DeviceContext& dc, const win::RECT* rect, PlaybackState& state) {
  RepairingHook hook(state);
  return player.Play(dc, rect, std::ref(hook));
}

int PlayRepaired(std::span<const std::uint8_t> metafile, gdi::DeviceContext& dc, const win::RECT& rect,
                 PlaybackState& state) {
  if (metafile.empty()) return 0;
  Result<gdi::Player> player = gdi::Player::Open(metafile);
  if (!player.ok()) return 0;
  (void)HookPlayer(*player, dc, &rect, state);
  state.made_font.reset();
  return 1;
}

}  // namespace zv::playback
