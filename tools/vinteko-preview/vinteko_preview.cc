// vinteko-preview [--flip] FILE: shows a job document with libvinteko's raru_PrtPreview
// (mode 0, the preview frame; --flip: mode 1, the page-flip window). FILE may be a packed
// ".prc" file, an unpacked image with page trailers (as "jobdoc-tool unpack" writes it) or
// one without; the viewer reads images without trailers, so the others are converted into
// a temporary image first. The library is loaded from ../lib beside the program.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jobdoc/container.h"
#include "jobdoc/image.h"
#include "platform/paths/paths.h"
#include "platform/paths/root_session.h"
#include "platform/process/usage.h"

namespace {

namespace jd = zv::jobdoc;

constexpr zv::process::Usage kUsage{
    "vinteko-preview",
    "Usage: vinteko-preview [--flip] FILE\n"
    "Shows a job document in the viewer library libvinteko's preview window.\n"
    "\n"
    "Arguments:\n"
    "  FILE     a packed \".prc\" document or a document image, with page trailers or without\n"
    "  --flip   the page-flip window instead of the preview frame\n"
    "  --help   show this text\n"
    "The library is loaded from ../lib beside the program.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  QT_QPA_PLATFORM        Qt's window system (\"offscreen\" runs without a display)\n" ZV_USAGE_XDG_ENVIRONMENT};

constexpr zv::process::Option kOptions[] = {{"--flip"}};

std::string ProgramFolder() {
  std::string self(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
  if (n <= 0) return ".";
  self.resize(std::size_t(n));
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

bool EndsWithPrc(const std::string& p) {
  if (p.size() < 4) return false;
  std::string ext = p.substr(p.size() - 4);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".prc";
}

// Gives the document's image without page trailers, or an empty vector with a message.
std::vector<std::uint8_t> ImageWithoutTrailers(const std::string& path) {
  if (EndsWithPrc(path)) {
    jd::UnpackResult r = jd::UnpackDocumentFile(path);
    if (!r.ok()) {
      std::fprintf(stderr, "vinteko-preview: %s: %s\n", path.c_str(), r.message.c_str());
      return {};
    }
    const auto image = r.document->image();
    if (!r.document->has_page_trailers()) return {image.begin(), image.end()};
    auto doc = jd::ReadDocumentImage(image, true);
    if (!doc.ok()) return {};
    auto bytes = jd::BuildDocumentImage(*doc, false);
    return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    std::fprintf(stderr, "vinteko-preview: cannot read %s\n", path.c_str());
    return {};
  }
  if (jd::ReadDocumentImage(bytes, false).ok()) return bytes;
  auto doc = jd::ReadDocumentImage(bytes, true);
  if (!doc.ok()) {
    std::fprintf(stderr, "vinteko-preview: %s is no document image: %s\n", path.c_str(),
                 doc.status().ToString().c_str());
    return {};
  }
  auto plain = jd::BuildDocumentImage(*doc, false);
  return plain.ok() ? *plain : std::vector<std::uint8_t>{};
}

}  // namespace

int main(int argc, char** argv) {
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, kOptions, kUsage)) return *done;
  int mode = 0;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--flip") == 0) {
      mode = 1;
    } else {
      file = argv[i];
    }
  }
  if (file.empty()) return kUsage.Error("no file");
  // The library's window keeps Qt's folders; root's go into its runtime root.
  if (zv::Status s = zv::paths::KeepRootOutOfHome(); !s.ok())
    std::fprintf(stderr, "vinteko-preview: %s\n", s.ToString().c_str());
  const std::vector<std::uint8_t> image = ImageWithoutTrailers(file);
  if (image.empty()) return 1;
  auto folder = zv::paths::TempFolder();
  std::string temp = (folder.ok() ? *folder : std::string("/tmp")) + "/previewXXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    std::perror("vinteko-preview: temporary image");
    return 1;
  }
  const bool written = ::write(fd, image.data(), image.size()) == ssize_t(image.size());
  ::close(fd);
  int rc = 1;
  if (written) {
    const std::string lib = ProgramFolder() + "/../lib/libvinteko.so";
    void* handle = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      std::fprintf(stderr, "vinteko-preview: %s\n", ::dlerror());
    } else if (auto preview = reinterpret_cast<void (*)(const char*, int)>(::dlsym(handle, "raru_PrtPreview"))) {
      preview(temp.c_str(), mode);
      rc = 0;
    }
  }
  ::unlink(temp.c_str());
  return rc;
}
