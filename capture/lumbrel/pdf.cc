// The PDF converter: each page becomes a JPEG picture of everything but its text, drawn by the
// repairing playback, with the text of its private text records above it as PDF text, placed
// where the picture would have drawn it.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "capture/lumbrel/convert.h"
#include "capture/lumbrel/image_files.h"
#include "jobdoc/private_records.h"
#include "pdfwriter/quorvel.h"
#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/player.h"
#include "platform/paths/paths.h"
#include "viewer/playback/playback.h"

namespace zv::lumbrel {

namespace {

using win::POINT;
using win::RECT;
using win::SIZE;

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrSetMetaRgn = 28;
constexpr std::uint32_t kEmrExcludeClipRect = 29;
constexpr std::uint32_t kEmrIntersectClipRect = 30;
constexpr std::uint32_t kEmrSelectClipPath = 67;
constexpr std::uint32_t kEmrGdiComment = 70;
constexpr std::uint32_t kEmrExtSelectClipRgn = 75;
constexpr std::uint32_t kEmrExtTextOutW = 84;
constexpr std::uint32_t kEmrSmallTextOut = 108;

// A text record whose characters are UTF-16 (wide text CP932 cannot hold, kept as it is).
bool IsWideText(const emf::Record& rec, emf::Text* out) {
  if (rec.type != kEmrExtTextOutW && rec.type != kEmrSmallTextOut) return false;
  Result<emf::Text> t = emf::ReadText(rec);
  if (!t.ok() || !t->wide || t->count == 0) return false;
  *out = *t;
  return true;
}

// Records that only put pixels on the page: the text pass, which plays the page again only
// to follow the drawing state, passes over them.
bool OnlyDrawsPixels(std::uint32_t type) {
  switch (type) {
    case 76:   // BITBLT
    case 77:   // STRETCHBLT
    case 78:   // MASKBLT
    case 79:   // PLGBLT
    case 80:   // SETDIBITSTODEVICE
    case 81:   // STRETCHDIBITS
    case 114:  // ALPHABLEND
    case 116:  // TRANSPARENTBLT
    case 118:  // GRADIENTFILL
      return true;
    default:
      return false;
  }
}

// A private folder for the page pictures, removed with everything in it.
class TempDir {
 public:
  static Result<TempDir> Create() {
    Result<std::string> tmp = paths::TempFolder();
    if (!tmp.ok()) return tmp.status();
    std::string pattern = *tmp + "/lumbrel-XXXXXX";
    if (!::mkdtemp(pattern.data())) return Status::IOError("cannot create a folder in " + *tmp);
    return TempDir(pattern);
  }
  TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempDir& operator=(TempDir&&) = delete;
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  explicit TempDir(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// Takes a metafile; gives a copy without its comment records (the header's length and record
// count patched), so the picture carries nothing of the private text records.
Result<std::vector<std::uint8_t>> WithoutComments(const emf::Metafile& mf) {
  std::vector<std::uint8_t> out;
  out.reserve(mf.bytes().size());
  std::uint32_t records = 0;
  Status s = emf::ForEachRecord(mf, [&](const emf::Record& r) {
    if (r.type == kEmrGdiComment) return Status::Ok();
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    ++records;
    return Status::Ok();
  });
  if (!s.ok()) return s;
  if (out.size() < 56) return Status::Corruption("page without header");
  const auto bytes = std::uint32_t(out.size());
  std::memcpy(out.data() + 48, &bytes, 4);
  std::memcpy(out.data() + 52, &records, 4);
  return out;
}

// Takes an installed face name; gives the Windows face of the same design and metrics that the
// writer's catalogue holds (Liberation and URW's clones of Times, Helvetica and Courier), or
// null.
const char* KnownFaceOfDesign(const std::string& face) {
  std::string folded;
  for (char ch : face) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c)) folded.push_back(static_cast<char>(std::tolower(c)));
  }
  struct Design {
    const char* prefix;
    const char* face;
  };
  static constexpr Design kDesigns[] = {
      {"liberationserif", "Times New Roman"}, {"nimbusroman", "Times New Roman"}, {"times", "Times New Roman"},
      {"liberationsans", "Arial"},            {"nimbussans", "Arial"},            {"helvetica", "Arial"},
      {"liberationmono", "Courier New"},      {"nimbusmono", "Courier New"},
  };
  for (const Design& d : kDesigns)
    if (folded.rfind(d.prefix, 0) == 0) return d.face;
  return nullptr;
}


// The frame a saved page is written in: the page's own (rotation 0), or, when the page's text
// runs down, upside down or up (a page turned by its document), the frame in which that text
// is upright. The page is then written in that frame and shown turned back (/Rotate), so its
// text reads line by line rather than in columns of single characters.
struct PageFrame {
  int rotation = 0;  // 0, 90 (text runs down), 180, 270 (text runs up)
  int width = 0, height = 0;  // the device page, pixels
  int frame_width() const { return rotation == 90 || rotation == 270 ? height : width; }
  int frame_height() const { return rotation == 90 || rotation == 270 ? width : height; }
  // Device pixel (x, y down) to the frame's (u, v down).
  void Map(double x, double y, double* u, double* v) const {
    switch (rotation) {
      case 90:
        *u = y, *v = width - x;
        return;
      case 180:
        *u = width - x, *v = height - y;
        return;
      case 270:
        *u = height - y, *v = x;
        return;
      default:
        *u = x, *v = y;
    }
  }
};

// Takes the direction a text record's baseline runs in, device pixels (y down); gives the
// page turn that makes it upright.
int TurnOf(double dx, double dy) {
  if (std::abs(dx) >= std::abs(dy)) return dx >= 0 ? 0 : 180;
  return dy > 0 ? 90 : 270;
}

// Plays the page to follow its drawing state and weighs its private text by the direction its
// baselines run in; gives the turn of the text when more than half of its characters share one.
int TextTurn(gdi::Player& player, gdi::DeviceContext& dc, const RECT& rect) {
  std::size_t chars[4] = {0, 0, 0, 0}, total = 0;
  (void)player.Play(dc, &rect, [&](gdi::Player& p, const emf::Record& rec) -> Status {
    if (OnlyDrawsPixels(rec.type)) return Status::Ok();
    std::size_t n = 0;
    POINT at{0, 0};
    emf::Text wide;
    if (IsWideText(rec, &wide)) {
      n = wide.count;
      at = POINT{wide.reference.x, wide.reference.y};
    } else if (rec.type != kEmrGdiComment) {
      return p.PlayRecord(rec);
    }
    if (n == 0) {
      Result<jobdoc::PrivateRecord> pr = jobdoc::ParsePrivateRecord(rec.bytes);
      if (!pr.ok()) return Status::Ok();
      if (pr->kind == jobdoc::PrivateRecord::Kind::kCharList && !pr->chars.empty()) {
        n = pr->chars.size();
        at = POINT{pr->chars[0].x, pr->chars[0].y};
      } else if (pr->kind == jobdoc::PrivateRecord::Kind::kTextRun ||
                 pr->kind == jobdoc::PrivateRecord::Kind::kHiddenTextRun) {
        n = pr->run.text.size();
        at = POINT{pr->run.x, pr->run.y};
      }
    }
    if (n == 0) return Status::Ok();
    // The baseline runs along x turned by the font's escapement (tenths of a degree,
    // counter-clockwise as seen), then through the world transform: a run may be turned by
    // either, as applications draw turned text.
    const double esc = p.dc().GetCurrentFont().lf.lfEscapement / 10.0 * std::numbers::pi / 180.0;
    POINT d[2] = {at, {at.x + static_cast<int>(std::lround(1024 * std::cos(esc))),
                       at.y - static_cast<int>(std::lround(1024 * std::sin(esc)))}};
    p.dc().LPtoDP(d);
    chars[TurnOf(double(d[1].x - d[0].x), double(d[1].y - d[0].y)) / 90] += n;
    total += n;
    return Status::Ok();
  });
  for (int k = 1; k < 4; ++k)
    if (chars[k] * 2 > total) return k * 90;
  return 0;
}

// The text pass of one page: plays the page again to follow its drawing state, turns its
// private text records into writer text calls and its clip records into clip rectangles.
class TextPass {
 public:
  TextPass(CQuorvel& writer, const PageFrame& frame)
      : writer_(writer), frame_(frame), page_height_(frame.frame_height()) {
    text_height_ = std::int64_t(frame.width) * 1536 / kDefaultDpi;
  }

