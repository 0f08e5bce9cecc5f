#include "engine/hevrasto/engine_doc.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/core/clock.h"
#include "engine/core/event_writer.h"
#include "engine/hevrasto/print_records.h"
#include "engine/rules/event_table.h"
#include "jobdoc/container.h"
#include "platform/codepage/codepage.h"
#include "platform/paths/paths.h"
#include "printing/print_job.h"
#include "printing/viewer_document.h"
#include "viewer/page.h"

namespace zv::engine {
namespace fsys = std::filesystem;

namespace {
// Local printers with these drivers are not asked for the job's state after printing. The
// rule is kept as the system has always had it; its reason is not recorded.
constexpr char kDriverExempt[][24] = {"KANDREL Velloran 110", "KANDREL Velloran 120", "KANDREL Velloran 130",
                                      "KANDREL Velloran 210", "KANDREL Velloran 220", "KANDREL Velloran 310"};

std::string ToUtf8(const std::string& ansi) {
  auto u = codepage::Cp932ToUtf8(ansi, codepage::OnError::kSubstitute);
  return u.ok() ? *u : ansi;
}
}  // namespace

std::string PrintTarget(const CRequestInfo& request, const PrinterRecord& printer) {
  return printer.PrinterName.empty() ? request.DeviceName : printer.PrinterName;
}

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

bool CHevrastoDoc::OnOpenDocument(const std::string& path, CRequestResult& result, uint64_t max_bytes) {
  OnNewDocument();
  std::error_code ec;
  const uintmax_t size = fsys::file_size(path, ec);
  if (!ec && size > max_bytes) {
    // Not read at all: one job must not take the engine's memory. Answered as a job file
    // that cannot be opened; the event says why.
    const std::string why = "[job file too large] " + path + ": " + std::to_string(size) + " bytes, the limit " +
                            std::to_string(max_bytes) + " (MaxJobFileMB)";
    (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &why, nullptr);
    result.SetResultMessage(kResultJobNotOpened);
    return false;
  }
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
        // Bit 15 of the index appends the page after the last one.
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

namespace {

// Learns the spooler's job id and submission time right after the document started (what
// the print job asks the main window with WM_USER+24).
class StartObserver : public printing::PrintJobObserver {
 public:
  explicit StartObserver(const std::function<void(std::uint32_t)>& started) : started_(started) {}
  void OnDocumentStarted(std::uint32_t job_id, const win::SYSTEMTIME& submitted) override {
    id = job_id;
    time = submitted;
    if (started_) started_(job_id);
  }
  const std::function<void(std::uint32_t)>& started_;
  std::uint32_t id = 0;
  win::SYSTEMTIME time{};
};

// Reads a decimal item of the LogFont text; false for an empty or unreadable item.
bool FontItem(const std::string& item, long* out) {
  if (item.empty() || item.size() > 11) return false;
  char* end = nullptr;
  long v = strtol(item.c_str(), &end, 10);
  if (end == item.c_str()) return false;
  *out = v;
  return true;
}

}  // namespace

void ApplyRequest(viewer::CViewerDocBase& doc, const CRequestInfo& r) {
  doc.SetHeaderFooter(0, r.H_Left, r.H_Center, r.H_Right, r.PrintPageMode);
  doc.SetHeaderFooter(1, r.F_Left, r.F_Center, r.F_Right, r.PrintPageMode);
  win::LOGFONTA lf{};
  doc.GetHeaderFooterFont(&lf);
  // Thirteen numbers, then the face name, which may itself hold commas.
  std::vector<std::string> items;
  size_t pos = 0;
  while (items.size() < 14) {
    size_t comma = r.LogFont.find(',', pos);
    if (items.size() == 13 || comma == std::string::npos) {
      items.push_back(r.LogFont.substr(pos));
      break;
    }
    items.push_back(r.LogFont.substr(pos, comma - pos));
    pos = comma + 1;
  }
  long v = 0;
  win::LONG* longs[] = {&lf.lfHeight, &lf.lfWidth, &lf.lfEscapement, &lf.lfOrientation, &lf.lfWeight};
  win::BYTE* bytes[] = {&lf.lfItalic,       &lf.lfUnderline,     &lf.lfStrikeOut, &lf.lfCharSet,
                        &lf.lfOutPrecision, &lf.lfClipPrecision, &lf.lfQuality,   &lf.lfPitchAndFamily};
  for (size_t i = 0; i < items.size() && i < 13; ++i) {
    if (!FontItem(items[i], &v)) continue;
    if (i < 5) {
      *longs[i] = static_cast<win::LONG>(v);
    } else {
      *bytes[i - 5] = static_cast<win::BYTE>(v & 0xFF);
    }
  }
  if (items.size() == 14 && !items[13].empty()) {
    auto face = codepage::Utf8ToCp932(items[13], codepage::OnError::kSubstitute);
    std::string f = face.ok() ? *face : std::string();
    // Cut to the field's 31 bytes without splitting a double-byte character.
    const size_t n = codepage::Cp932FitLength(f, sizeof(lf.lfFaceName) - 1);
    std::memset(lf.lfFaceName, 0, sizeof(lf.lfFaceName));
    std::memcpy(lf.lfFaceName, f.data(), n);
  }
  int points = r.FontPoint > 0 ? r.FontPoint : 12;
  doc.SetHeaderFooterFont(lf, points);
}

int CHevrastoDoc::PrintRequest(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
                               const PrinterRecord& printer, std::vector<PrintLogRecord>* log,
                               const std::function<void(std::uint32_t)>& started_hook) {
  log->clear();
  job_id_ = 0;
  if (!document_ || !pages_) {
    result.SetResultMessage(kResultPrintFailed, {"ドキュメントの取得に失敗しました。"});
    return result.ResultCode;
  }
  printer_ = PrintTarget(request, printer);
  ApplyRequest(*pages_, request);
  PageRange range = RequestRange(request, page_count());
  std::vector<uint16_t> rotations = RotationsForRange(request.Rotate, range.count());
  for (size_t i = 0; i < rotations.size(); ++i) {
    if (viewer::ViewerPage* page = pages_->page(range.first - 1 + static_cast<int>(i))) page->SetRotation(rotations[i]);
  }

  printing::PrintJobSpec order;
  order.printer = printer_;
  order.document_name = request.Jobs.empty() ? name_ : request.Jobs.front().name;
  order.layout_mode = printing::LayoutModeFromRequest(request.ThumbnailCount, request.Orientation);
  order.chosen_paper = request.PaperSize;
  order.page_range = request.AllPages == 0;
  order.first_page = range.first;
  order.last_page = range.last;
  order.copies = printing::DecideCopies(request.Copies);
  order.collate = request.Collate;
  order.sheet.offset_x = request.OffsetX;
  order.sheet.offset_y = request.OffsetY;
  order.sheet.reduction = request.OffsetSize > 0 ? request.OffsetSize : 1000;
  order.sheet.separators = request.Separator;

  printing::ViewerPrintDocument doc(*pages_);
  StartObserver started(started_hook);
  printing::PrintOutcome outcome = printing::RunPrintJob(spooler_, doc, order, printing::PrinterSurfaces(), &started);
  job_id_ = outcome.job_id ? outcome.job_id : started.id;
  submitted_ = outcome.job_id ? outcome.submitted : started.time;
  if (outcome.code != printing::kPrintOk) {
    std::vector<std::string> lines = outcome.lines;
    if (lines.empty()) lines = {printing::kPrintFailedMessage};
    if (lines.size() == 1 && lines[0] == printing::kPrinterNotSelectableMessage) lines.push_back(printer_);
    result.SetResultMessage(kResultPrintFailed, lines);
    return result.ResultCode;
  }

  win::SYSTEMTIME local{};
  uint32_t id = FindSpooledJob(&local);
  DateTimeValue when = LocalDateTime(std::chrono::system_clock::now());
  // The rows carry the spooler's submission time where there is one: the duplicate check
  // matches a row with a queued job by that time.
  if (id > 0) {
    when.date = local.wYear * 10000 + local.wMonth * 100 + local.wDay;
    when.time = local.wHour * 10000 + local.wMinute * 100 + local.wSecond;
  }
  PageRange printed{outcome.from, outcome.to};
  *log = BuildPrintLogRows(request, printed, outcome.layout_mode, outcome.device_copies * outcome.passes, user.UID,
                           printer, when.date, when.time);
  CheckPrintedJobStatus(result);
  return result.ResultCode;
}

void CHevrastoDoc::CheckPrintedJobStatus(CRequestResult& result) {
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
  // Only a job that failed asks for the printer's driver (an exempt local one never fails a
  // print): the printer's record costs a look at its whole queue.
  auto info = spooler_.GetPrinter(printer_);
  if (info.ok() && (info->attributes & spool::PRINTER_ATTRIBUTE_LOCAL)) {
    for (const char* d : kDriverExempt)
      if (spool::EqualsIgnoreAsciiCase(info->driver, d)) return;
  }
  result.Messages.clear();
  result.SetResultMessage(kResultPrintFailed,
                          {"プリンタ[" + printer_ + "]でエラーが発生しました", std::string("「") + what + "」"});
}

}  // namespace zv::engine
