// Pages per second: playing A4 pages (recorded at 300 dpi) into a 200 dpi memory bitmap.
//
// Pages: a text-heavy page, a bitmap-heavy page, two pages like those office programs print:
// a letter (text in several faces, a table, a logo of shapes) and a report recorded in
// MM_LOMETRIC (a chart with hatched and dashed shapes, a photograph reduced in HALFTONE mode,
// a table, text), and a clipping-heavy catalogue page of masked pictures. BM_PlayClippedPageSampled
// plays the catalogue with its pictures sampled instead of reduced. BM_PlayLinkedTextPage plays
// a text page whose Latin faces lack most of its characters (Japanese, Cyrillic, symbols), each
// drawn from another installed face. BM_PlayerVsPdftoppm plays the whole set and, in the same run, renders a PDF
// of the same pages made by the printer surface with `pdftoppm -r 200`, and reports both
// rates and their ratio. BM_ClearPage / BM_MemsetPage compare a whole-page solid fill with a
// memset of the page's bytes.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

extern char** environ;

namespace zv::gdi {
namespace {

constexpr int kA4W200 = 1654, kA4H200 = 2339;

Pen MakePen(win::UINT style, win::LONG width, COLORREF color, std::vector<win::DWORD> dashes = {}) {
  Pen p;
  p.style = style;
  p.width = width;
  p.color = color;
  p.extended = (style & win::PS_TYPE_MASK) == win::PS_GEOMETRIC;
  p.style_entries = std::move(dashes);
  return p;
}

// A recorder for an A4 page at 300 dpi whose text extents come from a 300 dpi bitmap.
struct PageRecording {
  std::unique_ptr<MemoryBitmap> reference;
  std::unique_ptr<MetafileRecorder> rec;

  PageRecording() {
    auto ref = MemoryBitmap::Create(8, 8, 24, 300);
    if (ref.ok()) reference = std::move(*ref);
    MetafileRecorder::Options o;
    o.frame = win::RECTL{0, 0, 21000, 29700};
    o.reference = reference ? &reference->dc() : nullptr;
    rec = std::make_unique<MetafileRecorder>(o);
  }
  std::vector<std::uint8_t> Close() {
    auto bytes = rec->Close();
    return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
  }
};

std::vector<std::uint8_t> TextPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  const Font fonts[] = {Font{MakeLogFont("ＭＳ 明朝", -42, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)},
                        Font{MakeLogFont("Arial", -38)},
                        Font{MakeLogFont("ＭＳ ゴシック", -42, win::FW_BOLD, false, win::SHIFTJIS_CHARSET)}};
  const std::u16string lines[] = {u"見積書 第12345号 株式会社ゼルボラ御中 下記の通りお見積り申し上げます。",
                                  u"Item 0042  Office print control licence, 25 seats   12,500 JPY",
                                  u"納期：受注後二週間以内　支払条件：月末締め翌月末払い　有効期限：30日"};
  for (int line = 0; line < 70; ++line) {
    const std::u16string& t = lines[line % 3];
    rec.SelectFont(fonts[line % 3]);
    std::vector<int> dx(t.size(), line % 3 == 1 ? 22 : 42);
    rec.ExtTextOutW(150, 150 + line * 46, 0, nullptr, t, dx);
  }
  rec.SelectPen(MakePen(win::PS_SOLID, 2, 0));
  for (int i = 0; i < 20; ++i) {
    rec.MoveToEx(150, 150 + i * 160);
    rec.LineTo(2330, 150 + i * 160);
  }
  return p.Close();
}

Dib Photo(int w, int h) {
  std::vector<std::uint32_t> px(size_t(w) * h);
  std::uint32_t noise = 12345;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      noise = noise * 1103515245u + 12345u;
      const int n = int((noise >> 16) & 31) - 16;
      const double fx = double(x) / w, fy = double(y) / h;
      const int r = std::clamp(int(255 * fx) + n, 0, 255);
      const int g = std::clamp(int(200 * (1 - fy) + 40 * std::sin(fx * 12)) + n, 0, 255);
      const int b = std::clamp(int(128 + 100 * std::cos(fy * 9)) + n, 0, 255);
      px[size_t(y) * w + x] = std::uint32_t(r << 16 | g << 8 | b);
    }
  }
  return EncodeDib(w, h, px, 24);
}