  Status operator()(gdi::Player& player, const emf::Record& rec) {
    if (rec.type == kEmrHeader) {
      if (text_height_ > 0) text_height_ = std::int64_t(player.header().device.cx) * 256 / text_height_;
      return player.PlayRecord(rec);
    }
    if (rec.type == kEmrGdiComment) return Comment(player.dc(), rec);
    if (OnlyDrawsPixels(rec.type)) return Status::Ok();
    emf::Text wide;
    if (IsWideText(rec, &wide)) {
      WideText(player.dc(), wide);
      // The picture draws the text; it is played here only to move the current position.
      if (!(player.dc().GetTextAlign() & win::TA_UPDATECP)) return Status::Ok();
    }
    Status s = player.PlayRecord(rec);
    if (!s.ok()) return s;
    switch (rec.type) {
      case kEmrSetMetaRgn:
      case kEmrExcludeClipRect:
      case kEmrIntersectClipRect:
      case kEmrSelectClipPath:
      case kEmrExtSelectClipRgn:
        Clip(player.dc());
        break;
      default:
        break;
    }
    return Status::Ok();
  }

  // Writes the pending run.
  void Flush() {
    if (!run_.active) return;
    run_.active = false;
    if (run_.text.empty()) return;
    writer_.SetFont(run_.font, float(run_.size));
    writer_.SetTextPos(float(run_.x), float(page_height_ - run_.y));
    writer_.SetTextColor(run_.colour);
    writer_.SetTextRenderMode(run_.hidden ? 3 : 0);
    writer_.ContinueText(run_.text.c_str());
    ++runs_written_;
  }

