#include "engine/hevrasto/engine_doc.h"

#include <unistd.h>

#include <filesystem>

#include "engine/core/clock.h"
#include "engine/hevrasto/print_records.h"
#include "jobdoc/container.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/surfaces.h"
#include "platform/paths/paths.h"

namespace zv::engine {
namespace fsys = std::filesystem;

namespace {
constexpr char kDriverExempt[][24] = {"KANDREL Velloran 110", "KANDREL Velloran 120", "KANDREL Velloran 130",
                                      "KANDREL Velloran 210", "KANDREL Velloran 220", "KANDREL Velloran 310"};

std::string ToUtf8(const std::string& ansi) {
  auto u = codepage::Cp932ToUtf8(ansi, codepage::OnError::kSubstitute);
  return u.ok() ? *u : ansi;
}
}  // namespace

std::vector<std::string> PrinterNotSelectedLines(const std::string& printer) {
  return {"指定されたプリンタを選択できませんでした。", printer};
}

void CHevrastoDoc::OnNewDocument() {
  document_.reset();
  pages_.reset();
  name_.clear();
  printer_.clear();
  job_id_ = 0;
  submitted_ = {};
}

bool CHevrastoDoc::OnOpenDocument(const std::string& path, CRequestResult& result) {
  OnNewDocument();
  jobdoc::UnpackResult unpacked = jobdoc::UnpackDocumentFile(path);
  if (unpacked.ok()) {
    const jobdoc::UnpackedDocument& d = *unpacked.document;
    auto image = jobdoc::ReadDocumentImage(d.image(), d.has_page_trailers());
    if (image.ok() && image->format.page_count > 0 && !image->pages.empty()) {
      auto pages = std::make_unique<viewer::CViewerDoc>();
      bool loaded = true;
      for (const jobdoc::DocumentPage& page : image->pages) {
        const jobdoc::PageAttributes& a = page.attributes;
        uint32_t flags = (a.landscape() ? 2u : 0u) | (a.rotated() ? 1u : 0u);
        if (!pages->AppendData(0x8000, a.word, a.width, a.length, page.metafile, flags, 0)) {
          loaded = false;
          break;
        }
      }
      if (!loaded) {
        result.SetResultMessage(kResultJobNotOpened);
        return false;
      }
      pages_ = std::move(pages);
      document_ = std::move(*image);
      name_ = d.version == 1 || document_->name.empty() ? d.job_name : ToUtf8(document_->name);
      return true;
    }
  }
  result.SetResultMessage(kResultJobNotOpened);
  return false;
}

uint32_t CHevrastoDoc::FindSpooledJob(win::SYSTEMTIME* out) const {
  if (out) *out = job_id_ ? spool::ToLocalTime(submitted_) : win::SYSTEMTIME{};
  return job_id_;
}

Status CHevrastoDoc::Render(const CRequestInfo& request, const spool::DevMode& mode, const spool::Capabilities& caps,
                            int first, int last, int passes, const std::string& pdf, int* sheets) {
  spool::JobOptions opts = spool::ResolveJobOptions(mode, caps);
  int dpi = opts.resolution.x > 0 ? opts.resolution.x : 300;
  auto surface = gdi::PrinterSurface::Create(pdf, dpi);
  if (!surface.ok()) return surface.status();
  for (int pass = 0; pass < passes; ++pass) {
    for (int p = first; p <= last; ++p) {
      const jobdoc::DocumentPage& page = document_->pages[p - 1];
      spool::JobOptions po = opts;
      po.orientation = page.attributes.landscape() ? win::DMORIENT_LANDSCAPE : win::DMORIENT_PORTRAIT;
      spool::PageGeometry g = spool::GeometryFor(po);
      auto dc = (*surface)->StartPage(g.physical_width, g.physical_height);
      if (!dc.ok()) return dc.status();
      win::RECT dest{0, 0, g.physical_width, g.physical_height};
      pages_->RenderPage(**dc, dpi, 0, static_cast<int16_t>(p - 1), &dest);
      Status e = (*surface)->EndPage();
      if (!e.ok()) return e;
    }
  }
  auto closed = (*surface)->Close();
  if (!closed.ok()) return closed.status();
  *sheets = *closed;
  return Status::Ok();
}

int CHevrastoDoc::PrintRequest(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
                               const PrinterRecord& printer, std::vector<PrintLogRecord>* log) {
  log->clear();
  job_id_ = 0;
  if (!document_) {
    result.SetResultMessage(kResultPrintFailed, {"ドキュメントの取得に失敗しました。"});
    return result.ResultCode;
  }
  printer_ = request.DeviceName;
  auto info = spooler_.GetPrinter(request.DeviceName);
  auto caps = info.ok() ? spooler_.GetCapabilities(request.DeviceName) : Result<spool::Capabilities>(info.status());
  auto base = caps.ok() ? spooler_.DefaultDevMode(request.DeviceName) : Result<spool::DevMode>(caps.status());
  if (!base.ok()) {
    result.SetResultMessage(kResultPrintFailed, PrinterNotSelectedLines(request.DeviceName));
    return result.ResultCode;
  }
  PageRange range = RequestRange(request, page_count());
  int mode = LayoutModeFor(request.ThumbnailCount, request.Orientation);
  int copies = request.Copies > 0 ? request.Copies : 1;
  const jobdoc::DocumentPage& first = document_->pages[range.first - 1];

  spool::DevMode in = *base;
  in.dm.dmFields = win::DM_ORIENTATION | win::DM_PAPERSIZE | win::DM_COPIES | win::DM_COLLATE;
  bool mark = request.PaperSize != -1;
  int16_t target = static_cast<int16_t>(mark ? request.PaperSize : first.attributes.paper_code());
  if (!caps->FindPaper(target)) target = base->dm.dmPaperSize;  // a paper the printer lacks: its current one
  in.dm.dmPaperSize = target;
  in.dm.dmOrientation = first.attributes.landscape() ? win::DMORIENT_LANDSCAPE : win::DMORIENT_PORTRAIT;
  in.dm.dmCopies = static_cast<int16_t>(request.Collate ? 1 : std::min(copies, 32767));
  in.dm.dmCollate = 0;
  spool::DevMode mode_used = spool::MergeDevMode(*base, in, *caps);

  std::string doc_name = request.Jobs.empty() ? name_ : request.Jobs.front().name;
  auto job = spooler_.StartDoc(request.DeviceName, spool::DocInfo{doc_name}, mode_used);
  if (!job.ok()) {
    result.SetResultMessage(kResultPrintFailed, PrinterNotSelectedLines(request.DeviceName));
    return result.ResultCode;
  }
  job_id_ = (*job)->id();
  submitted_ = (*job)->submitted();

  auto tmp = paths::TempFolder();
  std::string pdf = (tmp.ok() ? *tmp : std::string("/tmp")) + "/hevrasto-" + std::to_string(getpid()) + "-" +
                    std::to_string(job_id_) + ".pdf";
  int sheets = 0;
  Status rendered = Render(request, mode_used, *caps, range.first, range.last, request.Collate ? copies : 1, pdf, &sheets);
  Status ended = rendered.ok() ? (*job)->WriteDocument(pdf, sheets) : rendered;
  if (ended.ok()) ended = (*job)->End();
  std::error_code ec;
  fsys::remove(pdf, ec);
  if (!ended.ok()) {
    (*job)->Abort();
    result.SetResultMessage(kResultPrintFailed, {"印刷に失敗しました。", ended.message()});
    return result.ResultCode;
  }

  win::SYSTEMTIME local{};
  uint32_t id = FindSpooledJob(&local);
  DateTimeValue when = LocalDateTime(std::chrono::system_clock::now());
  if (id > 0) {
    when.date = local.wYear * 10000 + local.wMonth * 100 + local.wDay;
    when.time = local.wHour * 10000 + local.wMinute * 100 + local.wSecond;
  }
  *log = BuildPrintLogRows(request, range, mode, copies, user.UID, printer, when.date, when.time);
  CheckPrintedJobStatus(result);
  return result.ResultCode;
}

void CHevrastoDoc::CheckPrintedJobStatus(CRequestResult& result) {
  auto info = spooler_.GetPrinter(printer_);
  if (info.ok() && (info->attributes & spool::PRINTER_ATTRIBUTE_LOCAL)) {
    for (const char* d : kDriverExempt)
      if (spool::EqualsIgnoreAsciiCase(info->driver, d)) return;
  }
  // A job that left the queue or completed has printed; only an error or offline state fails.
  auto job = spooler_.GetJob(printer_, job_id_);
  if (!job.ok()) return;
  const char* what = nullptr;
  if (job->state == spool::JobState::kError || job->status == spool::JOB_STATUS_ERROR) {
    what = "プリンタを確認してください";
  } else if (job->state == spool::JobState::kOffline || job->status == spool::JOB_STATUS_OFFLINE) {
    what = "オフラインエラーが発生しました プリンタを確認してください";
  }
  if (!what) return;
  result.Messages.clear();
  result.SetResultMessage(kResultPrintFailed,
                          {"プリンタ[" + printer_ + "]でエラーが発生しました", std::string("「") + what + "」"});
}

}  // namespace zv::engine
