// Pages per second: playing a text-heavy and a bitmap-heavy A4 page (recorded at 300 dpi)
// into a 200 dpi memory bitmap.
#include <benchmark/benchmark.h>

#include <cstring>

#include "platform/gdi/player.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"

namespace zv::gdi {
namespace {

constexpr int kA4W200 = 1654, kA4H200 = 2339;

std::vector<std::uint8_t> TextPage() {
  MetafileRecorder::Options o;
  MetafileRecorder rec(o);
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
  rec.SelectPen(Pen{win::PS_SOLID, 2, 0});
  for (int i = 0; i < 20; ++i) {
    rec.MoveToEx(150, 150 + i * 160);
    rec.LineTo(2330, 150 + i * 160);
  }
  auto bytes = rec.Close();
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> BitmapPage() {
  MetafileRecorder::Options o;
  MetafileRecorder rec(o);
  // Six 24-bit photographs of 800 x 600 and a 1-bit scan of the whole page at 150 dpi.
  std::vector<std::uint32_t> px(800 * 600);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) px[y * 800 + x] = std::uint32_t((x * 255 / 800) << 16 | (y * 255 / 600) << 8 | 128);
  Dib photo = EncodeDib(800, 600, px, 24);
  for (int i = 0; i < 6; ++i) {
    rec.StretchDIBits(150 + (i % 2) * 1100, 150 + (i / 2) * 1100, 1050, 800, 0, 0, 800, 600, photo.ref(),
                      win::SRCCOPY);
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
  auto bytes = rec.Close();
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

void PlayPage(benchmark::State& state, const std::vector<std::uint8_t>& page) {
  auto bmp = MemoryBitmap::Create(kA4W200, kA4H200, 24, 200);
  if (page.empty() || !bmp.ok()) {
    state.SkipWithError("cannot build the page");
    return;
  }
  RECT dest{0, 0, kA4W200, kA4H200};
  for (auto _ : state) {
    (*bmp)->dc().PatBlt(0, 0, kA4W200, kA4H200, win::WHITENESS);
    Status s = PlayMetafile((*bmp)->dc(), page, &dest);
    if (!s.ok()) {
      state.SkipWithError(s.ToString().c_str());
      return;
    }
  }
  state.counters["pages_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["page_bytes"] = double(page.size());
}

void BM_PlayTextPage(benchmark::State& state) {
  static const auto page = TextPage();
  PlayPage(state, page);
}
BENCHMARK(BM_PlayTextPage)->Unit(benchmark::kMillisecond);

void BM_PlayBitmapPage(benchmark::State& state) {
  static const auto page = BitmapPage();
  PlayPage(state, page);
}
BENCHMARK(BM_PlayBitmapPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zv::gdi

BENCHMARK_MAIN();