  int runs_written() const { return runs_written_; }

 private:
  struct Run {
    bool active = false;
    int font = -1;
    double size = 0;
    win::COLORREF colour = 0;
    double x = 0, y = 0;
    double last_x = 0, last_advance = 0;
    std::string text;
    bool hidden = false;  // invisible text: the glyphs are the picture's
  };

  // The drawing facts shared by the characters of one record.
  struct TextStyle {
    int font = -1;         // writer font of the current face
    int system_font = -1;  // writer font "System" (two-byte text of a non-Japanese font)
    bool japanese = false;
    double size = 0;                 // pixels
    double ascent = 0, descent = 0;  // pixels
    double sx = 1;                   // pixels per logical unit along x
    win::UINT align = 0;
    win::COLORREF colour = 0;
    bool hidden = false;
  };

  // Pixels per logical unit along x and y, from the device context's mapping.
  static void Scales(const gdi::DeviceContext& dc, double* sx, double* sy) {
    constexpr int kProbe = 4096;
    POINT p[3] = {{0, 0}, {kProbe, 0}, {0, kProbe}};
    dc.LPtoDP(p);
    *sx = std::hypot(double(p[1].x - p[0].x), double(p[1].y - p[0].y)) / kProbe;
    *sy = std::hypot(double(p[2].x - p[0].x), double(p[2].y - p[0].y)) / kProbe;
  }

  TextStyle Style(gdi::DeviceContext& dc) {
    TextStyle st;
    const gdi::Font current = dc.GetCurrentFont();
    const win::LOGFONTW& lf = current.lf;
    std::string face = gdi::FaceName(lf);
    std::int64_t height = std::abs(std::int64_t(lf.lfHeight));
    if (EqualsNoCase(face, "system")) {
      face = "System";
      height = text_height_;
    }
    const bool bold = lf.lfWeight > 699, italic = lf.lfItalic != 0;
    st.font = writer_.FindFont(face.c_str(), bold, italic);
    if (st.font == -1) {
      // An installed clone or metric twin of a classic design is written as the face the
      // writer knows for that design, which readers of the PDF substitute alike.
      if (const char* known = KnownFaceOfDesign(face)) st.font = writer_.FindFont(known, bold, italic);
    }
    st.system_font = writer_.FindFont("System", bold, italic);
    if (st.font == -1) st.font = st.system_font;
    st.japanese = lf.lfCharSet == win::SHIFTJIS_CHARSET;
    win::TEXTMETRICW tm{};
    const bool metrics = dc.GetTextMetricsW(&tm);
    if (height == 0 && metrics) height = tm.tmHeight;
    double sy = 1;
    Scales(dc, &st.sx, &sy);
    st.size = double(height) * sy;
    if (metrics) {
      st.ascent = tm.tmAscent * sy;
      st.descent = tm.tmDescent * sy;
    }
    st.align = dc.GetTextAlign();
    st.colour = dc.GetTextColor();
    return st;
  }

