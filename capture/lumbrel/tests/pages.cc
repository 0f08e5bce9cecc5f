#include "capture/lumbrel/tests/pages.h"

#include <cstring>

#include "jobdoc/private_records.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/emf/builder.h"

namespace zv::lumbrel::testing {

namespace {

emf::Writer::Options A4Device(bool landscape) {
  emf::Writer::Options o;
  o.device = landscape ? win::SIZEL{3508, 2480} : win::SIZEL{2480, 3508};
  o.millimeters = landscape ? win::SIZEL{297, 210} : win::SIZEL{210, 297};
  o.frame = landscape ? win::RECTL{0, 0, 29700, 21000} : win::RECTL{0, 0, 21000, 29700};
  return o;
}

TestPage Sized(Bytes metafile, bool landscape) {
  return landscape ? TestPage{std::move(metafile), kA4Long, kA4Short}
                   : TestPage{std::move(metafile), kA4Short, kA4Long};
}

void AddRun(emf::MetafileBuilder& b, int x, int y, const std::string& text) {
  jobdoc::TextRun run;
  run.x = x;
  run.y = y;
  run.text = text;
  b.RawBytes(*jobdoc::BuildTextRunRecord(run));
}

}  // namespace

TestPage RectanglePage(bool landscape, std::uint32_t colour, const std::string& text, std::uint32_t align) {
  const emf::Writer::Options o = A4Device(landscape);
  const int w = o.device.cx, h = o.device.cy;
  emf::MetafileBuilder b(o);
  b.RawBytes(jobdoc::BuildFontScaleRecord(42));
  b.CreateBrush(1, win::BS_SOLID, colour);
  b.SelectObject(1);
  b.CreatePen(2, win::PS_NULL, 0, 0);
  b.SelectObject(2);
  b.Rectangle(w / 5, h / 5, 2 * w / 5, 3 * h / 10);
  if (!text.empty()) {
    b.CreateFont(3, gdi::MakeLogFont("Arial", -100));
    b.SelectObject(3);
    b.SetTextAlign(align);
    AddRun(b, w / 2, h / 2, text);
  }
  return Sized(b.Build(), landscape);
}

TestPage CharListPage(const std::vector<jobdoc::CharListItem>& items, const std::string& face) {
  emf::MetafileBuilder b(A4Device(false));
  b.CreateFont(1, gdi::MakeLogFont(face, -100));
  b.SelectObject(1);
  b.RawBytes(*jobdoc::BuildCharListRecord(items));
  return Sized(b.Build(), false);
}

TestPage TextPage() {
  emf::MetafileBuilder b(A4Device(false));
  b.RawBytes(jobdoc::BuildFontScaleRecord(42));
  b.CreateFont(1, gdi::MakeLogFont("Arial", -42));
  b.SelectObject(1);
  for (int line = 0; line < 60; ++line) {
    AddRun(b, 200, 200 + line * 52, "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog.");
  }
  return Sized(b.Build(), false);
}

TestPage PhotoPage() {
  constexpr int kW = 600, kH = 800;
  win::BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = kW;
  h.biHeight = kH;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = win::BI_RGB;
  Bytes info(sizeof(h));
  std::memcpy(info.data(), &h, sizeof(h));
  const std::size_t stride = (kW * 3 + 3) / 4 * 4;
  Bytes bits(stride * kH);
  std::uint32_t seed = 12345;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1103515245 + 12345;
      const std::uint8_t noise = std::uint8_t(seed >> 24) & 0x3F;
      std::uint8_t* p = bits.data() + std::size_t(y) * stride + std::size_t(x) * 3;
      p[0] = std::uint8_t(x * 255 / kW) ^ noise;
      p[1] = std::uint8_t(y * 255 / kH) ^ noise;
      p[2] = std::uint8_t((x + y) * 255 / (kW + kH)) ^ noise;
    }
  }
  emf::MetafileBuilder b(A4Device(false));
  b.StretchDIBits(0, 0, 2480, 3508, info, bits);
  return Sized(b.Build(), false);
}

std::vector<Page> View(const std::vector<TestPage>& pages) {
  std::vector<Page> out;
  for (const TestPage& p : pages) out.push_back(Page{p.metafile, p.width, p.height});
  return out;
}

}  // namespace zv::lumbrel::testing
