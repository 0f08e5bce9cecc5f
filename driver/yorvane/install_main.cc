// zelvora-install: the installer's two entry points on the command line, over the CUPS server
// this process talks to (CUPS_SERVER) or a folder-printer root.
//
//   zelvora-install install --printer NAME --source DIR [--app-name NAME] [--serverbin DIR]
//                   [--margins TOP,BOTTOM,LEFT,RIGHT] [--resolution DPI] [--folder-printers DIR]
//                   [--port-registry FILE]
//   zelvora-install uninstall --printer NAME [--serverbin DIR] [--folder-printers DIR]
//                   [--port-registry FILE]
//
// The port "OLVIPORT :" goes into the port registry FILE (default $ZELVORA_ROOT/ports/registry).
//
// Names are taken as UTF-8 and handed to the entry points in CP932. Exits 0 when the entry
// point gave 0, else prints its code and exits 1.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "driver/yorvane/installer.h"
#include "platform/codepage/codepage.h"
#include "platform/process/usage.h"

namespace {

constexpr zv::process::Usage kUsage{
    "zelvora-install",
    "Usage: zelvora-install install --printer NAME --source DIR [--app-name NAME] [--serverbin DIR]\n"
    "                       [--margins T,B,L,R] [--resolution DPI] [--folder-printers DIR]\n"
    "                       [--port-registry FILE]\n"
    "       zelvora-install uninstall --printer NAME [--serverbin DIR] [--folder-printers DIR]\n"
    "                       [--port-registry FILE]\n"
    "Installs or removes the virtual printer through the driver installer's two entry points.\n"
    "\n"
    "Commands and options:\n"
    "  install              add the printer NAME with the driver files of DIR (--source)\n"
    "  uninstall            remove the printer NAME\n"
    "  --app-name NAME      the application's name (default Zelvora)\n"
    "  --serverbin DIR      CUPS's program folder for the backend (default /usr/lib/cups)\n"
    "  --margins T,B,L,R    the printer's margins (default 50,50,50,50)\n"
    "  --resolution DPI     its resolution (default 200)\n"
    "  --folder-printers DIR  a folder-printer root instead of the CUPS server\n"
    "  --port-registry FILE   where the port \"OLVIPORT :\" is kept (default\n"
    "                       $ZELVORA_ROOT/ports/registry)\n"
    "  --help               show this text\n"
    "Names are UTF-8. Exit codes: 0 done, 1 the entry point failed (its code is printed), 2 a\n"
    "wrong command line.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  CUPS_SERVER            the CUPS server to talk to (libcups's default otherwise)\n"};

constexpr zv::process::Option kOptions[] = {
    {"--printer", zv::process::Option::Kind::kValue},         {"--source", zv::process::Option::Kind::kValue},
    {"--app-name", zv::process::Option::Kind::kValue},        {"--serverbin", zv::process::Option::Kind::kValue},
    {"--margins", zv::process::Option::Kind::kValue},         {"--resolution", zv::process::Option::Kind::kValue},
    {"--folder-printers", zv::process::Option::Kind::kValue}, {"--port-registry", zv::process::Option::Kind::kValue},
};

int Usage() { return kUsage.Error("wrong command line"); }

}  // namespace

int main(int argc, char** argv) {
  using namespace zv::driver::yorvane;
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, kOptions, kUsage)) return *done;
  if (argc < 2) return kUsage.Error("no command");
  const std::string command = argv[1];
  std::map<std::string, std::string> opt{{"--app-name", "Zelvora"},
                                         {"--margins", "50,50,50,50"},
                                         {"--resolution", "200"},
                                         {"--serverbin", "/usr/lib/cups"}};
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc || std::string(argv[i]).rfind("--", 0) != 0) return Usage();
    opt[argv[i]] = argv[i + 1];
  }
  if (!opt.count("--printer")) return Usage();
  auto cp932 = [](const std::string& s) -> std::string {
    auto r = zv::codepage::Utf8ToCp932(s);
    return r.ok() ? *r : std::string("\x81");  // not CP932 text: the entry point refuses it
  };
  const std::string printer = cp932(opt["--printer"]);
  InstallLayout layout{opt["--serverbin"], opt["--port-registry"]};
  auto admin = opt.count("--folder-printers") ? FolderAdmin(opt["--folder-printers"]) : CupsAdmin();
  std::uint32_t code;
  if (command == "install") {
    if (!opt.count("--source")) return Usage();
    unsigned m[4];
    if (std::sscanf(opt["--margins"].c_str(), "%u,%u,%u,%u", &m[0], &m[1], &m[2], &m[3]) != 4) return Usage();
    const std::string source = cp932(opt["--source"]), app = cp932(opt["--app-name"]);
    code = pddSystemInstall(*admin, layout, 0, printer.c_str(), source.c_str(), app.c_str(), m[0], m[1], m[2], m[3],
                            static_cast<std::uint32_t>(std::strtoul(opt["--resolution"].c_str(), nullptr, 10)));
  } else if (command == "uninstall") {
    code = pddSystemUnInstall(*admin, layout, 0, printer.c_str());
  } else {
    return Usage();
  }
  if (code != kDone) {
    std::fprintf(stderr, "zelvora-install: %s gave 0x%X\n", command.c_str(), code);
    return 1;
  }
  return 0;
}
