// inkarrow: the service host. "-install" / "-remove" (or with "/") install and remove the
// service "Zelvora Service"; started by the service table, it runs the server print engine.
// "--help" prints the usage.
#include <string>
#include <vector>

#include "service/service_host.h"

int main(int argc, char** argv) {
  using namespace zv::service_host;
  std::vector<std::string> args(argv + 1, argv + argc);
  switch (ParseCommandLine(args)) {
    case Command::kInstall:
      return Install();
    case Command::kRemove:
      return Remove();
    case Command::kNothing:
      return 0;
    case Command::kRunService:
      return RunAsService(argc, argv);
    case Command::kHelp:
    case Command::kUnknownOption:
      return ShowUsage(args);
  }
  return 0;
}
