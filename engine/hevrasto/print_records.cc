#include "engine/hevrasto/print_records.h"

#include <algorithm>
#include <cstdint>

#include "printing/print_rules.h"

namespace zv::engine {

PageRange RequestRange(const CRequestInfo& r, int pages) {
  PageRange range{1, pages};
  if (r.AllPages == 0 && r.FirstPage > 0 && r.LastPage > 0) {
    range.first = std::max(1, r.FirstPage);
    range.last = std::min(pages, r.LastPage);
  }
  return range;
}

std::vector<PrintLogRecord> BuildPrintLogRows(const CRequestInfo& request, const PageRange& range, int mode, int copies,
                                              int32_t uid, const PrinterRecord& printer, int32_t date, int32_t time) {
  std::vector<PrintLogRecord> rows;
  if (range.count() <= 0) return rows;
  // The owner of each page of the document, from the request's jobs in order.
  std::vector<const std::string*> owners;
  for (const RequestJob& j : request.Jobs) {
    for (int32_t i = 0; i < j.pages && owners.size() < static_cast<size_t>(range.last); ++i) owners.push_back(&j.name);
  }
  static const std::string kNone;
  auto owner = [&](int page) -> const std::string& {
    return page - 1 < static_cast<int>(owners.size()) ? *owners[page - 1] : kNone;
  };
  std::string spool = request.Jobs.empty() ? std::string() : request.Jobs.front().name;
  const int64_t mult = copies > 1 ? copies : 1;
  // Pages are counted in 64 bits and stored no larger than the column holds.
  auto column = [](int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); };
  std::vector<int64_t> pages;
  size_t job_entry = 0;
  for (int p = range.first; p <= range.last; ++p) {
    if (rows.empty() || owner(p) != rows.back().JobName) {
      PrintLogRecord r;
      r.UID = uid;
      r.Account = request.AccountName;
      r.PID = printer.PID;
      r.Ptype = printer.Ptype;
      r.PDate = date;
      r.PTime = time;
      r.JobName = owner(p);
      r.SpoolName = spool;
      r.ThumbnailCount = request.ThumbnailCount;
      r.PaperSize = request.PaperSize;
      r.JobPages = job_entry < request.Jobs.size() ? request.Jobs[job_entry].pages : 0;
      ++job_entry;
      rows.push_back(r);
      pages.push_back(0);
    }
    pages.back() += mult;
  }
  for (size_t i = 0; i < rows.size(); ++i) rows[i].Pages = column(pages[i]);
  // With several pages a side, pages of different jobs share sides: one row then counts the
  // sides, named "..." when it stands for more than one job.
  int per_sheet = printing::PagesPerSide(mode);
  if (per_sheet > 1 && !rows.empty()) {
    PrintLogRecord folded = rows.front();
    if (rows.size() > 1) folded.JobName = "...";
    folded.Pages = column((int64_t{range.count()} + per_sheet - 1) / per_sheet * mult);
    rows.assign(1, folded);
  }
  return rows;
}

std::vector<uint16_t> RotationsForRange(const std::string& rotate, int pages) {
  std::vector<uint16_t> out;
  uint16_t prev = 0;
  size_t pos = 0;
  // Items are separated by ","; the last one needs none behind it. Nothing after a
  // trailing "," is an item.
  while (static_cast<int>(out.size()) < pages && pos < rotate.size()) {
    size_t comma = rotate.find(',', pos);
    if (comma == std::string::npos) comma = rotate.size();
    std::string item = rotate.substr(pos, comma - pos);
    pos = comma + 1;
    long v = -1;
    if (!item.empty() && item.size() < 8 &&
        std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
      v = std::stol(item);
    // An item that names no known rotation (0, 1, 16) repeats the one before it.
    if (v == 0 || v == 1 || v == 16) prev = static_cast<uint16_t>(v);
    out.push_back(prev);
  }
  return out;
}

}  // namespace zv::engine
