// zelvora-texttopdf: the CUPS filter that turns a plain text job of the virtual printer's
// queues into PDF, in a Japanese-capable face on the job's paper. Arguments as CUPS gives
// them (job-id user title copies options [file]); the text comes from the file or standard
// input, the queue's PPD from $PPD. Writes the PDF to standard output; copies are left to
// CUPS. Exit 0 when the PDF was written, 1 otherwise. An exact first argument "--help" prints
// the usage; every other command line is read as CUPS gives it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/textpdf/text_pdf.h"
#include "platform/fs/files.h"
#include "platform/process/usage.h"

namespace {

constexpr zv::process::Usage kUsage{
    "zelvora-texttopdf",
    "Usage: zelvora-texttopdf JOB-ID USER TITLE COPIES OPTIONS [FILE]\n"
    "The CUPS text filter of the \"Zelvora\" queues: lays a UTF-8 text file out as PDF in a\n"
    "Japanese-capable face (IPAGothic, other faces for characters it lacks).\n"
    "\n"
    "Arguments (as CUPS gives them to a filter):\n"
    "  JOB-ID USER TITLE COPIES   the job's id, owner, title and copies (copies are left to CUPS)\n"
    "  OPTIONS                    the job's options (PageSize=..., media=..., landscape, cpi=...,\n"
    "                             lpi=..., page-left/-right/-top/-bottom=POINTS)\n"
    "  FILE                       the text (default standard input)\n"
    "  --help                     show this text (only as the first argument)\n"
    "The PDF goes to standard output; exit 0 when it was written.\n"
    "\n"
    "Environment:\n"
    "  PPD                    the queue's PPD file (its default PageSize)\n"};

// The largest text file taken.
constexpr std::size_t kMaxTextBytes = std::size_t{256} << 20;

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) return kUsage.Help();
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "ERROR: usage: zelvora-texttopdf job-id user title copies options [file]\n");
    return 1;
  }
  auto bytes = argc == 7 ? zv::fs::ReadFile(argv[6], kMaxTextBytes) : zv::fs::ReadToEnd(0, kMaxTextBytes);
  if (!bytes.ok()) {
    std::fprintf(stderr, "ERROR: cannot read the document: %s\n", bytes.status().ToString().c_str());
    return 1;
  }
  std::string ppd;
  if (const char* path = std::getenv("PPD"); path && *path) {
    auto text = zv::fs::ReadFile(path);
    if (text.ok()) ppd = *text;
  }
  zv::driver::TextLayout layout = zv::driver::TextLayoutForJob(ppd, argv[5]);
  layout.title = argv[3];
  int pages = 0;
  const zv::Status s = zv::driver::WriteTextPdf(
      zv::driver::PrintableText(*bytes), layout, [](std::span<const std::uint8_t> b) { return zv::fs::WriteAll(1, b); },
      &pages);
  if (!s.ok()) {
    std::fprintf(stderr, "ERROR: %s\n", s.ToString().c_str());
    return 1;
  }
  std::fprintf(stderr, "INFO: %d page(s) of text on %.0f x %.0f pt\n", pages, layout.width, layout.height);
  return 0;
}