  // Gives the device point of a record's reference point, moved to the baseline.
  POINT Origin(gdi::DeviceContext& dc, const TextStyle& st, int x, int y, double* baseline_y) {
    POINT p = (st.align & win::TA_UPDATECP) ? dc.GetCurrentPositionEx() : POINT{x, y};
    dc.LPtoDP(std::span<POINT>(&p, 1));
    double by = p.y;
    if ((st.align & win::TA_BASELINE) == win::TA_BASELINE) {
    } else if (st.align & win::TA_BOTTOM) {
      by -= st.descent;
    } else {
      by += st.ascent;
    }
    *baseline_y = by;
    return p;
  }

  // Moves a start x left by the text's width for right and centre alignment.
  static double Aligned(const TextStyle& st, double x, double width) {
    if ((st.align & win::TA_CENTER) == win::TA_CENTER) return x - width / 2;
    if (st.align & win::TA_RIGHT) return x - width;
    return x;
  }

  double ExtentPixels(gdi::DeviceContext& dc, const TextStyle& st, std::string_view ch) {
    SIZE sz{};
    dc.GetTextExtentPoint32A(ch, &sz);
    return double(sz.cx) * st.sx;
  }

  Status Comment(gdi::DeviceContext& dc, const emf::Record& rec) {
    Result<jobdoc::PrivateRecord> pr = jobdoc::ParsePrivateRecord(rec.bytes);
    if (!pr.ok()) return Status::Ok();  // a damaged private record is passed over
    switch (pr->kind) {
      case jobdoc::PrivateRecord::Kind::kNotPrivate:
        return Status::Ok();
      case jobdoc::PrivateRecord::Kind::kFontScale:
        text_height_ = pr->text_height;
        return Status::Ok();
      case jobdoc::PrivateRecord::Kind::kCharList: {
        const TextStyle st = Style(dc);
        for (const jobdoc::CharListItem& it : pr->chars) {
          std::string ch;
          if (it.code > 0xFF) ch.push_back(char(it.code >> 8));
          ch.push_back(char(it.code & 0xFF));
          if (ch.find('\0') != std::string::npos) continue;
          double y = 0;
          const POINT p = Origin(dc, st, it.x, it.y, &y);
          const double advance = ExtentPixels(dc, st, ch);
          double u = 0, v = 0;
          frame_.Map(Aligned(st, p.x, advance), y, &u, &v);
          AddChar(st, ch, u, v, advance);
        }
        return Status::Ok();
      }
      case jobdoc::PrivateRecord::Kind::kTextRun:
      case jobdoc::PrivateRecord::Kind::kHiddenTextRun: {
        TextStyle st = Style(dc);
        st.hidden = pr->kind == jobdoc::PrivateRecord::Kind::kHiddenTextRun;
        const std::vector<std::string_view> chars = codepage::Cp932Chars(pr->run.text);
        if (chars.empty()) return Status::Ok();
        std::vector<double> advances;
        advances.reserve(chars.size());
        double total = 0;
        for (std::string_view ch : chars) {
          advances.push_back(ExtentPixels(dc, st, ch));
          total += advances.back();
        }
        if (pr->run.width != 0) {
          // A run stretched to its width: the difference is spread over the characters.
          const double extra = (double(pr->run.width) * st.sx - total) / double(chars.size());
          for (double& a : advances) a += extra;
          total = double(pr->run.width) * st.sx;
        }
        double y = 0;
        const POINT p = Origin(dc, st, pr->run.x, pr->run.y, &y);
        // Along the run's baseline, which the frame makes its x axis.
        double x = 0, v = 0;
        frame_.Map(Aligned(st, p.x, total), y, &x, &v);
        for (std::size_t i = 0; i < chars.size(); ++i) {
          if (chars[i].find('\0') == std::string::npos) AddChar(st, std::string(chars[i]), x, v, advances[i]);
          x += advances[i];
        }
        return Status::Ok();
      }
    }
    return Status::Ok();
  }

