// The pure rules of the engine's print job: the page range of a request, the rotations of
// its pages, and the print-log rows of a print.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/rules/request_info.h"

namespace zv::engine {

// The pages to print, 1-based and both included; empty when first > last.
struct PageRange {
  int first = 1;
  int last = 0;
  int count() const { return last >= first ? last - first + 1 : 0; }
};
// Gives the range of a request on a document of `pages` pages: all pages when AllPages is
// set or no range is given, else FirstPage..LastPage clamped to the document.
PageRange RequestRange(const CRequestInfo& request, int pages);

// Takes the request, the printed range, the layout mode, the copies, the user's UID, the
// printer row and the moment (yyyymmdd, hhmmss); gives the print-log rows: one per run of
// pages of the same job (Pages times the copies, JobPages the job's page count), folded
// into one row ("..." as JobName when several) whose Pages are the sheets times the copies
// in the modes with more than one page per side (mode 3, the turned form of mode 2, folds
// as mode 2 does).
std::vector<PrintLogRecord> BuildPrintLogRows(const CRequestInfo& request, const PageRange& range, int mode, int copies,
                                              int32_t uid, const PrinterRecord& printer, int32_t date, int32_t time);

// Gives the rotation per page of the range from a Rotate text ("1,0,16", a trailing ","
// allowed): the items are paired with the pages from the first of the range on; 0, 1 and
// 16 are taken, any other value repeats the page before (0 before the first).
std::vector<uint16_t> RotationsForRange(const std::string& rotate, int pages_in_range);

}  // namespace zv::engine
