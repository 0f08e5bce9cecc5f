#include "driver/gastrelo/gastrelo.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/paths/paths.h"

namespace zv::driver::gastrelo {
namespace sfs = std::filesystem;

Result<std::string> InstallLibraryFolder() {
  auto program = paths::ProgramFolder();
  if (!program.ok()) return program.status();
  std::error_code ec;
  const sfs::path lib = sfs::path(*program).parent_path() / "lib";
  if (sfs::is_regular_file(lib / kLibraryName, ec)) return lib.string();
  return *program;
}

Result<std::unique_ptr<Resources>> Resources::Load(const std::string& folder) {
  std::string dir = folder;
  if (dir.empty()) {
    auto d = InstallLibraryFolder();
    if (!d.ok()) return d.status();
    dir = *d;
  }
  if (!sfs::path(dir).is_absolute()) return Status::InvalidArgument("the resource folder must be absolute");
  const std::string path = (sfs::path(dir) / kLibraryName).string();
  std::error_code ec;
  if (!sfs::is_regular_file(path, ec)) return Status::NotFound("no resource library at " + path);
  std::unique_ptr<Resources> r(new Resources());
  r->handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!r->handle_) return Status::NotFound("cannot open " + path);
  r->string_ = reinterpret_cast<ZvGastreloStringFn>(::dlsym(r->handle_, "ZvGastreloString"));
  r->dialog_ = reinterpret_cast<ZvGastreloDialogFn>(::dlsym(r->handle_, "ZvGastreloDialog"));
  if (!r->string_ || !r->dialog_) return Status::NotFound(path + " lacks its entry points");
  return r;
}

Resources::~Resources() {
  if (handle_) ::dlclose(handle_);
}

std::optional<std::string> Resources::String(int id) const {
  const char* s = string_(id);
  if (!s) return std::nullopt;
  return std::string(s);
}

std::optional<std::string> Resources::DialogTitle(int id) const {
  const char* t = dialog_(id, nullptr, nullptr);
  if (!t) return std::nullopt;
  return std::string(t);
}

std::string Resources::DialogText(int dialog, int control) const {
  const ZvGastreloItem* items = nullptr;
  int count = 0;
  dialog_(dialog, &items, &count);
  for (int i = 0; items && i < count; ++i)
    if (items[i].id == control) return items[i].text;
  return {};
}

}  // namespace zv::driver::gastrelo
