// A program for the resident program's tests. Without arguments beyond its own it is a
// started "client": it writes its argument vector (NUL-separated) to $ZV_ARGV_OUT and
// signals that it is ready. With --probe it tries, as whatever user runs it, to read the
// settings block and reach the resident window, and prints what it could do.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/process/process.h"
#include "platform/shm/shm.h"
#include "platform/winmsg/winmsg.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--probe") == 0) {
    auto block = zv::shm::SharedBlock::Open("ZvPermanent", zv::shm::Access::kRead);
    zv::winmsg::HWND w = zv::winmsg::FindWindow(nullptr, "ZvPermanent");
    std::printf("block=%d window=%d\n", block.ok() ? 1 : 0, w != 0 ? 1 : 0);
    return 0;
  }
  const char* out = std::getenv("ZV_ARGV_OUT");
  if (out != nullptr) {
    std::string text;
    for (int i = 0; i < argc; ++i) text.append(argv[i], std::strlen(argv[i]) + 1);
    std::string tmp = std::string(out) + ".part";
    if (std::FILE* f = std::fopen(tmp.c_str(), "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      std::rename(tmp.c_str(), out);
    }
  }
  zv::process::SignalReady();
  return 0;
}
