#include "viewer/tests/fixtures.h"

#include "platform/gdi/emf/builder.h"

namespace zv::viewer::testing {

namespace {

emf::Writer::Options A4Device() {
  emf::Writer::Options o;
  o.device = win::SIZEL{2480, 3508};
  o.millimeters = win::SIZEL{210, 297};
  o.frame = win::RECTL{0, 0, 21000, 29700};
  return o;
}

}  // namespace

Bytes BlankA4Page(std::size_t size) {
  emf::MetafileBuilder b(A4Device());
  b.Rectangle(100, 100, 400, 400);
  Bytes base = emf::MetafileBuilder(A4Device()).Rectangle(100, 100, 400, 400).Build();
  if (size == 0 || size <= base.size() + 12) return base;
  Bytes pad(size - base.size() - 12, 0x5A);
  b.Comment(pad);
  return b.Build();
}

jobdoc::PageAttributes A4(bool landscape) {
  jobdoc::PageAttributes a;
  a.word = std::uint16_t(9 | (landscape ? jobdoc::kAttrLandscape : 0));
  a.width = 2100;
  a.length = 2970;
  return a;
}

jobdoc::DocumentImage MakeDocument(int pages) {
  jobdoc::DocumentImage doc;
  doc.name = "doc";
  for (int i = 0; i < pages; ++i) {
    emf::MetafileBuilder b(A4Device());
    for (int k = 0; k <= i; ++k) b.Rectangle(10 * k, 10, 10 * k + 5, 20);
    jobdoc::DocumentPage p;
    p.metafile = b.Build();
    p.attributes = A4();
    doc.pages.push_back(std::move(p));
  }
  return doc;
}

Bytes ImageOf(const jobdoc::DocumentImage& doc) {
  auto image = jobdoc::BuildDocumentImage(doc, /*page_trailers=*/false);
  return image.ok() ? *image : Bytes{};
}

}  // namespace zv::viewer::testing
