// kelvad: the CUPS filter of the "Zelvora-Raster" queue. Arguments as CUPS gives them (job-id
// user title copies options [file]); the PDF comes from the file or standard input, the
// queue's PPD from $PPD and its name from $PRINTER. Writes the page raster stream to standard
// output. Exit 0 when every page was written, 1 otherwise. An exact first argument "--help"
// prints the usage; every other command line is read as CUPS gives it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/kelvad/raster_job.h"
#include "platform/fs/files.h"
#include "platform/process/usage.h"

namespace {

constexpr zv::process::Usage kUsage{
    "kelvad",
    "Usage: kelvad JOB-ID USER TITLE COPIES OPTIONS [FILE]\n"
    "The CUPS filter of the \"Zelvora-Raster\" queue: renders a PDF into the page raster stream.\n"
    "\n"
    "Arguments (as CUPS gives them to a filter):\n"
    "  JOB-ID USER TITLE COPIES   the job's id, owner, title and copies\n"
    "  OPTIONS                    the job's options (media=..., Resolution=...dpi, ...)\n"
    "  FILE                       the PDF (default standard input)\n"
    "  --help                     show this text (only as the first argument)\n"
    "The page raster stream goes to standard output; exit 0 when every page was written.\n"
    "\n"
    "Environment:\n"
    "  PPD                    the queue's PPD file (its defaults)\n"
    "  PRINTER                the queue's name (default Zelvora-Raster)\n"
    "  TMPDIR                 where standard input is copied before rendering (default /tmp)\n"};

// Copies standard input to a temporary file (poppler reads files); gives its path or "".
std::string SpoolStdin() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/kelvad-XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) return {};
  char buf[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!zv::fs::WriteAll(fd, {reinterpret_cast<const std::uint8_t*>(buf), static_cast<std::size_t>(n)})) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) return kUsage.Help();
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "ERROR: usage: kelvad job-id user title copies options [file]\n");
    return 1;
  }
  std::string pdf = argc == 7 ? argv[6] : SpoolStdin();
  const bool temporary = argc != 7;
  if (pdf.empty()) {
    std::fprintf(stderr, "ERROR: cannot read the document\n");
    return 1;
  }
  std::string ppd;
  if (const char* path = std::getenv("PPD"); path && *path) {
    auto text = zv::fs::ReadFile(path);
    if (text.ok()) ppd = *text;
  }
  const char* queue = std::getenv("PRINTER");
  const std::string printer = queue && *queue ? queue : "Zelvora-Raster";
  zv::driver::PpdQueuePlatform ops(printer, ppd);
  const zv::driver::PRIVDEVMODE mode = zv::driver::JobDevmode(ops, printer, argv[5]);
  int pages = 0;
  zv::Status s = zv::driver::WriteRasterJob(
      pdf, ops, printer, mode, [](std::span<const std::uint8_t> b) { return zv::fs::WriteAll(1, b); }, &pages);
  if (temporary) ::unlink(pdf.c_str());
  if (!s.ok()) {
    std::fprintf(stderr, "ERROR: %s\n", s.ToString().c_str());
    return 1;
  }
  std::fprintf(stderr, "INFO: %d page(s) rendered at %d dpi\n", pages, mode.dm.dmPrintQuality);
  return 0;
}
