#include "client/app/page_export.h"

#include <dlfcn.h>

#include <cstdio>
#include <vector>

#include "capture/lumbrel/lumbrel.h"
#include "client/app/start_args.h"
#include "platform/paths/install_layout.h"
#include "viewer/page.h"

namespace zv::client::app {
namespace {

// A page's extent (0.1 mm) in 1/28800 inch.
std::uint32_t ToUnits(std::int32_t tenth_mm) {
  return tenth_mm > 0 ? static_cast<std::uint32_t>(static_cast<std::int64_t>(tenth_mm) * 28800 / 254) : 0;
}

// A page's size in 1/28800 inch: its extent (already in those units, orientation applied),
// or its paper size when no extent is known.
void PageSize(viewer::ViewerPage& p, std::uint32_t* w, std::uint32_t* h) {
  if (p.extent_x() > 0 && p.extent_y() > 0) {
    *w = static_cast<std::uint32_t>(p.extent_x());
    *h = static_cast<std::uint32_t>(p.extent_y());
    return;
  }
  *w = ToUnits(p.width());
  *h = ToUnits(p.length());
}

}  // namespace

ImageSaveChoice ParseImageSaveText(std::string_view text) {
  ImageSaveChoice c;
  auto digit = [&](size_t i, int high) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return 0;
    int v = text[i] - '0';
    return v > high ? 0 : v;
  };
  c.size = digit(0, 2);
  c.format = digit(1, 2);
  c.no_number_first = digit(2, 1) != 0;
  c.fixed_digits = digit(3, 1) != 0;
  c.digits = digit(4, 2);
  if (text.size() > 5) c.folder = std::string(text.substr(5));
  return c;
}

std::string ComposeImageSaveText(const ImageSaveChoice& c) {
  char head[8];
  std::snprintf(head, sizeof head, "%01d%01d%01d%01d%01d", c.size, c.format, c.no_number_first ? 1 : 0,
                c.fixed_digits ? 1 : 0, c.digits);
  return head + c.folder;
}

int SizeChoiceDpi(int size) { return size == 1 ? 60 : size == 2 ? 15 : 120; }

Pixels ImagePixels(std::uint32_t width, std::uint32_t height, int size) {
  const std::uint64_t dpi = static_cast<std::uint64_t>(SizeChoiceDpi(size));
  return {static_cast<int>(width * dpi / 28800), static_cast<int>(height * dpi / 28800)};
}

std::string ImageOutputText(const ImageSaveChoice& c, std::string_view title) {
  static const char* kExtensions[] = {".tif", ".bmp", ".jpg"};
  char dpi[8];
  std::snprintf(dpi, sizeof dpi, "%03d", SizeChoiceDpi(c.size));
  std::string folder = c.folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return dpi + folder + "/" + SafeOutputBaseName(title) + kExtensions[c.format >= 0 && c.format <= 2 ? c.format : 0];
}

std::string ImageOptionsBlock(const ImageSaveChoice& c, Pixels first_page) {
  std::string b(12, '\0');
  b[0] = 12;
  b[4] = 3;
  b[5] = 2;
  b[7] = static_cast<char>(first_page.width & 0xFF);
  b[8] = static_cast<char>((first_page.width >> 8) & 0xFF);
  b[9] = static_cast<char>(first_page.height & 0xFF);
  b[10] = static_cast<char>((first_page.height >> 8) & 0xFF);
  int flags = c.no_number_first ? 1 : 0;
  if (c.fixed_digits) flags |= c.digits * 2 + 2;  // the digit count 1..3 shifted left by one
  b[11] = static_cast<char>(flags);
  return b;
}

void FirstPageSize(COstraneDoc& doc, std::uint32_t* width, std::uint32_t* height) {
  *width = *height = 0;
  if (doc.GetAllPage() == 0) return;
  if (viewer::ViewerPage* p = doc.viewer().page(0)) PageSize(*p, width, height);
}

Status ExportPages(COstraneDoc& doc, std::uint32_t type, const std::string& output) {
  const int count = doc.GetAllPage();
  if (count == 0) return Status::InvalidArgument("the document has no pages");
  auto folder = paths::InstalledFolder(paths::kLibrariesFolder);
  if (!folder.ok()) return folder.status();
  const std::string library = *folder + "/liblumbrel.so";
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return Status::NotFound(std::string("conversion library not loaded: ") + ::dlerror());
  using GetConvInfFn = int32_t (*)(uint32_t, char*, ZvConverter*);
  auto get = reinterpret_cast<GetConvInfFn>(::dlsym(handle, "GetConvInf"));
  ZvConverter converter = nullptr;
  if (get == nullptr || get(type, nullptr, &converter) == 0 || converter == nullptr) {
    ::dlclose(handle);
    return Status::NotFound("the conversion library has no converter " + std::to_string(type));
  }
  std::vector<viewer::ViewerPage*> pages;
  std::vector<const void*> data;
  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < count; ++i) {
    viewer::ViewerPage* p = doc.viewer().page(i);
    if (p == nullptr) continue;
    auto bytes = p->GetPageData();
    pages.push_back(p);
    data.push_back(bytes.empty() ? nullptr : bytes.data());
    std::uint32_t w, h;
    PageSize(*p, &w, &h);
    sizes.push_back(w);
    sizes.push_back(h);
  }
  bool complete = true;
  for (const void* d : data) complete = complete && d != nullptr;
  int32_t ok = 0;
  if (complete) {
    const std::string name = doc.DisplayName();
    ok = converter(0, output.c_str(), data.data(), sizes.data(), static_cast<uint32_t>(data.size()), name.c_str(),
                   nullptr);
  }
  for (viewer::ViewerPage* p : pages) p->ReleasePageData();
  ::dlclose(handle);
  if (!complete) return Status::IOError("a page has no data (a blank page cannot be converted)");
  return ok != 0 ? Status::Ok() : Status::IOError("the converter failed for " + output);
}

}  // namespace zv::client::app
