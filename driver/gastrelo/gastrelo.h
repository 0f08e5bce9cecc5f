// The loader of Gastrelo, the virtual printer's resource library: opened by absolute path from
// the install's library folder only (never through the search path), and closed with the
// object.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/gastrelo/resource_ids.h"
#include "platform/base/status.h"

namespace zv::driver::gastrelo {

inline constexpr const char* kLibraryName = "libzvgastrelo.so";

// Gives the install's library folder: "../lib" beside the running program when it holds the
// library, else the program's own folder.
Result<std::string> InstallLibraryFolder();

class Resources {
 public:
  // Takes an absolute folder (empty: InstallLibraryFolder()); opens the library in it.
  // InvalidArgument for a relative folder, NotFound when the library is missing or lacks its
  // entry points.
  static Result<std::unique_ptr<Resources>> Load(const std::string& folder = {});
  ~Resources();
  Resources(const Resources&) = delete;
  Resources& operator=(const Resources&) = delete;

  // Takes a string id; gives its text, or none.
  std::optional<std::string> String(int id) const;
  // Takes a dialog id; gives its title, or none.
  std::optional<std::string> DialogTitle(int id) const;
  // Takes a dialog id and a control id; gives the control's text, or empty.
  std::string DialogText(int dialog, int control) const;

 private:
  Resources() = default;
  void* handle_ = nullptr;
  ZvGastreloStringFn string_ = nullptr;
  ZvGastreloDialogFn dialog_ = nullptr;
};

}  // namespace zv::driver::gastrelo
