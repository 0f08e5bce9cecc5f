#include "driver/yorvane/installer.h"

#include "driver/brastow/port_ui.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "driver/settings/ppd.h"
#include "platform/spool/testing/private_cupsd.h"
#include "platform/testing/temp_root.h"

namespace zv::driver::yorvane {
namespace {
namespace sfs = std::filesystem;

std::string ReadAll(const sfs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const sfs::path& p, const std::string& text, mode_t mode = 0644) {
  std::ofstream(p, std::ios::binary) << text;
  ::chmod(p.c_str(), mode);
}

// A source folder holding the three programs (small scripts) and a server-bin folder.
struct Folders {
  testing::TempRoot root;
  sfs::path source = root.path() / "src";
  sfs::path serverbin = root.path() / "serverbin";
  Folders() {
    sfs::create_directories(source);
    for (const char* n : {"zelvora", "olviport", "kelvad"})
      Write(source / n, std::string("#!/bin/sh\n# ") + n + "\nexit 0\n", 0755);
  }
  InstallLayout layout() const { return {serverbin, {}}; }
};

std::map<std::string, std::string> ByName(SpoolerAdmin& admin) {
  std::map<std::string, std::string> m;
  auto list = admin.EnumPrinters();
  EXPECT_TRUE(list.ok());
  if (list.ok())
    for (const auto& p : *list) m[p.name] = p.driver;
  return m;
}

std::uint32_t Install(SpoolerAdmin& admin, const Folders& f, const char* name, const char* app = "Cast") {
  return pddSystemInstall(admin, f.layout(), 0, name, f.source.c_str(), app, 100, 100, 50, 50, 300);
}

// A snapshot of every file under a folder with its bytes, modes and times.
std::map<std::string, std::string> Snapshot(const sfs::path& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : sfs::recursive_directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    m[e.path().string()] = std::to_string(st.st_mode) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec) + ":" +
                           (e.is_regular_file() ? ReadAll(e.path()) : std::string());
  }
  return m;
}

TEST(InstallerNames, Validation) {
  struct Case {
    std::string name;
    bool ok;
  };
  const Case cases[] = {{"Zelvora", true},
                        {"事務所 プリンタ", true},
                        {std::string(127, 'a'), true},
                        {"", false},
                        {"a/b", false},
                        {"a\\b", false},
                        {"a\nb", false},
                        {"a\tb", false},
                        {std::string(128, 'a'), false},
                        {std::string("a\x7f"), false}};
  for (const Case& c : cases) EXPECT_EQ(ValidPrinterName(c.name), c.ok) << c.name;
}

TEST(InstallerPpd, DefaultsCarryResolutionMarginsAndName) {
  const std::string ppd = PpdWithDefaults(false, "Cast \"x\"", 300, 100, 100, 50, 49);
  EXPECT_EQ(PpdDefault(ppd, "Resolution"), "300dpi");
  EXPECT_EQ(PpdDefault(ppd, "ZelvoraTopMargin"), "10mm");
  EXPECT_EQ(PpdDefault(ppd, "ZelvoraLeftMargin"), "5mm");
  EXPECT_EQ(PpdDefault(ppd, "ZelvoraRightMargin"), "0mm");  // 4.9 mm: the choice below
  EXPECT_NE(ppd.find("*ZelvoraAppName: \"Cast ?x?\"\n"), std::string::npos);
  // An unknown resolution and a margin beyond 30 mm fall back to the table's limits.
  const std::string odd = PpdWithDefaults(true, "", 123, 999, 0, 0, 0);
  EXPECT_EQ(PpdDefault(odd, "Resolution"), "200dpi");
  EXPECT_EQ(PpdDefault(odd, "ZelvoraTopMargin"), "30mm");
}