std::vector<std::uint8_t> BitmapPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  // Six 24-bit photographs of 800 x 600 and a 1-bit scan of the whole page at 150 dpi.
  std::vector<std::uint32_t> px(800 * 600);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) px[y * 800 + x] = std::uint32_t((x * 255 / 800) << 16 | (y * 255 / 600) << 8 | 128);
  Dib photo = EncodeDib(800, 600, px, 24);
  for (int i = 0; i < 6; ++i) {
    rec.StretchDIBits(150 + (i % 2) * 1100, 150 + (i / 2) * 1100, 1050, 800, 0, 0, 800, 600, photo.ref(), win::SRCCOPY);
  }
  Dib scan;
  const int sw = 1240, sh = 1754;
  win::BITMAPINFOHEADER h{40, sw, sh, 1, 1, win::BI_RGB, 0, 0, 0, 2, 0};
  scan.info.resize(48);
  std::memcpy(scan.info.data(), &h, 40);
  const win::RGBQUAD pal[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::memcpy(scan.info.data() + 40, pal, 8);
  const size_t stride = ((sw + 31) / 32) * 4;
  scan.bits.assign(stride * sh, 0xFF);
  for (size_t i = 0; i < scan.bits.size(); i += 7) scan.bits[i] = 0xAA;
  rec.StretchDIBits(0, 0, 2480, 3508, 0, 0, sw, sh, scan.ref(), win::SRCAND);
  return p.Close();
}

// A table of `rows` x `cols` cells from (x, y) with a shaded header row, in logical units.
void Table(MetafileRecorder& rec, int x, int y, int cell_w, int cell_h, int rows, int cols, const Font& font,
           int y_sign) {
  rec.SelectStockObject(win::NULL_PEN);
  rec.SelectBrush(Brush::Solid(win::RGB(220, 230, 242)));
  rec.Rectangle(x, y, x + cols * cell_w + 1, y + y_sign * cell_h + y_sign);
  rec.SelectPen(MakePen(win::PS_SOLID, 0, win::RGB(64, 64, 64)));
  for (int r = 0; r <= rows; ++r) {
    rec.MoveToEx(x, y + y_sign * r * cell_h);
    rec.LineTo(x + cols * cell_w, y + y_sign * r * cell_h);
  }
  for (int c = 0; c <= cols; ++c) {
    rec.MoveToEx(x + c * cell_w, y);
    rec.LineTo(x + c * cell_w, y + y_sign * rows * cell_h);
  }
  rec.SelectFont(font);
  rec.SetBkMode(win::TRANSPARENT);
  const std::u16string words[] = {u"Qty", u"品名", u"12,800", u"Toner", u"用紙A4", u"0.5%", u"合計", u"2026-12"};
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      const std::u16string& w = words[(r * 7 + c * 3) % 8];
      rec.ExtTextOutW(x + c * cell_w + cell_w / 10, y + y_sign * (r * cell_h + cell_h / 5), 0, nullptr, w);
    }
  }
}

