#include "platform/process/open_file.h"

#include "platform/process/process.h"

namespace zv::process {

std::vector<std::string> OpenFileCommand(const std::string& file) { return {"xdg-open", file}; }

Status RunDetached(const std::vector<std::string>& argv) {
  StartOptions o;
  o.argv = argv;
  o.detached = true;
  auto p = Start(o);
  return p.ok() ? Status::Ok() : p.status();
}

}  // namespace zv::process
