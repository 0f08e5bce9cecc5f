// The EMF corpus of the drawing layer's benchmarks (emf_corpus.h): each page recorded by the
// metafile recorder against a 300 dpi reference bitmap.
#include "bench/gdi/emf_corpus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi::corpus {
namespace {

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

// Latin text only, as a brochure or a manual's page prints it: 70 lines of body text, headings,
// notes, captions, code and a table in twelve faces (a serif body in its regular, italic and
// bold, sans headings and table, monospaced code, sidebars, notes and quotes in other classic
// designs), some lines with advances.
std::vector<std::uint8_t> LatinTextPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  const Font fonts[] = {Font{MakeLogFont("Times New Roman", -42)},
                        Font{MakeLogFont("Times New Roman", -42, win::FW_NORMAL, true)},
                        Font{MakeLogFont("Times New Roman", -42, win::FW_BOLD)},
                        Font{MakeLogFont("Arial", -50, win::FW_BOLD)},
                        Font{MakeLogFont("Arial", -34)},
                        Font{MakeLogFont("Courier New", -36)},
                        Font{MakeLogFont("Courier New", -36, win::FW_BOLD)},
                        Font{MakeLogFont("Palatino Linotype", -34)},
                        Font{MakeLogFont("Bookman Old Style", -30)},
                        Font{MakeLogFont("Century Schoolbook", -36, win::FW_NORMAL, true)},
                        Font{MakeLogFont("Palatino Linotype", -40, win::FW_NORMAL, true)},
                        Font{MakeLogFont("ITC Avant Garde Gothic", -40)}};
  const std::u16string lines[] = {
      u"The licensee may print on every printer of the site; pages are counted per account and month.",
      u"Quotas renew on the first day of each month at 00:00 local time, as Appendix B explains.",
      u"Warning: a job that exceeds the remaining quota is held until an administrator releases it.",
      u"4.2 Quotas and their renewal",
      u"Printer   Floor   Pages    Colour   Duplex   Jams",
      u"lpadmin -p Office -E -v ipp://printer.example/ipp/print -m everywhere",
      u"PRINTER-07  4F-EAST   pages=18,422  colour=2,904  duplex=11,090",
      u"Tip: the monitor shows every printer's state and the jobs waiting for it.",
      u"Note 3: figures are rounded to whole pages; blank sheets are not counted.",
      u"Figure 7: pages printed per department, fourth quarter.",
      u"\u201CDuplex printing is now the default for every department.\u201D",
      u"Total cost = pages \u00D7 rate + colour pages \u00D7 surcharge (per month)."};
  for (int line = 0; line < 70; ++line) {
    const int k = line % 12;
    const std::u16string& t = lines[k];
    rec.SelectFont(fonts[k]);
    if (k == 4 || k == 6) {
      std::vector<int> dx(t.size(), 22);
      rec.ExtTextOutW(150, 150 + line * 46, 0, nullptr, t, dx);
    } else {
      rec.ExtTextOutW(150, 150 + line * 46, 0, nullptr, t);
    }
  }
  return p.Close();
}

// A letter-like page of text and lines with a title band and a marked line inverted over it
// (raster operations over two parts of the page: each becomes a picture of its own).
std::vector<std::uint8_t> InvertedTitlePage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  rec.SelectBrush(Brush::Solid(win::RGB(200, 220, 255)));
  rec.Rectangle(150, 150, 2330, 330);
  rec.SelectFont(Font{MakeLogFont("Arial", -75, win::FW_BOLD)});
  rec.ExtTextOutW(180, 190, 0, nullptr, u"Monthly print report  月次印刷報告");
  const Font body[] = {Font{MakeLogFont("ＭＳ 明朝", -42, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)},
                       Font{MakeLogFont("Arial", -38)}};
  const std::u16string lines[] = {u"見積書 下記の通りお見積り申し上げます。納期：受注後二週間以内",
                                  u"Item 0042  Office print control licence, 25 seats   12,500 JPY"};
  for (int line = 0; line < 60; ++line) {
    rec.SelectFont(body[line % 2]);
    rec.ExtTextOutW(150, 400 + line * 50, 0, nullptr, lines[line % 2]);
  }
  rec.SelectPen(MakePen(win::PS_SOLID, 2, 0));
  for (int i = 0; i < 20; ++i) {
    rec.MoveToEx(150, 400 + i * 150);
    rec.LineTo(2330, 400 + i * 150);
  }
  rec.PatBlt(150, 150, 1000, 180, win::DSTINVERT);
  rec.PatBlt(150, 1398, 2180, 50, win::DSTINVERT);
  return p.Close();
}

// A drawing program's page: a grid of lines drawn with the pen XORed onto the page (a binary
// raster operation of the pen: the whole sheet is printed as pixels), over text and a picture.
std::vector<std::uint8_t> XorPenPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  static const Dib photo = Photo(600, 450);
  rec.SetStretchBltMode(win::COLORONCOLOR);
  rec.StretchDIBits(1230, 150, 1100, 825, 0, 0, 600, 450, photo.ref(), win::SRCCOPY);
  rec.SelectFont(Font{MakeLogFont("Liberation Sans", -34)});
  for (int line = 0; line < 55; ++line) {
    rec.ExtTextOutW(150, 1050 + line * 44, 0, nullptr,
                    u"Layer 3: cable trays, sockets and the printers of the fourth floor (east wing).");
  }
  rec.SetROP2(win::R2_XORPEN);
  rec.SelectPen(MakePen(win::PS_SOLID, 3, win::RGB(0, 160, 255)));
  for (int i = 0; i < 30; ++i) {
    rec.MoveToEx(150, 150 + i * 110);
    rec.LineTo(2330, 150 + i * 110);
    rec.MoveToEx(150 + i * 72, 150);
    rec.LineTo(150 + i * 72, 3340);
  }
  rec.SetROP2(win::R2_COPYPEN);
  return p.Close();
}