std::vector<std::uint8_t> LetterPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  // Logo: shapes with a geometric pen.
  rec.SelectPen(MakePen(win::PS_GEOMETRIC | win::PS_SOLID | win::PS_ENDCAP_ROUND, 6, win::RGB(0, 70, 140)));
  rec.SelectBrush(Brush::Solid(win::RGB(250, 200, 60)));
  rec.Ellipse(150, 150, 400, 400);
  rec.RoundRect(430, 170, 900, 380, 60, 60);
  const POINT star[] = {{1000, 160}, {1040, 260}, {1150, 270}, {1065, 335}, {1095, 440},
                        {1000, 380}, {905, 440},  {935, 335},  {850, 270},  {960, 260}};
  rec.SetPolyFillMode(win::WINDING);
  rec.Polygon(star);
  const POINT curve[] = {{150, 470}, {700, 420}, {1500, 560}, {2330, 470}};
  rec.PolyBezier(curve);
  // Letter text in a serif face, a Japanese face and a monospaced face.
  rec.SetBkMode(win::TRANSPARENT);
  rec.SetTextColor(0);
  rec.SelectFont(Font{MakeLogFont("Liberation Serif", -75, win::FW_BOLD, false, win::ANSI_CHARSET)});
  rec.ExtTextOutW(150, 560, 0, nullptr, u"Quarterly print cost statement");
  const Font serif{MakeLogFont("Liberation Serif", -42, win::FW_NORMAL, false, win::ANSI_CHARSET)};
  const Font mincho{MakeLogFont("ＭＳ 明朝", -42, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)};
  const Font mono{MakeLogFont("DejaVu Sans Mono", -36, win::FW_NORMAL, false, win::ANSI_CHARSET)};
  const std::u16string body[] = {
      u"Dear customer, the figures below cover every sheet printed by your departments this quarter.",
      u"拝啓　平素は格別のお引き立てを賜り、厚く御礼申し上げます。今四半期の印刷実績をご報告いたします。",
      u"Colour pages fell by twelve per cent after the new rules; duplex printing rose to sixty per cent.",
      u"PRINTER-07  4F-EAST   pages=18,422  colour=2,904  duplex=11,090",
  };
  for (int line = 0; line < 16; ++line) {
    rec.SelectFont(line % 4 == 1 ? mincho : line % 4 == 3 ? mono : serif);
    rec.ExtTextOutW(150, 700 + line * 58, 0, nullptr, body[line % 4]);
  }
  Table(rec, 150, 1700, 270, 70, 18, 8, Font{MakeLogFont("Arial", -34)}, 1);
  rec.SelectFont(Font{MakeLogFont("ＭＳ Ｐゴシック", -30, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
  rec.ExtTextOutW(150, 3100, 0, nullptr, u"株式会社ゼルボラ　東京都千代田区丸の内1-2-3　電話 03-1234-5678");
  return p.Close();
}

std::vector<std::uint8_t> ReportPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  // Recorded in tenths of a millimetre, y upwards, as office programs often do.
  rec.SetMapMode(win::MM_LOMETRIC);
  rec.SetBkMode(win::TRANSPARENT);
  rec.SelectFont(Font{MakeLogFont("Arial", -60, win::FW_BOLD)});
  rec.ExtTextOutW(150, -150, 0, nullptr, u"Pages by department, fourth quarter");
  // Chart: a pie and bars with hatched brushes, axes with a user-styled dashed pen.
  const COLORREF colours[] = {win::RGB(200, 60, 60), win::RGB(60, 140, 200), win::RGB(90, 170, 90),
                              win::RGB(230, 170, 40)};
  rec.SelectPen(MakePen(win::PS_SOLID, 3, 0));
  const POINT radials[] = {{1150, -750}, {650, -250}, {200, -550}, {450, -1200}, {1150, -750}};
  for (int i = 0; i < 4; ++i) {
    rec.SelectBrush(Brush::Solid(colours[i]));
    rec.Pie(RECT{150, -250, 1150, -1250}, radials[i].x, radials[i].y, radials[i + 1].x, radials[i + 1].y);
  }
  for (int i = 0; i < 12; ++i) {
    rec.SelectBrush(Brush{win::BS_HATCHED, colours[i % 4], win::DWORD(i % 6), nullptr});
    rec.Rectangle(1250 + i * 60, -1250, 1295 + i * 60, -1250 + 80 + (i * 37) % 850);
  }
  rec.SelectPen(
      MakePen(win::PS_GEOMETRIC | win::PS_USERSTYLE | win::PS_ENDCAP_FLAT, 4, win::RGB(80, 80, 80), {30, 15}));
  for (int k = 0; k <= 5; ++k) {
    rec.MoveToEx(1250, -1250 + k * 170);
    rec.LineTo(1980, -1250 + k * 170);
  }
  // A photograph reduced to about half its pixels.
  rec.SetStretchBltMode(win::HALFTONE);
  static const Dib photo = Photo(1200, 900);
  rec.StretchDIBits(150, -1350, 900, -675, 0, 0, 1200, 900, photo.ref(), win::SRCCOPY);
  rec.SelectFont(Font{MakeLogFont("ＭＳ Ｐゴシック", -35, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)});
  for (int line = 0; line < 12; ++line) {
    rec.ExtTextOutW(1100, -1400 - line * 55, 0, nullptr,
                    line % 2 ? u"本社ビル4階のカラー印刷は前期比12%減少しました。"
                             : u"Duplex printing is now the default for every department.");
  }
  Table(rec, 150, -2150, 230, 55, 12, 8,
        Font{MakeLogFont("Liberation Sans", -28, win::FW_NORMAL, false, win::ANSI_CHARSET)}, -1);
  return p.Close();
}

// A page of many masked bitmaps, each shown through a small clip: a catalogue of 14 x 10
// cells, each with a 24-bit picture of 320 x 240 laid out as Windows programs draw transparent
// pictures (the mask ANDed, then the picture ORed) of which the cell's clip shows a part, and
// a caption. Played at 200 dpi every picture is reduced; `stretch_mode` is the mode the page
// sets (COLORONCOLOR only samples, the cost of such a page before reductions combined pixels).
std::vector<std::uint8_t> ClippedPage(int stretch_mode) {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  constexpr int kPw = 320, kPh = 240;
  const Dib picture = Photo(kPw, kPh);
  std::vector<std::uint32_t> mpx(size_t(kPw) * kPh);
  for (int y = 0; y < kPh; ++y) {
    for (int x = 0; x < kPw; ++x) {
      const double dx = (x - kPw / 2.0) / (kPw / 2.0), dy = (y - kPh / 2.0) / (kPh / 2.0);
      mpx[size_t(y) * kPw + x] = dx * dx + dy * dy <= 1 ? 0 : 0xFFFFFF;  // black inside the oval
    }
  }
  const Dib mask = EncodeDib(kPw, kPh, mpx, 24);
  rec.SetStretchBltMode(stretch_mode);
  rec.SetBkMode(win::TRANSPARENT);
  rec.SelectFont(Font{MakeLogFont("Liberation Sans", -24)});
  constexpr int kCols = 10, kRows = 14, kCellW = 216, kCellH = 230;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      const int x = 150 + c * kCellW, y = 150 + r * kCellH;
      rec.SaveDC();
      rec.IntersectClipRect(x + 4, y + 4, x + kCellW - 4, y + kCellH - 30);
      // The picture is placed off the cell's corner as a layout program crops it.
      const int px = x - (c * 37) % 100, py = y - (r * 53) % 60;
      rec.StretchDIBits(px, py, kPw, kPh, 0, 0, kPw, kPh, mask.ref(), win::SRCAND);
      rec.StretchDIBits(px, py, kPw, kPh, 0, 0, kPw, kPh, picture.ref(), win::SRCPAINT);
      rec.RestoreDC(-1);
      rec.ExtTextOutW(x + 4, y + kCellH - 28, 0, nullptr, u"No. 0" + std::u16string(1, char16_t(u'A' + c)));
    }
  }
  return p.Close();
}