TEST(InstallerFolder, InstallTwiceUninstallOneOfTwo) {
  Folders f;
  auto admin = FolderAdmin(f.root.path() / "printers");
  const std::vector<std::string> port{"OLVIPORT :"};
  brastow::PortRegistry ports;  // $ZELVORA_ROOT/ports/registry, as the installer's default
  ASSERT_EQ(Install(*admin, f, "Office"), kDone);
  EXPECT_EQ(ports.Ports(), port);
  auto m = ByName(*admin);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m["Office"], kPassThroughDriver);
  EXPECT_EQ(m["Office-Raster"], kRasterDriver);
  const std::string ppd = ReadAll(f.root.path() / "printers" / "Office" / "printer.ppd");
  EXPECT_EQ(PpdDefault(ppd, "Resolution"), "300dpi");
  EXPECT_NE(ppd.find("*ZelvoraAppName: \"Cast\""), std::string::npos);
  // The files: root-owned, backends 0700, the filter 0755.
  struct Want {
    const char* path;
    mode_t mode;
  };
  for (const Want& w : {Want{"backend/zelvora", 0700}, Want{"backend/olviport", 0700}, Want{"filter/kelvad", 0755}}) {
    struct stat st {};
    ASSERT_EQ(::lstat((f.serverbin / w.path).c_str(), &st), 0) << w.path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << w.path;
    EXPECT_EQ(st.st_mode & 07777, w.mode) << w.path;
    EXPECT_EQ(st.st_uid, 0u) << w.path;
  }
  // Again: nothing changes, not even a printer given other defaults.
  const auto before = Snapshot(f.root.path() / "printers");
  EXPECT_EQ(pddSystemInstall(*admin, f.layout(), 0, "Office", f.source.c_str(), "Other", 0, 0, 0, 0, 600), kDone);
  EXPECT_EQ(Snapshot(f.root.path() / "printers"), before);

  // A second printer; removing the first keeps the second and the files.
  ASSERT_EQ(Install(*admin, f, "Annex"), kDone);
  EXPECT_EQ(ports.Ports(), port);  // one port for every printer
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Office"), kDone);
  EXPECT_EQ(ports.Ports(), port);
  m = ByName(*admin);
  EXPECT_EQ(m.count("Office") + m.count("Office-Raster"), 0u);
  EXPECT_EQ(m.count("Annex") + m.count("Annex-Raster"), 2u);
  EXPECT_TRUE(sfs::exists(f.serverbin / "backend/zelvora"));
  // The last one takes the files with it.
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Annex"), kDone);
  EXPECT_TRUE(ByName(*admin).empty());
  EXPECT_FALSE(sfs::exists(f.serverbin / "backend/zelvora"));
  EXPECT_FALSE(sfs::exists(f.serverbin / "filter/kelvad"));
  EXPECT_TRUE(ports.Ports().empty());
  // No printer of the driver left: refused.
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Annex"), kRefused);
}

TEST(InstallerFolder, PortThatCannotBeAddedStopsBeforeTheQueues) {
  Folders f;
  auto admin = FolderAdmin(f.root.path() / "printers");
  // The registry's folder is a file: the port cannot be written.
  Write(f.root.path() / "blocked", "x");
  InstallLayout layout{f.serverbin, f.root.path() / "blocked" / "registry"};
  EXPECT_EQ(pddSystemInstall(*admin, layout, 0, "Office", f.source.c_str(), "Cast", 0, 0, 0, 0, 300), kPortFailed);
  EXPECT_TRUE(ByName(*admin).empty());
  // A registry of its own: the port goes there.
  layout.port_registry = f.root.path() / "registry";
  EXPECT_EQ(pddSystemInstall(*admin, layout, 0, "Office", f.source.c_str(), "Cast", 0, 0, 0, 0, 300), kDone);
  EXPECT_EQ(brastow::PortRegistry(layout.port_registry.string()).Ports(), std::vector<std::string>{"OLVIPORT :"});
  EXPECT_EQ(pddSystemUnInstall(*admin, layout, 0, "Office"), kDone);
  EXPECT_TRUE(brastow::PortRegistry(layout.port_registry.string()).Ports().empty());
}

TEST(InstallerFolder, AnotherDriversPrinterIsNeitherTouchedNorRemoved) {
  Folders f;
  auto admin = FolderAdmin(f.root.path() / "printers");
  ASSERT_TRUE(admin->AddPrinter({"Shared", "", "FILE:", "Acme Laser", "*PPD-Adobe: \"4.3\"\n"}).ok());
  const auto before = ReadAll(f.root.path() / "printers" / "Shared" / "printer.ppd");
  // Install under that name keeps the printer as it is (the raster twin is added).
  EXPECT_EQ(Install(*admin, f, "Shared"), kDone);
  EXPECT_EQ(ByName(*admin)["Shared"], "Acme Laser");
  EXPECT_EQ(ReadAll(f.root.path() / "printers" / "Shared" / "printer.ppd"), before);
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Shared"), kRefused);
  EXPECT_EQ(ByName(*admin).size(), 2u);
  // A name nobody has, while a printer of the driver exists: the deletion is refused.
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Nobody"), kPrinterFailed);
}

