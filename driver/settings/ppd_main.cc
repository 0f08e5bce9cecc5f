// zelvora-ppd: writes the PPD of a queue to a file. Usage: zelvora-ppd pass|raster FILE (or
// --help)
#include <cstdio>
#include <string>

#include "driver/settings/ppd.h"
#include "platform/fs/files.h"
#include "platform/process/usage.h"

namespace {

constexpr zv::process::Usage kUsage{
    "zelvora-ppd",
    "Usage: zelvora-ppd pass|raster FILE\n"
    "Writes the PPD of one of the virtual printer's CUPS queues to FILE.\n"
    "\n"
    "Arguments:\n"
    "  pass     the queue \"Zelvora\": the PDF goes through to the zelvora backend\n"
    "  raster   the queue \"Zelvora-Raster\": the raster driver's filter kelvad renders it\n"
    "  FILE     the PPD file to write\n"
    "  --help   show this text\n"};

}  // namespace

int main(int argc, char** argv) {
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, {}, kUsage)) return *done;
  if (argc != 3 || (std::string(argv[1]) != "pass" && std::string(argv[1]) != "raster")) {
    return kUsage.Error("wrong command line");
  }
  const auto kind =
      std::string(argv[1]) == "raster" ? zv::driver::PpdQueue::kRaster : zv::driver::PpdQueue::kPassThrough;
  auto s = zv::fs::WriteFileAtomic(argv[2], zv::driver::GeneratePpd(kind), 0644);
  if (!s.ok()) {
    std::fprintf(stderr, "zelvora-ppd: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