struct NamedPage {
  const char* name;
  std::vector<std::uint8_t> bytes;
};

const std::vector<NamedPage>& Pages() {
  static const std::vector<NamedPage> pages = {
      {"text", TextPage()},     {"bitmap", BitmapPage()},
      {"letter", LetterPage()}, {"report", ReportPage()},
      {"clipped", ClippedPage(win::BLACKONWHITE)}};
  return pages;
}

Status PlayOnto(MemoryBitmap& bmp, const std::vector<std::uint8_t>& page) {
  RECT dest{0, 0, kA4W200, kA4H200};
  bmp.dc().PatBlt(0, 0, kA4W200, kA4H200, win::WHITENESS);
  return PlayMetafile(bmp.dc(), page, &dest);
}

void BM_PlayPage(benchmark::State& state) {
  const NamedPage& page = Pages()[size_t(state.range(0))];
  state.SetLabel(page.name);
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (page.bytes.empty() || !bmp.ok()) {
    state.SkipWithError("cannot build the page");
    return;
  }
  for (auto _ : state) {
    Status s = PlayOnto(**bmp, page.bytes);
    if (!s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      return;
    }
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["page_bytes"] = double(page.bytes.size());
}
BENCHMARK(BM_PlayPage)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// A text page whose faces lack most of its characters: Japanese, Cyrillic and symbols in Latin
// faces, each drawn from an installed face that has it.
std::vector<std::uint8_t> LinkedTextPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  const Font fonts[] = {Font{MakeLogFont("Arial", -38)}, Font{MakeLogFont("Times New Roman", -40)},
                        Font{MakeLogFont("Courier New", -36, win::FW_BOLD)}};
  const std::u16string lines[] = {u"Order 0042: 見積書 株式会社ゼルボラ御中 納期は受注後二週間以内です。",
                                  u"Счёт № 17 → оплачено ✓ Ωμέγα ①②③ 日本語の文章 Sample 123",
                                  u"SKU-7781 カタカナとひらがな 数量 12 単価 ¥1,250 合計 ¥15,000"};
  for (int line = 0; line < 60; ++line) {
    rec.SelectFont(fonts[line % 3]);
    rec.ExtTextOutW(150, 150 + line * 52, 0, nullptr, lines[line % 3], {});
  }
  return p.Close();
}

