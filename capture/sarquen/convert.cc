// The conversion run: each active conversion slot's converter module gets the captured pages.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "capture/common/blocks.h"
#include "capture/common/log.h"
#include "capture/common/title.h"
#include "capture/sarquen/session.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/shm/shm.h"

namespace zv::capture {
namespace {

constexpr std::size_t kMaxOutputPath = 260;

class Module {
 public:
  ~Module() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  void* handle_ = nullptr;
};

class Mapping {
 public:
  ~Mapping() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

bool EndsInSeparator(const std::string& s) { return !s.empty() && (s.back() == '\\' || s.back() == '/'); }

// The document name as converters get it: at most 255 bytes, never a split character.
std::string ShortName(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t n = (codepage::IsCp932Lead(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) ? 2 : 1;
    if (out.size() + n > 255) break;
    out.append(name, i, n);
    i += n;
  }
  return out;
}

int ImportDocumentForConversion(CaptureSession& s, int slot) {
  auto fail = [&](const std::string& why) {
    if (s.error == 0) s.error = slot == 1 ? kErrorSlot1 : slot == 2 ? kErrorSlot2 : kErrorBadInput;
    AppendCaptureLog("conversion of slot " + std::to_string(slot) + " failed: " + why);
    return 1;
  };
  // 1. The converter.
  auto conv_block = shm::SharedBlock::Open(SlotBlockName(slot, 0), shm::Access::kRead);
  if (!conv_block.ok()) return fail("no converter block");
  auto conv = ParseConverterRecord(conv_block->bytes());
  if (!conv.ok()) return fail(conv.status().ToString());
  // Checked again though the resident checked it when storing: the block is shared memory that
  // any process of this user may have written since.
  if (!paths::IsPlainFileName(conv->module, kMaxModuleName)) return fail("module is not a plain name: " + conv->module);
  if (!std::all_of(conv->extension.begin(), conv->extension.end(),
                   [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
    return fail("extension is not alphanumeric");
  }
  Module module;
  const std::string module_path = LibraryFolder() + "/" + conv->module;
  // Every converter exports the same names: RTLD_LOCAL keeps one module's symbols from
  // answering for another's.
  module.handle_ = ::dlopen(module_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module.handle_ == nullptr) return fail(std::string("module not loaded: ") + ::dlerror());
  auto get_conv_inf = reinterpret_cast<ZvGetConvInfFunction>(::dlsym(module.handle_, "GetConvInf"));
  if (get_conv_inf == nullptr) return fail("module has no GetConvInf: " + module_path);
  ZvConverterFunction converter = nullptr;
  if (get_conv_inf(conv->type, nullptr, &converter) == 0 || converter == nullptr) {
    return fail("GetConvInf does not know type " + std::to_string(conv->type));
  }

  // 2. The output path.
  auto out_block = shm::SharedBlock::Open(SlotBlockName(slot, 1), shm::Access::kRead);
  if (!out_block.ok()) return fail("no output block");
  auto out = ParseOutputRecord(out_block->bytes());
  if (!out.ok()) return fail(out.status().ToString());
  std::string location = out->location.substr(0, kMaxOutputPath);
  if (EndsInSeparator(location)) {
    std::string title = TitleToUtf8(DeriveDocumentTitle(s.document_name));
    if (title.empty()) title = "Tarvessa";
    if (location.size() + title.size() >= kMaxOutputPath + 1) return fail("output path too long");
    location += title;
    if (location.size() + 1 + conv->extension.size() >= kMaxOutputPath + 1) return fail("output path too long");
    location += "." + conv->extension;
  }
  auto output_path = SafeLocalPath(location);
  if (!output_path.ok()) return fail(output_path.status().ToString());

  // 3. The capture file, mapped.
  int fd = ::open(s.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(fs::ErrnoText("open " + s.path, errno));
  struct stat st {};
  Mapping map;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    map.size_ = static_cast<std::size_t>(st.st_size);
    map.data_ = ::mmap(nullptr, map.size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map.data_ == MAP_FAILED) map.data_ = nullptr;
  }
  ::close(fd);
  if (map.data_ == nullptr) return fail("capture file not mapped");
  std::span<const std::uint8_t> image(static_cast<const std::uint8_t*>(map.data_), map.size_);

  // 4, 5. The pages, each followed by its trailer, and each page's own size from its
  // trailer: a document of portrait and landscape pages keeps every page's shape.
  jobdoc::ImageWalker walker(image, true);
  std::vector<const void*> pages;
  std::vector<std::uint32_t> sizes;
  for (;;) {
    auto item = walker.Next();
    if (!item.ok()) return fail("capture file damaged: " + item.status().ToString());
    if (item->kind == jobdoc::ImageItem::Kind::kEnd) break;
    if (item->kind != jobdoc::ImageItem::Kind::kPage) continue;
    pages.push_back(image.data() + item->offset);
    const auto [w, h] = jobdoc::PageExtent(item->attributes);
    sizes.push_back(static_cast<std::uint32_t>(w));
    sizes.push_back(static_cast<std::uint32_t>(h));
  }

  // 6. The converter.
  s.converted_pages = static_cast<int>(pages.size());
  const std::string name = ShortName(s.document_name);
  int ok = converter(0, output_path->c_str(), pages.data(), sizes.data(), static_cast<std::uint32_t>(pages.size()),
                     name.c_str(), image.data());
  if (ok == 0) return fail("the converter reported failure for " + *output_path);

  // 7. The success marker of slot 3.
  if (slot == 3) {
    auto options = shm::SharedBlock::Open(SlotBlockName(3, 2), shm::Access::kRead);
    if (options.ok() && options->size() >= 12) {
      const auto* b = reinterpret_cast<const std::uint8_t*>(options->bytes().data());
      std::uint16_t a, c;
      std::memcpy(&a, b + 7, 2);
      std::memcpy(&c, b + 9, 2);
      if (a == 0 && c != 0 && EndsInSeparator(out->location)) {
        auto marker = SafeLocalPath(out->location + "SUCCESS.TXT");
        // The marker only tells a watcher the job is done; the conversion has succeeded whether or not
        // it can be written.
        if (marker.ok()) (void)fs::WriteFileAtomic(*marker, "", 0644);
      }
    }
  }
  return 0;
}

}  // namespace

int RunConversions(CaptureSession& s) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if ((s.out_kind & (1u << slot)) == 0) continue;
    if (ImportDocumentForConversion(s, slot) != 0) return 1;
  }
  return 0;
}

}  // namespace zv::capture
