#include "platform/paths/root_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/base/root.h"
#include "platform/paths/paths.h"

namespace zv::paths {

Status KeepRootOutOfHome() {
  if (::geteuid() != 0) return Status::Ok();
  auto unset = [](const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr || *v == '\0';
  };
  if (unset("XDG_RUNTIME_DIR")) {
    auto runtime = RootFolder("xdg/runtime", 0700);
    if (!runtime.ok()) return runtime.status();
    // An older folder may have another mode; Qt refuses a runtime folder others can enter.
    if (::chmod(runtime->c_str(), 0700) != 0) return Status::IOError("cannot make " + *runtime + " private");
    ::setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
  }
  const std::string base = RuntimeRoot() + "/xdg/";
  const struct {
    const char* variable;
    const char* folder;
  } homes[] = {{"XDG_CONFIG_HOME", "config"},
               {"XDG_CACHE_HOME", "cache"},
               {"XDG_DATA_HOME", "data"},
               {"XDG_STATE_HOME", "state"}};
  for (const auto& h : homes)
    if (unset(h.variable)) ::setenv(h.variable, (base + h.folder).c_str(), 1);
  return Status::Ok();
}

}  // namespace zv::paths