TEST(InstallerFolder, HostileArgumentsAreRefused) {
  Folders f;
  auto admin = FolderAdmin(f.root.path() / "printers");
  sfs::create_directory_symlink(f.source, f.root.path() / "link");
  Write(f.root.path() / "plain", "x");
  const std::string src = f.source.string();
  struct Case {
    const char* name;
    std::string source;
    const char* app;
  };
  const Case cases[] = {
      {nullptr, src, "A"},
      {"P", src, nullptr},
      {"", src, "A"},
      {"a/b", src, "A"},
      {"a\\b", src, "A"},
      {"a\nb", src, "A"},
      {"P", "relative/src", "A"},
      {"P", (f.root.path() / "missing").string(), "A"},
      {"P", (f.root.path() / "plain").string(), "A"},
      {"P", (f.root.path() / "link").string(), "A"},
      {"P", "", "A"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pddSystemInstall(*admin, f.layout(), 0, c.name, c.source.c_str(), c.app, 0, 0, 0, 0, 200),
              kMissingArgument)
        << (c.name ? c.name : "(null)") << " " << c.source;
  EXPECT_EQ(pddSystemInstall(*admin, f.layout(), 0, "P", nullptr, "A", 0, 0, 0, 0, 200), kMissingArgument);
  const std::string long_name(121, 'p');  // its raster twin would pass 127 bytes
  EXPECT_EQ(Install(*admin, f, long_name.c_str()), kMissingArgument);
  for (const char* n : {static_cast<const char*>(nullptr), "", "../x", "a\\b", "a\x01"})
    EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, n), kMissingArgument);
  EXPECT_TRUE(ByName(*admin).empty());
  EXPECT_FALSE(sfs::exists(f.serverbin));

  // Only regular files are taken: a link in the source is passed over.
  sfs::remove(f.source / "kelvad");
  sfs::create_symlink("/bin/sh", f.source / "kelvad");
  EXPECT_EQ(Install(*admin, f, "P"), kDone);
  EXPECT_TRUE(sfs::exists(f.serverbin / "backend/zelvora"));
  EXPECT_FALSE(sfs::exists(f.serverbin / "filter/kelvad"));
}

TEST(InstallerFolder, NamesArriveInCp932) {
  Folders f;
  auto admin = FolderAdmin(f.root.path() / "printers");
  // "事務所" in CP932.
  const char name[] = "\x8e\x96\x96\xb1\x8f\x8a";
  ASSERT_EQ(Install(*admin, f, name, "\x83\x65\x83\x58\x83\x67"), kDone);  // "テスト"
  auto m = ByName(*admin);
  EXPECT_EQ(m.count("事務所"), 1u);
  auto dir = f.root.path() / "printers";
  bool found = false;
  for (const auto& e : sfs::directory_iterator(dir))
    if (sfs::exists(e.path() / "printer.ppd") && ReadAll(e.path() / "printer.ppd").find("テスト") != std::string::npos)
      found = true;
  EXPECT_TRUE(found);
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, name), kDone);
  // Bytes that are no CP932 text are refused.
  EXPECT_EQ(Install(*admin, f, "\x81"), kMissingArgument);
}

TEST(InstallerCups, InstallTwiceAndUninstall) {
  if (spool::testing::PrivateCupsd::skipped()) GTEST_SKIP() << "needs root";
  auto cupsd = spool::testing::PrivateCupsd::StartWithOwnServerBin({{"Other"}});
  ASSERT_TRUE(cupsd->ok()) << cupsd->error();
  Folders f;
  f.serverbin = cupsd->serverbin();
  auto admin = CupsAdmin();
  ASSERT_EQ(Install(*admin, f, "Zelvora"), kDone);
  auto m = ByName(*admin);
  EXPECT_EQ(m["Zelvora"], kPassThroughDriver);
  EXPECT_EQ(m["Zelvora-Raster"], kRasterDriver);
  EXPECT_EQ(m.count("Other"), 1u);
  auto list = admin->EnumPrinters();
  ASSERT_TRUE(list.ok());
  for (const auto& p : *list) {
    if (p.name == "Zelvora") {
      EXPECT_EQ(p.port, "zelvora:/");
    } else if (p.name == "Zelvora-Raster") {
      EXPECT_EQ(p.port, "olviport:/OLVIPORT");
    }
  }
  struct stat st {};
  ASSERT_EQ(::lstat((f.serverbin / "backend/zelvora").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // Again: no change.
  EXPECT_EQ(Install(*admin, f, "Zelvora"), kDone);
  EXPECT_EQ(ByName(*admin), m);
  // Another driver's printer is refused; one of two of ours goes, the other stays.
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Other"), kRefused);
  ASSERT_EQ(Install(*admin, f, "Annex"), kDone);
  EXPECT_EQ(pddSystemUnInstall(*admin, f.layout(), 0, "Zelvora"), kDone);
  m = ByName(*admin);
  EXPECT_EQ(m.count("Zelvora") + m.count("Zelvora-Raster"), 0u);
  EXPECT_EQ(m.count("Annex") + m.count("Annex-Raster") + m.count("Other"), 3u);
  EXPECT_TRUE(sfs::exists(f.serverbin / "backend/olviport"));
}

}  // namespace
}  // namespace zv::driver::yorvane
