#include "jobdoc/trace.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace zv::jobdoc {

Result<std::string> RegistryMachineSettings::ReadString(std::string_view key_path, std::string_view name) const {
  Result<registry::Key> key = registry::Key::Open(registry::RootKey::kLocalMachine, key_path);
  if (!key.ok()) return key.status();
  return key->GetString(name);
}

bool ReadTraceSwitch(const MachineSettings& settings) {
  Result<std::string> v = settings.ReadString(kSettingsKeyPath, kLogOutputValue);
  return v.ok() && *v == "ON";
}

TraceLog::TraceLog(bool on, std::string folder) : on_(on), folder_(std::move(folder)) {}

TraceLog TraceLog::FromSettings(const MachineSettings& settings, std::string folder) {
  return TraceLog(ReadTraceSwitch(settings), std::move(folder));
}

TraceLog TraceLog::ForProgram(const MachineSettings& settings) {
  Result<std::string> folder = paths::ProgramFolder();
  return FromSettings(settings, folder.ok() ? *folder : std::string());
}

std::string TraceLog::path() const {
  if (folder_.empty()) return std::string();
  return folder_ + "/" + std::string(kTraceFileName);
}

void TraceLog::Trace(std::string_view text) const {
  if (!on_ || folder_.empty()) return;
  std::FILE* f = std::fopen(path().c_str(), "a");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fputc('\n', f);
  std::fflush(f);
  std::fclose(f);
}

OsVersion OsVersionFromRelease(std::string_view release) {
  OsVersion os;
  std::string s(release);
  char* end = nullptr;
  long major = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str()) return os;
  long minor = 0;
  if (*end == '.') minor = std::strtol(end + 1, nullptr, 10);
  // Formed as "%d.%d" and read back, so minor 10 reads as .1 as it always did.
  std::string text = std::to_string(major) + "." + std::to_string(minor);
  os.version = std::strtod(text.c_str(), nullptr);
  os.platform = 2;
  return os;
}

OsVersion GetOsVersion() {
  struct utsname u;
  if (uname(&u) != 0) return OsVersion{};
  return OsVersionFromRelease(u.release);
}

namespace {
// The thresholds are single-precision constants widened to double, so that version 5.1
// passes the 5.1 test and 4.1 the 4.1 test.
constexpr double kV51 = static_cast<double>(5.1f);
constexpr double kV50 = static_cast<double>(5.0f);
constexpr double kV41 = static_cast<double>(4.1f);
}  // namespace

std::string_view SystemErrorText(const OsVersion& os) {
  return os.platform == 2 && os.version >= kV51 ? kRunAsAdministratorText : kInternalErrorText;
}

int ReportSystemError(const OsVersion& os, const StopMessageBox& show) {
  if (!show) return 0;
  show(kSystemErrorTitle, SystemErrorText(os));
  return 1;
}

bool ForegroundForcingApplies(const OsVersion& os) {
  return (os.platform == 2 && os.version >= kV50) || (os.platform == 1 && os.version >= kV41);
}

void ForceForegroundWindow(const OsVersion& os, const std::function<void()>& bring_to_front) {
  if (ForegroundForcingApplies(os) && bring_to_front) bring_to_front();
}

}  // namespace zv::jobdoc
