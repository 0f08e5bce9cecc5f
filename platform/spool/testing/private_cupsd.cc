#include "platform/spool/testing/private_cupsd.h"

#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

extern char** environ;

namespace zv::spool::testing {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& p, const std::string& text, mode_t mode = 0644) {
  std::ofstream(p, std::ios::binary) << text;
  ::chmod(p.c_str(), mode);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

}  // namespace

// A PPD with three papers (A4 and JIS B5 with 12 pt margins, Letter with 18 pt), duplex,
// colour and two resolutions, whose PDF filter is the capture script.
std::string TestPpd(const fs::path& filter) {
  return R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "ZVTEST.PPD"
*Manufacturer: "Zelvora"
*Product: "(Test)"
*ModelName: "Zelvora Test"
*ShortNickName: "Zelvora Test"
*NickName: "Zelvora Test Printer"
*PSVersion: "(3010.000) 0"
*ColorDevice: True
*DefaultColorSpace: RGB
*cupsFilter2: "application/pdf application/vnd.cups-pdf 0 )PPD" +
         filter.string() + R"PPD("
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageSize Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageSize B5/JIS B5: "<</PageSize[516 729]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageRegion Letter/US Letter: "<</PageSize[612 792]>>setpagedevice"
*PageRegion B5/JIS B5: "<</PageSize[516 729]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "12 12 583 830"
*ImageableArea Letter/US Letter: "18 18 594 774"
*ImageableArea B5/JIS B5: "12 12 504 717"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*PaperDimension Letter/US Letter: "612 792"
*PaperDimension B5/JIS B5: "516 729"
*OpenUI *Duplex/2-Sided: PickOne
*OrderDependency: 20 AnySetup *Duplex
*DefaultDuplex: None
*Duplex None/Off: "<</Duplex false>>setpagedevice"
*Duplex DuplexNoTumble/Long Edge: "<</Duplex true/Tumble false>>setpagedevice"
*Duplex DuplexTumble/Short Edge: "<</Duplex true/Tumble true>>setpagedevice"
*CloseUI: *Duplex
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 10 AnySetup *Resolution
*DefaultResolution: 600dpi
*Resolution 300dpi/300 dpi: "<</HWResolution[300 300]>>setpagedevice"
*Resolution 600dpi/600 dpi: "<</HWResolution[600 600]>>setpagedevice"
*CloseUI: *Resolution
)PPD";
}

void LinkSystemServerBin(const fs::path& serverbin) {
  const fs::path sys = "/usr/lib/cups";
  std::error_code ec;
  for (const char* sub : {"backend", "filter"}) {
    fs::create_directories(serverbin / sub, ec);
    if (!fs::is_directory(sys / sub, ec)) continue;
    for (const auto& e : fs::directory_iterator(sys / sub, ec)) {
      const std::string name = e.path().filename().string();
      // A machine with the virtual printer installed has these: a link to one would let the
      // test's own install write over the machine's program.
      if (name == "zelvora" || name == "olviport" || name == "kelvad" || name == "zelvora-texttopdf" ||
          name == "zelvora-texttoraster")
        continue;
      fs::create_symlink(e.path(), serverbin / sub / name, ec);
    }
  }
  for (const char* sub : {"daemon", "notifier", "cgi-bin", "monitor", "driver"})
    if (fs::exists(sys / sub, ec)) fs::create_directory_symlink(sys / sub, serverbin / sub, ec);
}

int PrivateCupsd::Run(const std::vector<std::string>& args) {
  pid_t pid = Spawn(args);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PrivateCupsd::skipped() { return ::geteuid() != 0; }

std::unique_ptr<PrivateCupsd> PrivateCupsd::Start(const std::vector<CupsQueue>& queues) {
  std::unique_ptr<PrivateCupsd> d(new PrivateCupsd());
  d->Launch(queues);
  return d;
}

std::unique_ptr<PrivateCupsd> PrivateCupsd::StartWithOwnServerBin(const std::vector<CupsQueue>& queues) {
  std::unique_ptr<PrivateCupsd> d(new PrivateCupsd());
  d->own_serverbin_ = true;
  d->Launch(queues);
  return d;
}

PrivateCupsd::~PrivateCupsd() { Stop(); }

void PrivateCupsd::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  std::error_code ec;
  if (!dir_.empty() && std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) fs::remove_all(dir_, ec);
  dir_.clear();
}

