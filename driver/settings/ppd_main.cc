// zelvora-ppd: writes the PPD of a queue to a file. Usage: zelvora-ppd pass|raster FILE
#include <cstdio>
#include <string>

#include "driver/settings/ppd.h"
#include "platform/fs/files.h"

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "pass" && std::string(argv[1]) != "raster")) {
    std::fprintf(stderr, "usage: zelvora-ppd pass|raster FILE\n");
    return 2;
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