void BM_PlayLinkedTextPage(benchmark::State& state) {
  static const std::vector<std::uint8_t> page = LinkedTextPage();
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (page.empty() || !bmp.ok()) {
    state.SkipWithError("cannot build the page");
    return;
  }
  for (auto _ : state) {
    Status s = PlayOnto(**bmp, page);
    if (!s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      return;
    }
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayLinkedTextPage)->Unit(benchmark::kMillisecond);

// The clipped page with pictures sampled, not reduced by combining pixels.
void BM_PlayClippedPageSampled(benchmark::State& state) {
  static const std::vector<std::uint8_t> page = ClippedPage(win::COLORONCOLOR);
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (page.empty() || !bmp.ok()) {
    state.SkipWithError("cannot build the page");
    return;
  }
  for (auto _ : state) {
    if (Status s = PlayOnto(**bmp, page); !s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      return;
    }
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayClippedPageSampled)->Unit(benchmark::kMillisecond);

// Runs a program and waits for it; gives its exit status (-1 when it cannot start).
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int st = 0;
  if (waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void BM_PlayerVsPdftoppm(benchmark::State& state) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/zv_play_bench_XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const fs::path dir = tmpl;
  const std::string pdf = (dir / "pages.pdf").string();
  {
    auto printer = PrinterSurface::Create(pdf, 200);
    if (!printer.ok()) {
      state.SkipWithError("cannot create the PDF");
      return;
    }
    for (const NamedPage& page : Pages()) {
      auto dc = (*printer)->StartPage(kA4W200, kA4H200);
      if (!dc.ok()) break;
      RECT dest{0, 0, kA4W200, kA4H200};
      (void)PlayMetafile(**dc, page.bytes, &dest);
      (void)(*printer)->EndPage();
    }
    (void)(*printer)->Close();
  }
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (!bmp.ok()) {
    state.SkipWithError("no bitmap");
    return;
  }
  using Clock = std::chrono::steady_clock;
  double player_s = 0, pdftoppm_s = 0;
  std::size_t pages = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (const NamedPage& page : Pages()) (void)PlayOnto(**bmp, page.bytes);
    auto t1 = Clock::now();
    const int rc = Run({"pdftoppm", "-r", "200", pdf, (dir / "out").string()});
    auto t2 = Clock::now();
    if (rc != 0) {
      state.SkipWithError("pdftoppm failed (is poppler-utils installed?)");
      break;
    }
    player_s += std::chrono::duration<double>(t1 - t0).count();
    pdftoppm_s += std::chrono::duration<double>(t2 - t1).count();
    pages += Pages().size();
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() == ".ppm") fs::remove(e.path());
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (pages == 0 || player_s <= 0 || pdftoppm_s <= 0) return;
  state.counters["player_pages_per_s"] = double(pages) / player_s;
  state.counters["pdftoppm_pages_per_s"] = double(pages) / pdftoppm_s;
  state.counters["player_over_pdftoppm"] = pdftoppm_s / player_s;
}
BENCHMARK(BM_PlayerVsPdftoppm)->Unit(benchmark::kMillisecond)->Iterations(5);

// A whole-page fill against a memset of the page's bytes.
void BM_ClearPage(benchmark::State& state) {
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (!bmp.ok()) {
    state.SkipWithError("no bitmap");
    return;
  }
  DeviceContext& dc = (*bmp)->dc();
  const Brush grey = Brush::Solid(win::RGB(240, 240, 240));
  const Region page(RECT{0, 0, kA4W200, kA4H200});
  dc.SelectBrush(grey);
  dc.SelectStockObject(win::NULL_PEN);
  const char* labels[] = {"PatBlt WHITENESS", "PatBlt PATCOPY solid", "FillRgn solid", "Rectangle solid"};
  for (auto _ : state) {
    switch (state.range(0)) {
      case 0:
        dc.PatBlt(0, 0, kA4W200, kA4H200, win::WHITENESS);
        break;
      case 1:
        dc.PatBlt(0, 0, kA4W200, kA4H200, win::PATCOPY);
        break;
      case 2:
        dc.FillRgn(page, grey);
        break;
      default:
        dc.Rectangle(0, 0, kA4W200 + 1, kA4H200 + 1);
        break;
    }
  }
  state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_ClearPage)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_MemsetPage(benchmark::State& state) {
  std::vector<std::uint8_t> page(size_t(kA4W200) * kA4H200 * 4);
  for (auto _ : state) {
    std::memset(page.data(), 0xFF, page.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemsetPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zv::gdi

BENCHMARK_MAIN();