void PrivateCupsd::Launch(const std::vector<CupsQueue>& queues) {
  if (::geteuid() != 0) {
    error_ = "the private scheduler needs root";
    return;
  }
  const group* lp = ::getgrnam("lp");
  if (!lp || !fs::exists("/usr/sbin/cupsd") || !fs::exists("/usr/sbin/lpadmin")) {
    error_ = "cupsd, lpadmin or the lp group is missing";
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "zelvora-cupsd.XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = pattern;
  // The scheduler runs filters as lp: the folder must be passable, the output writable.
  ::chmod(dir_.c_str(), 0755);
  for (const char* d : {"spool", "spool/tmp", "cache", "state", "log", "out", "ppd"}) {
    fs::create_directories(dir_ / d);
  }
  ::chown((dir_ / "spool").c_str(), 0, lp->gr_gid);
  ::chmod((dir_ / "spool").c_str(), 0710);
  ::chown((dir_ / "spool/tmp").c_str(), 0, lp->gr_gid);
  ::chmod((dir_ / "spool/tmp").c_str(), 01770);
  ::chmod((dir_ / "out").c_str(), 0777);
  const std::string d = dir_.string();
  std::string serverbin_line;
  if (own_serverbin_) {
    LinkSystemServerBin(dir_ / "serverbin");
    serverbin_line = "ServerBin " + d + "/serverbin\n";
  }
  WriteText(dir_ / "cups-files.conf", serverbin_line + "ServerRoot " + d + "\nRequestRoot " + d + "/spool\nTempDir " +
                                          d +
                                          "/spool/tmp\n"
                                          "CacheDir " +
                                          d + "/cache\nStateDir " + d + "/state\nAccessLog " + d +
                                          "/log/access_log\n"
                                          "ErrorLog " +
                                          d + "/log/error_log\nPageLog " + d +
                                          "/log/page_log\nFileDevice Yes\n"
                                          "User lp\nGroup lp\nSystemGroup root\nPeerCred off\nSandboxing Relaxed\n");
  WriteText(dir_ / "cupsd.conf", "Listen " + socket() +
                                     "\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                                     "PreserveJobHistory Yes\nLogLevel warn\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                     "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  // The capture filter: job id, user, title, copies and options (argv 1-5), then the PDF.
  WriteText(dir_ / "capture.sh",
            "#!/bin/sh\numask 022\nout=" + out().string() +
                "\n"
                "printf '%s\\n' \"$1\" \"$2\" \"$3\" \"$4\" \"$5\" > \"$out/job-$1.args.tmp\"\n"
                "if [ -n \"$6\" ]; then cat \"$6\" > \"$out/job-$1.pdf.tmp\"; "
                "else cat > \"$out/job-$1.pdf.tmp\"; fi\n"
                "mv \"$out/job-$1.pdf.tmp\" \"$out/job-$1.pdf\"\n"
                "mv \"$out/job-$1.args.tmp\" \"$out/job-$1.args\"\n",
            0755);
  WriteText(dir_ / "test.ppd", TestPpd(dir_ / "capture.sh"));

  pid_ = Spawn({"/usr/sbin/cupsd", "-f", "-c", d + "/cupsd.conf", "-s", d + "/cups-files.conf"});
  if (pid_ < 0) {
    error_ = "cannot start cupsd";
    return;
  }
  bool up = WaitFor(
      [&] {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket().c_str());
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
      },
      std::chrono::milliseconds(10000));
  if (!up) {
    error_ = "cupsd did not come up; see " + d + "/log/error_log";
    return;
  }
  setenv("CUPS_SERVER", socket().c_str(), 1);
  for (const auto& q : queues) {
    if (Run({"/usr/sbin/lpadmin", "-p", q.name, "-E", "-v", q.device_uri, "-P", d + "/test.ppd"}) != 0) {
      error_ = "lpadmin failed for " + q.name;
      return;
    }
  }
}

}  // namespace zv::spool::testing