// A proof-read page: 24 words marked by inverting them with a coloured brush (more raster areas
// than pictures are worth: the whole sheet is printed as pixels), with two photographs.
std::vector<std::uint8_t> ManyHighlightsPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  static const Dib photo = Photo(800, 600);
  rec.SetStretchBltMode(win::HALFTONE);
  rec.StretchDIBits(150, 150, 1000, 750, 0, 0, 800, 600, photo.ref(), win::SRCCOPY);
  rec.StretchDIBits(1330, 150, 1000, 750, 0, 0, 800, 600, photo.ref(), win::SRCCOPY);
  const Font fonts[] = {Font{MakeLogFont("Times New Roman", -40)},
                        Font{MakeLogFont("ＭＳ ゴシック", -40, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)}};
  const std::u16string lines[] = {u"The draft of the quarterly statement, with the figures still to be checked.",
                                  u"校正刷り：数字と固有名詞を確認してください。第三四半期の報告書。"};
  for (int line = 0; line < 50; ++line) {
    rec.SelectFont(fonts[line % 2]);
    rec.ExtTextOutW(150, 1000 + line * 48, 0, nullptr, lines[line % 2]);
  }
  rec.SelectBrush(Brush::Solid(win::RGB(255, 255, 0)));
  for (int i = 0; i < 24; ++i) {
    rec.PatBlt(150 + (i * 331) % 1900, 1000 + i * 96, 260, 46, win::PATINVERT);
  }
  return p.Close();
}

// Text turned by escapements and by a world transform, as a chart's axis titles and a
// stamp are drawn.
std::vector<std::uint8_t> TurnedTextPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  for (int k = 0; k < 12; ++k) {
    Font f{MakeLogFont(k % 2 ? "Arial" : "ＭＳ Ｐゴシック", -40, win::FW_NORMAL, false,
                       k % 2 ? win::ANSI_CHARSET : win::SHIFTJIS_CHARSET)};
    f.lf.lfEscapement = f.lf.lfOrientation = (k * 300) % 3600;
    rec.SelectFont(f);
    for (int line = 0; line < 5; ++line) {
      rec.ExtTextOutW(400 + (k % 3) * 800, 500 + (k / 3) * 800 + line * 50, 0, nullptr,
                      k % 2 ? u"Axis: pages per month" : u"承認済　経理部　２０２６年");
    }
  }
  rec.SetGraphicsMode(win::GM_ADVANCED);
  XFORM turn{0.8660254f, 0.5f, -0.5f, 0.8660254f, 1240, 1700};
  rec.SetWorldTransform(turn);
  rec.SelectFont(Font{MakeLogFont("Liberation Serif", -90, win::FW_BOLD)});
  rec.ExtTextOutW(-600, 0, 0, nullptr, u"COPY  複製禁止  COPY");
  return p.Close();
}

// A form: thin rules, hatched and dashed boxes and small text in many cells.
std::vector<std::uint8_t> FormPage() {
  PageRecording p;
  MetafileRecorder& rec = *p.rec;
  rec.SetBkMode(win::TRANSPARENT);
  Table(rec, 150, 150, 240, 60, 20, 9,
        Font{MakeLogFont("ＭＳ Ｐ明朝", -28, win::FW_NORMAL, false, win::SHIFTJIS_CHARSET)}, 1);
  for (int i = 0; i < 18; ++i) {
    rec.SelectBrush(Brush{win::BS_HATCHED, win::RGB(60, 60, 60), win::DWORD(i % 6), nullptr});
    rec.SelectPen(MakePen(i % 2 ? win::PS_DASH : win::PS_DOT, 1, win::RGB(0, 0, 120)));
    rec.Rectangle(150 + (i % 6) * 360, 1500 + (i / 6) * 300, 450 + (i % 6) * 360, 1750 + (i / 6) * 300);
  }
  Table(rec, 150, 2450, 310, 55, 15, 7, Font{MakeLogFont("Arial", -26)}, 1);
  return p.Close();
}

}  // namespace

const std::vector<CorpusPage>& Pages() {
  static const std::vector<CorpusPage> pages = {
      {"01-latin-text", LatinTextPage()},
      {"02-quote-text", TextPage()},
      {"03-linked-text", LinkedTextPage()},
      {"04-bitmap", BitmapPage()},
      {"05-letter", LetterPage()},
      {"06-report", ReportPage()},
      {"07-catalogue", ClippedPage(win::BLACKONWHITE)},
      {"08-catalogue-sampled", ClippedPage(win::COLORONCOLOR)},
      {"09-inverted-title", InvertedTitlePage()},
      {"10-xor-pen", XorPenPage()},
      {"11-many-highlights", ManyHighlightsPage()},
      {"12-turned-text", TurnedTextPage()},
      {"13-form", FormPage()},
  };
  return pages;
}

const CorpusPage* Page(std::string_view name) {
  for (const CorpusPage& p : Pages()) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace zv::gdi::corpus
