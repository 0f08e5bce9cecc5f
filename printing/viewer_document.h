// The viewer's print-document object as the print job's document: its pages, page drawing,
// header and footer and page placeholders, with the fields of the current run kept beside it.
#pragma once

#include "printing/print_document.h"

namespace zv::viewer {
class CViewerDocBase;
}

namespace zv::printing {

class ViewerPrintDocument : public PrintDocument {
 public:
  // Takes the viewer document, which must outlive this object.
  explicit ViewerPrintDocument(viewer::CViewerDocBase& doc) : doc_(doc) {}

  std::string name() const override;
  int page_count() const override;
  // The page's attribute word with its stored width as the first size value and its length
  // as the second.
  PageFacts page(int index) const override;
  void RenderPage(gdi::DeviceContext& dc, int resolution, int index, const win::RECT& rect) override;
  HeaderFooter header_footer() const override;
  bool ReplacePagePlaceholders(std::string_view text, int page, int total, std::string* out) const override;
  RunState& run() override { return run_; }

 private:
  viewer::CViewerDocBase& doc_;
  RunState run_;
};

}  // namespace zv::printing