  // Wide text (characters CP932 cannot hold): the picture draws its glyphs from a font, and
  // its characters go above them as invisible text in the writer's Unicode font, each where
  // the record's advances (or the font's own widths) put it.
  void WideText(gdi::DeviceContext& dc, const emf::Text& t) {
    const std::u16string text = t.Utf16();
    if (text.empty()) return;
    const TextStyle st = Style(dc);
    const int font = writer_.FindUnicodeFont();
    if (font == -1 || st.size < 1) return;
    const bool pdy = (t.options & win::ETO_PDY) != 0;
    std::vector<float> advances;
    advances.reserve(text.size());
    double total = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      double a = 0;
      const std::size_t k = pdy ? 2 * i : i;
      if (k < t.dx.size()) {
        a = double(t.dx[k]) * st.sx;
      } else {
        SIZE one{};
        if (dc.GetTextExtentPoint32W(std::u16string_view(text).substr(i, 1), &one)) a = double(one.cx) * st.sx;
      }
      advances.push_back(float(a));
      total += a;
    }
    double y = 0;
    const POINT p = Origin(dc, st, t.reference.x, t.reference.y, &y);
    double u = 0, v = 0;
    frame_.Map(Aligned(st, p.x, total), y, &u, &v);
    Flush();
    writer_.SetFont(font, float(st.size));
    writer_.SetTextPos(float(u), float(page_height_ - v));
    writer_.SetTextColor(st.colour);
    writer_.SetTextRenderMode(3);
    writer_.ContinueTextW(text.data(), int(text.size()), advances.data());
    ++runs_written_;
  }

  void AddChar(const TextStyle& st, const std::string& ch, double x, double y, double advance) {
    const bool two_byte = ch.size() == 2;
    const int font = (two_byte && !st.japanese) ? st.system_font : st.font;
    if (font == -1) return;  // the writer knows not even "System"
    // A character further along the same line than the run's end by more than a sixth of the
    // text height (up to two heights) stands after a word gap that the page gives only by its
    // place: text whose spaces were dropped, or advances that leave room. The gap becomes a
    // space in the run's text: the writer's fonts need not be as narrow as the page's, so a
    // word placed where the page has it could overlap the one before, and a reader of the
    // PDF's text would see one word.
    const bool same_line = run_.active && std::abs(y - run_.y) <= 2;
    const double gap = same_line ? x - (run_.last_x + run_.last_advance) : 0;
    const bool after_space = run_.active && !run_.text.empty() && run_.text.back() == ' ';
    const bool word_gap = same_line && gap > 2 && (after_space || gap > run_.size / 6);
    const bool space = word_gap && !after_space;
    const bool same_style = run_.active && font == run_.font && st.colour == run_.colour &&
                            std::abs(st.size - run_.size) < 0.01 && st.hidden == run_.hidden;
    const bool room = 512 - int(run_.text.size()) - int(ch.size()) - (space ? 1 : 0) > 2;
    // Two pixels of slack for the rounding of advances: characters that follow one another on
    // a line join one run.
    const bool continues =
        same_style && room && same_line && (std::abs(gap) <= 2 || (word_gap && gap <= 2 * run_.size));
    if (!continues) {
      // A farther gap or another style still ends the run with a space, for readers that part
      // words by their text alone.
      if (space && run_.text.size() < 509) run_.text += ' ';
      Flush();
      run_ = Run{true, font, st.size, st.colour, x, y, x, advance, "", st.hidden};
    } else if (space) {
      run_.text += ' ';
    }
    run_.text += ch;
    run_.last_x = x;
    run_.last_advance = advance;
  }

  // After a clip record: the writer's clipping becomes the page's clip box.
  void Clip(gdi::DeviceContext& dc) {
    RECT box{};
    const int kind = dc.GetClipBox(&box);
    if (kind == win::RGN_ERROR) return;
    POINT p[2] = {{box.left, box.top}, {box.right, box.bottom}};
    dc.LPtoDP(p);
    double u[2], v[2];
    for (int k = 0; k < 2; ++k) frame_.Map(p[k].x, p[k].y, &u[k], &v[k]);
    const int left = int(std::min(u[0], u[1])), right = int(std::max(u[0], u[1]));
    const int top = int(std::min(v[0], v[1])), bottom = int(std::max(v[0], v[1]));
    // Text gathered so far belongs to the clipping it was drawn under.
    Flush();
    // A clip in PDF can only narrow: to replace it, the state saved before any clip is restored
    // and saved again, then the new clip applied.
    writer_.Restore();
    writer_.Save();
    writer_.ClipRect(left, page_height_ - bottom, right - left, bottom - top, 0);
  }

  CQuorvel& writer_;
  PageFrame frame_;
  int page_height_;
  std::int64_t text_height_ = 0;
  Run run_;
  int runs_written_ = 0;
};

