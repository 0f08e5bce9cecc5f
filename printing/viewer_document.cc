#include "printing/viewer_document.h"

#include "viewer/viewer_doc.h"

namespace zv::printing {

std::string ViewerPrintDocument::name() const { return doc_.name(); }

int ViewerPrintDocument::page_count() const { return doc_.page_count(); }

PageFacts ViewerPrintDocument::page(int index) const {
  viewer::ViewerPage* p = doc_.page(index);
  if (!p) return PageFacts{};
  return PageFactsFromAttributes(p->attributes(), p->width(), p->length());
}

void ViewerPrintDocument::RenderPage(gdi::DeviceContext& dc, int resolution, int index, const win::RECT& rect) {
  if (index < 0 || index >= page_count()) return;
  doc_.RenderPage(dc, resolution, 1, static_cast<std::int16_t>(index), &rect);
}

HeaderFooter ViewerPrintDocument::header_footer() const {
  HeaderFooter hf;
  doc_.GetHeaderFooterFont(&hf.font);
  viewer::HeaderFooterTexts header, footer;
  doc_.GetHeaderFooter(&hf.points, &header, &footer, &hf.rule);
  hf.texts[0] = header.left;
  hf.texts[1] = header.centre;
  hf.texts[2] = header.right;
  hf.texts[3] = footer.left;
  hf.texts[4] = footer.centre;
  hf.texts[5] = footer.right;
  return hf;
}

bool ViewerPrintDocument::ReplacePagePlaceholders(std::string_view text, int page, int total, std::string* out) const {
  return doc_.ReplacePagePlaceholders(text, page, out, total) != 0;
}

}  // namespace zv::printing
