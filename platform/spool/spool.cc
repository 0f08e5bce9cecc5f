#include "platform/spool/spool.h"

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/base/root.h"
#include "platform/spool/cups_spooler.h"
#include "platform/spool/folder_spooler.h"

namespace zv::spool {

namespace {

struct StateRow {
  JobState state;
  const char* name;
  std::uint32_t bits;
  bool in_queue;
};

constexpr StateRow kStates[] = {
    {JobState::kSpooling, "spooling", JOB_STATUS_SPOOLING, true},
    {JobState::kQueued, "queued", 0, true},
    {JobState::kPrinting, "printing", JOB_STATUS_PRINTING, true},
    {JobState::kPaused, "paused", JOB_STATUS_PAUSED, true},
    {JobState::kOffline, "offline", JOB_STATUS_OFFLINE, true},
    {JobState::kError, "error", JOB_STATUS_ERROR, true},
    {JobState::kDeleting, "deleting", JOB_STATUS_DELETING, true},
    {JobState::kCompleted, "completed", JOB_STATUS_PRINTED, false},
    {JobState::kDeleted, "deleted", JOB_STATUS_DELETED, false},
};

const StateRow& Row(JobState s) {
  for (const auto& r : kStates) {
    if (r.state == s) return r;
  }
  return kStates[1];
}

}  // namespace

std::uint32_t StatusBitsFor(JobState state) { return Row(state).bits; }
const char* JobStateName(JobState state) { return Row(state).name; }
bool InQueue(JobState state) { return Row(state).in_queue; }

std::optional<JobState> ParseJobState(const std::string& word) {
  for (const auto& r : kStates) {
    if (word == r.name) return r.state;
  }
  return std::nullopt;
}

Result<DevMode> Spooler::DefaultDevMode(const std::string& printer) {
  auto caps = GetCapabilities(printer);
  if (!caps.ok()) return caps.status();
  return MakeDefaultDevMode(printer, *caps);
}

Result<DevMode> Spooler::MergeDevMode(const std::string& printer, const DevMode& in) {
  auto caps = GetCapabilities(printer);
  if (!caps.ok()) return caps.status();
  return spool::MergeDevMode(MakeDefaultDevMode(printer, *caps), in, *caps);
}

Result<std::vector<std::uint8_t>> Spooler::DevNames(const std::string& printer) {
  if (printer.empty()) return Status::InvalidArgument("empty printer name");
  auto info = GetPrinter(printer);
  if (!info.ok()) return info.status();
  return MakeDevNames(info->driver, info->name, info->port);
}

Result<std::unique_ptr<Spooler>> OpenSpooler() {
  std::string backend;
  if (const char* e = std::getenv("ZELVORA_SPOOLER"); e && *e) {
    backend = e;
  } else {
    std::ifstream in(RuntimeRoot() + "/printers/backend");
    in >> backend;
  }
  if (backend.empty() || backend == "folder") {
    return std::unique_ptr<Spooler>(std::make_unique<FolderSpooler>());
  }
  if (backend == "cups") return std::unique_ptr<Spooler>(std::make_unique<CupsSpooler>());
  return Status::InvalidArgument("unknown spooler backend \"" + backend + "\"");
}

bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

Result<std::optional<JobInfo>> FindQueuedJob(Spooler& spooler, const std::string& printer, const JobQuery& query) {
  auto jobs = spooler.EnumJobs(printer);
  if (!jobs.ok()) return jobs.status();
  // Newest first: when several jobs match, the caller means the one just submitted.
  for (auto it = jobs->rbegin(); it != jobs->rend(); ++it) {
    const JobInfo& j = *it;
    if (j.status == JOB_STATUS_DELETING || !InQueue(j.state)) continue;
    if (!EqualsIgnoreAsciiCase(j.document, query.document)) continue;
    if (query.owner && j.owner != *query.owner) continue;
    if (query.local_date || query.local_time) {
      win::SYSTEMTIME t = ToLocalTime(j.submitted);
      std::int32_t date = t.wYear * 10000 + t.wMonth * 100 + t.wDay;
      std::int32_t time = t.wHour * 10000 + t.wMinute * 100 + t.wSecond;
      if (query.local_date && *query.local_date != date) continue;
      if (query.local_time && *query.local_time != time) continue;
    }
    return std::optional<JobInfo>(j);
  }
  return std::optional<JobInfo>();
}

win::SYSTEMTIME SystemTimeFromUnixMs(std::int64_t unix_ms) {
  std::int64_t secs = unix_ms / 1000;
  std::int64_t ms = unix_ms % 1000;
  if (ms < 0) {
    ms += 1000;
    --secs;
  }
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  gmtime_r(&t, &tm);
  win::SYSTEMTIME st{};
  st.wYear = static_cast<win::WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<win::WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<win::WORD>(tm.tm_wday);
  st.wDay = static_cast<win::WORD>(tm.tm_mday);
  st.wHour = static_cast<win::WORD>(tm.tm_hour);
  st.wMinute = static_cast<win::WORD>(tm.tm_min);
  st.wSecond = static_cast<win::WORD>(tm.tm_sec);
  st.wMilliseconds = static_cast<win::WORD>(ms);
  return st;
}

win::SYSTEMTIME ToLocalTime(const win::SYSTEMTIME& utc) {
  std::tm tm{};
  tm.tm_year = utc.wYear - 1900;
  tm.tm_mon = utc.wMonth - 1;
  tm.tm_mday = utc.wDay;
  tm.tm_hour = utc.wHour;
  tm.tm_min = utc.wMinute;
  tm.tm_sec = utc.wSecond;
  std::time_t t = timegm(&tm);
  std::tm local{};
  localtime_r(&t, &local);
  win::SYSTEMTIME st{};
  st.wYear = static_cast<win::WORD>(local.tm_year + 1900);
  st.wMonth = static_cast<win::WORD>(local.tm_mon + 1);
  st.wDayOfWeek = static_cast<win::WORD>(local.tm_wday);
  st.wDay = static_cast<win::WORD>(local.tm_mday);
  st.wHour = static_cast<win::WORD>(local.tm_hour);
  st.wMinute = static_cast<win::WORD>(local.tm_min);
  st.wSecond = static_cast<win::WORD>(local.tm_sec);
  st.wMilliseconds = utc.wMilliseconds;
  return st;
}

}  // namespace zv::spool
