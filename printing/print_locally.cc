#include "printing/print_locally.h"

namespace zv::printing {

PrintJobSpec LocalJobSpec(const LocalPrintSettings& s, const std::string& document_name) {
  PrintJobSpec order;
  order.printer = s.printer;
  order.document_name = document_name;
  order.layout_mode = LayoutModeFromSettings(s.pages_per_sheet, s.page_order);
  order.chosen_paper = s.paper;
  order.page_range = !s.all_pages;
  order.first_page = s.first_page;
  order.last_page = s.last_page;
  order.copies = s.copies;
  order.collate = s.collate;
  order.sheet = SheetSettings{s.offset_x, s.offset_y, s.reduction, s.separators};
  return order;
}

PrintOutcome PrintDocumentLocally(PrintDocument& doc, const LocalPrintSettings& settings, spool::Spooler& spooler,
                                  SheetSurfaceFactory surfaces, LocalPrintHost* host) {
  PrintOutcome out = RunPrintJob(spooler, doc, LocalJobSpec(settings, doc.name()), std::move(surfaces), host);
  if (out.code != kPrintOk && host) host->SetResultMessage(out.code, out.lines);
  return out;
}

}  // namespace zv::printing