// Takes the page's picture and its frame; gives the picture in the frame (turned so its text
// is upright).
gdi::Dib Turned(const gdi::Dib& dib, const PageFrame& frame) {
  Result<gdi::DecodedDib> d = gdi::DecodeDib(dib.ref());
  if (!d.ok() || d->width != frame.width || d->height != frame.height) return dib;
  const int fw = frame.frame_width(), fh = frame.frame_height();
  std::vector<std::uint32_t> px(std::size_t(fw) * fh, 0xFFFFFF);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      double u = 0, v = 0;
      // Pixel centres: the pixel at (x, y) covers x..x+1.
      frame.Map(x + 0.5, y + 0.5, &u, &v);
      const int pu = std::clamp(int(std::floor(u)), 0, fw - 1), pv = std::clamp(int(std::floor(v)), 0, fh - 1);
      px[std::size_t(pv) * fw + pu] = d->pixels[std::size_t(y) * frame.width + x] & 0xFFFFFF;
    }
  }
  return gdi::EncodeDib(fw, fh, px);
}

// Writes one page: picture, then text.
Status WritePage(CQuorvel& writer, const Page& page, const std::string& jpeg_path) {
  Result<emf::Metafile> mf = emf::Metafile::Parse(page.metafile);
  if (!mf.ok()) return mf.status();
  Result<PixelSize> size = SizeAtResolution(page.width, page.height, kDefaultDpi);
  if (!size.ok()) return size.status();
  Result<std::vector<std::uint8_t>> picture = WithoutComments(*mf);
  if (!picture.ok()) return picture.status();
  Result<std::unique_ptr<gdi::MemoryBitmap>> bitmap = RenderPage(*picture, *size, 24, kDefaultDpi);
  if (!bitmap.ok()) return bitmap.status();
  gdi::Dib dib = (*bitmap)->ToDib();

  // The passes below play the page again on the same bitmap: its picture is taken already.
  const win::RECT rect{0, 0, size->width, size->height};
  std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
  PageFrame frame;
  frame.width = size->width;
  frame.height = size->height;
  {
    Result<gdi::Player> player = gdi::Player::Open(page.metafile);
    if (!player.ok()) return player.status();
    frame.rotation = TextTurn(*player, (*bitmap)->dc(), rect);
  }
  if (frame.rotation != 0) dib = Turned(dib, frame);
  Status s = WriteJpeg(jpeg_path, dib, kDefaultDpi, kJpegQuality);
  if (!s.ok()) return s;

  writer.BeginPage(float(frame.frame_width()), float(frame.frame_height()));
  writer.SetPageRotation(frame.rotation);
  const int image = writer.OpenImageFile("jpeg", jpeg_path.c_str(), "", 1);
  if (image == 0) return Status::IOError("the PDF writer cannot read " + jpeg_path);
  writer.PlaceImage(image, 1, 1, 1);
  writer.Save();

  Result<gdi::Player> player = gdi::Player::Open(page.metafile);
  if (!player.ok()) return player.status();
  TextPass pass(writer, frame);
  (void)player->Play((*bitmap)->dc(), &rect, std::ref(pass));
  pass.Flush();
  writer.Restore();
  writer.EndPage();
  return Status::Ok();
}

}  // namespace

Status ConvertToPdf(std::string_view output, std::span<const Page> pages) {
  if (pages.empty()) return Status::InvalidArgument("no pages");
  const std::string path(output);
  if (path.empty() || path.back() == '/') return Status::InvalidArgument("no output file name");
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;

  Result<TempDir> temp = TempDir::Create();
  if (!temp.ok()) return temp.status();
  std::string stem = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
  if (stem.empty()) stem = "page";

  // Destroyed on every way out: a document that was not closed is dropped, leaving no file,
  // and the writer is sound for the next one.
  CQuorvel writer;
  writer.SetParameter("compatibility", "1.4");
  if (writer.Open(path.c_str()) == -1) return Status::IOError("the PDF writer cannot open " + path);
  writer.SetInfo("Title", "pDaimei");
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string jpeg = temp->path() + "/" + stem + std::to_string(i) + ".jpg";
    Status s = WritePage(writer, pages[i], jpeg);
    if (!s.ok()) return s;
  }
  writer.SetParameter("openaction", "retain");
  writer.SetParameter("openmode", "none");
  writer.SetParameter("transition", "box");
  writer.Close();

  // The writer reports nothing from Close: the file must be there, and not the old one.
  struct stat after {};
  if (::stat(path.c_str(), &after) != 0 ||
      (existed && after.st_dev == before.st_dev && after.st_ino == before.st_ino)) {
    return Status::IOError("the PDF writer could not write " + path);
  }
  return Status::Ok();
}

}  // namespace zv::lumbrel
