#include "printing/print_locally.h"

namespace zv::printing {

PrintJobSpec LocalJobSpec(const LocalPrintSettings& s, const std::string& document_name) {
  PrintJobSpec spec;
  spec.printer = s.printer;
  spec.document_name = document_name;
  spec.layout_mode = LayoutModeFromSettings(s.pages_per_sheet, s.page_order);
  spec.chosen_paper = s.paper;
  spec.page_range = !s.all_pages;
  spec.first_page = s.first_page;
  spec.last_page = s.last_page;
  spec.copies = s.copies;
  spec.collate = s.collate;
  spec.sheet = SheetSettings{s.offset_x, s.offset_y, s.reduction, s.separators};
  return spec;
}

PrintOutcome PrintDocumentLocally(PrintDocument& doc, const LocalPrintSettings& settings,
                                  spool::Spooler& spooler, SheetSurfaceFactory surfaces,
                                  LocalPrintHost* host) {
  PrintOutcome out =
      RunPrintJob(spooler, doc, LocalJobSpec(settings, doc.name()), std::move(surfaces), host);
  if (out.code != kPrintOk && host) host->SetResultMessage(out.code, out.lines);
  return out;
}

}  // namespace zv::printing
