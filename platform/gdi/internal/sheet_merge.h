// The assembly of a printed job's PDF from the files its sheets were drawn into, one file per
// worker (platform/gdi/printer.cc draws them).
#pragma once

#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::gdi {

// One worker's file of drawn sheets: on disk at `path`, or held in memory (`held`, with
// `path` as its name in messages).
struct SheetSource {
  std::string path;
  bool on_disk = false;
  const std::string* held = nullptr;
  int pages = 0;  // 0: the worker drew nothing
};

// Where one sheet of the job lies: the index of its file and its page there.
struct SheetPlace {
  int file = -1;
  int page = -1;
};

// Takes the workers' files, the job's sheets in order and the output path; writes the sheets
// as one PDF there: page objects and their streams copied as they are (nothing decoded or
// compressed again), what pages of one file share (fonts, above all) copied once, and fonts
// equal in two files written once. The files are read on as many cores. Gives IOError when a
// file cannot be read, a sheet is missing or the output cannot be written.
Status AssembleSheets(const std::vector<SheetSource>& files, const std::vector<SheetPlace>& sheets,
                      const std::string& out);

}  // namespace zv::gdi
