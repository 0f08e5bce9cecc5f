// zelvora-feeder: feeds a spooled print job, or files given on the command line, through the
// capture library's exports.
//   zelvora-feeder --job SPOOL/ID.job [--memory-mb N] [--seconds N]   (ID.zvr or ID.pdf beside it)
//   zelvora-feeder [--title TITLE] [--paper A4] [--orientation 1|2] [--resolution DPI] FILE...
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/common/log.h"
#include "capture/feeder/feeder.h"
#include "platform/fs/files.h"
#include "platform/process/usage.h"

namespace {

using Kind = zv::process::Option::Kind;

constexpr zv::process::Usage kUsage{
    "zelvora-feeder",
    "Usage: zelvora-feeder --job SPOOL/ID.job [--memory-mb N] [--seconds N] [--page-seconds N]\n"
    "       zelvora-feeder [--title TITLE] [--paper A4] [--orientation 1|2] [--resolution DPI] FILE...\n"
    "Feeds a spooled print job, or files, through the capture library as one print job.\n"
    "\n"
    "Options:\n"
    "  --job FILE         the job file of a spooled job; its pages are ID.zvr (a page raster\n"
    "                     stream) or ID.pdf beside it\n"
    "  --memory-mb N      limit the address space to N MiB\n"
    "  --seconds N        end after N seconds, or N seconds of processor time\n"
    "  --page-seconds N   end when one page takes more than N seconds of processor time\n"
    "                     (or 6 x N seconds in all; default 10)\n"
    "  --title TITLE      the job's title (for FILE...)\n"
    "  --paper NAME       the paper (default A4)\n"
    "  --orientation 1|2  portrait or landscape\n"
    "  --resolution DPI   the resolution PDF pages are rendered at\n"
    "  FILE...            \".pdf\" files are rendered, any other is sent as metafile pages\n"
    "  --help             show this text\n"
    "Exit codes: 0 fed, 1 a failure, 2 a wrong command line.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT};

constexpr zv::process::Option kOptions[] = {
    {"--job", Kind::kValue},        {"--memory-mb", Kind::kValue}, {"--seconds", Kind::kValue},
    {"--title", Kind::kValue},      {"--paper", Kind::kValue},     {"--orientation", Kind::kValue},
    {"--resolution", Kind::kValue}, {"--page-seconds", Kind::kValue},
};

}  // namespace

int main(int argc, char** argv) {
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, kOptions, kUsage)) return *done;
  std::string job_file;
  long memory_mb = 0, seconds = 0, page_seconds = 10;
  zv::capture::SpoolJob settings;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--job") job_file = next();
    else if (a == "--memory-mb") memory_mb = std::atol(next().c_str());
    else if (a == "--seconds") seconds = std::atol(next().c_str());
    else if (a == "--page-seconds") page_seconds = std::atol(next().c_str());
    else if (a == "--title") settings.title = next();
    else if (a == "--paper") settings.paper = next();
    else if (a == "--orientation") settings.orientation = std::atoi(next().c_str());
    else if (a == "--resolution") settings.resolution = std::atoi(next().c_str());
    else files.push_back(a);
  }
  zv::capture::PrepareFeederProcess();
  if (memory_mb > 0) {
    rlimit lim{static_cast<rlim_t>(memory_mb) << 20, static_cast<rlim_t>(memory_mb) << 20};
    ::setrlimit(RLIMIT_AS, &lim);
  }
  if (seconds > 0) {
    ::alarm(static_cast<unsigned>(seconds));
    // The same bound on processor time, which a busy machine does not stretch.
    rlimit cpu{static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds) + 5};
    ::setrlimit(RLIMIT_CPU, &cpu);
  }

  zv::Status result;
  if (!job_file.empty()) {
    const std::size_t slash = job_file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : job_file.substr(0, slash);
    std::string name = job_file.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.size() < 5 || name.substr(name.size() - 4) != ".job") {
      std::fprintf(stderr, "zelvora-feeder: not a job file: %s\n", job_file.c_str());
      return 2;
    }
    const std::string id = name.substr(0, name.size() - 4);
    if (page_seconds > 0) zv::capture::StartPageWatchdog(static_cast<int>(page_seconds), static_cast<int>(page_seconds) * 6, id);
    auto text = zv::fs::ReadFile(job_file, 1 << 20);
    auto job = text.ok() ? zv::capture::ParseJobFile(*text, id) : zv::Result<zv::capture::SpoolJob>(text.status());
    // A job of the raster queue comes as a page raster stream, one of the PDF queue as PDF.
    const std::string stream = folder + "/" + id + ".zvr";
    if (!job.ok()) {
      result = job.status();
    } else if (::access(stream.c_str(), F_OK) == 0) {
      result = zv::capture::FeedRasterJob(*job, stream);
    } else {
      result = zv::capture::FeedJob(*job, folder + "/" + id + ".pdf");
    }
  } else if (!files.empty()) {
    if (!zv::capture::FindPaper(settings.paper)) {
      std::fprintf(stderr, "zelvora-feeder: unknown paper %s\n", settings.paper.c_str());
      return 2;
    }
    result = zv::capture::FeedFiles(files, settings);
  } else {
    return kUsage.Error("no job file and no files");
  }
  if (!result.ok()) {
    zv::capture::AppendCaptureLog("feeder: " + result.ToString());
    std::fprintf(stderr, "zelvora-feeder: %s\n", result.ToString().c_str());
    return 1;
  }
  return 0;
}
