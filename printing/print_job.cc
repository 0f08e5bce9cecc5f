#include "printing/print_job.h"

#include <algorithm>

#include "printing/rpqcprtd.h"

namespace zv::printing {

namespace {

PrintOutcome Failed(PrintOutcome out, std::vector<std::string> lines, const Status& why) {
  out.code = kPrintFailed;
  out.lines = std::move(lines);
  out.detail = why.ToString();
  return out;
}

}  // namespace

PrintOutcome RunPrintJob(spool::Spooler& spooler, PrintDocument& doc, const PrintJobSpec& order,
                         SheetSurfaceFactory surfaces, PrintJobObserver* observer) {
  PrintJobObserver quiet;
  PrintJobObserver& notify = observer ? *observer : quiet;
  PrintOutcome out;
  out.layout_mode = order.layout_mode;
  const std::vector<std::string> not_selectable{kPrinterNotSelectableMessage, order.printer};
  const std::vector<std::string> failed{kPrintFailedMessage, order.printer};

  if (!IsLayoutMode(order.layout_mode)) {
    return Failed(out, failed, Status::InvalidArgument("unknown layout mode " + std::to_string(order.layout_mode)));
  }
  // The run, cut to the document's pages.
  const int count = doc.page_count();
  int from = order.page_range ? order.first_page : 1;
  int to = order.page_range ? order.last_page : count;
  from = std::max(from, 1);
  to = std::min(to, count);
  out.from = from;
  out.to = to;
  if (from > to) {
    return Failed(out, failed, Status::InvalidArgument("no pages to print"));
  }
  const int run_pages = to - from + 1;

  // The print dialog object carries the selection; it is never shown.
  std::uint32_t flags = PD_HIDEPRINTTOFILE | PD_ENABLEPRINTTEMPLATE | PD_NOSELECTION;
  if (order.page_range) flags |= PD_PAGENUMS;
  if (order.collate) flags |= PD_COLLATE;
  CRpqcprtd dlg(false, flags, nullptr, order.trace);
  dlg.m_pd.nMinPage = 1;
  dlg.m_pd.nMaxPage = static_cast<std::uint16_t>(count);
  dlg.m_pd.nFromPage = static_cast<std::uint16_t>(from);
  dlg.m_pd.nToPage = static_cast<std::uint16_t>(to);
  const int copies = DecideCopies(order.copies);
  if (copies == 0) {
    return Failed(out, failed, Status::InvalidArgument("more than " + std::to_string(kMaxCopies) + " copies"));
  }
  dlg.m_pd.nCopies = static_cast<std::uint16_t>(copies);
  dlg.binding_kind = order.layout_mode;
  dlg.paper_flag = order.chosen_paper != -1;

  auto names = spooler.DevNames(order.printer);
  if (!names.ok()) return Failed(out, not_selectable, names.status());
  auto base = spooler.DefaultDevMode(order.printer);
  if (!base.ok()) return Failed(out, not_selectable, base.status());
  auto caps = spooler.GetCapabilities(order.printer);
  if (!caps.ok()) return Failed(out, not_selectable, caps.status());
  dlg.m_pd.hDevNames = std::move(*names);

  FitRequest fit_request;
  fit_request.layout_mode = order.layout_mode;
  fit_request.chosen_paper = order.chosen_paper;
  fit_request.run_pages = run_pages;
  fit_request.copies = dlg.GetCopies();
  fit_request.collate = (flags & PD_COLLATE) != 0;
  fit_request.first_page = doc.page(from - 1);
  fit_request.printer_max_copies = caps->max_copies;
  FitResult fit = FitDevMode(*base, caps->papers, fit_request);
  out.layout_mode = fit.layout_mode;
  out.device_copies = fit.copies.device_copies;
  out.passes = fit.copies.passes;
  dlg.binding_kind = fit.layout_mode;
  dlg.m_pd.hDevMode = fit.mode;

  auto created = dlg.CreatePrinterDC(spooler, std::move(surfaces));
  if (!created.ok()) return Failed(out, not_selectable, created.status());
  PrinterDC& dc = **created;
  out.devmode = dc.devmode();

  if (Status s = dc.StartDoc(order.document_name); !s.ok()) {
    out.job_id = dc.job_id();  // a job started and then removed keeps its id
    return Failed(out, failed, s);
  }
  out.job_id = dc.job_id();
  out.submitted = dc.submitted();
  notify.OnDocumentStarted(out.job_id, out.submitted);

  RunState& run = doc.run();
  run.label_total = LabelTotal(run_pages, fit.layout_mode);
  run.first_page = from;
  notify.OnPrintingStarted();

  // One page per side without a chosen paper follows each page's paper and orientation:
  // every page but the job's very first gets the device reset to its own paper.
  const bool page_by_page = fit.layout_mode == kModeOneUp && !fit.paper_chosen;
  Status reset_error;
  for (int pass = 0; pass < fit.copies.passes; ++pass) {
    notify.SetProgress(0);
    run.numbering_base = from - 1;
    if (page_by_page) {
      for (int page = from; page <= to; ++page) {
        if (pass > 0 || page != from) {
          Status s = dc.ResetDC(DevModeForPage(fit.mode, doc.page(page - 1)));
          if (!s.ok() && reset_error.ok()) reset_error = s;
        }
        out.sides += RenderSheet(doc, dc, page, page, kModeOneUp, order.sheet, &notify);
      }
    } else {
      out.sides += RenderSheet(doc, dc, from, to, fit.layout_mode, order.sheet, &notify);
    }
  }
  notify.OnPrintingFinished();

  // A job that could not be drawn as asked is removed rather than submitted.
  const int expected = fit.copies.passes * LabelTotal(run_pages, fit.layout_mode);
  Status problem = dc.page_error();
  if (problem.ok()) problem = reset_error;
  if (problem.ok() && out.sides != expected) {
    problem =
        Status::IOError("printed " + std::to_string(out.sides) + " of " + std::to_string(expected) + " sheet sides");
  }
  if (!problem.ok()) {
    (void)dc.AbortDoc();  // `problem` is the error reported; the abort only tidies the queue
    return Failed(out, failed, problem);
  }
  if (Status ended = dc.EndDoc(); !ended.ok()) return Failed(out, failed, ended);
  return out;
}

}  // namespace zv::printing
