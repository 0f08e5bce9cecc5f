// The client trace log and the small platform checks every client class uses.
//
// Tracing: when the machine-wide value "LogOutput" under "SOFTWARE\Orbelin\Zelvora\1.0" is
// exactly "ON", each traced method appends one line on entry and one on exit ("Class::Method
// IN" / "Class::Method OUT") to ZvkTrace.log in the program's folder. The switch is read
// once, when the log object is made. Tracing never fails loudly: a file that cannot be
// opened is skipped.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::jobdoc {

// The key and value that switch tracing on, and the log file's name.
inline constexpr std::string_view kSettingsKeyPath = "SOFTWARE\\Orbelin\\Zelvora\\1.0";
inline constexpr std::string_view kLogOutputValue = "LogOutput";
inline constexpr std::string_view kTraceFileName = "ZvkTrace.log";

// Where machine-wide settings come from. The registry backs it in the programs; tests use a
// double.
class MachineSettings {
 public:
  virtual ~MachineSettings() = default;
  // Takes a key path ("SOFTWARE\...") and a value name; gives the value's text, NotFound
  // when it is missing, another error when it cannot be read as text.
  virtual Result<std::string> ReadString(std::string_view key_path, std::string_view name) const = 0;
};

// MachineSettings over the registry's machine hive (HKEY_LOCAL_MACHINE).
class RegistryMachineSettings : public MachineSettings {
 public:
  Result<std::string> ReadString(std::string_view key_path, std::string_view name) const override;
};

// Takes the settings; gives true only when "LogOutput" is exactly "ON" (case matters).
bool ReadTraceSwitch(const MachineSettings& settings);

// The trace switch and folder of one program.
class TraceLog {
 public:
  // Takes the switch and the folder of the log file; an empty folder means no log.
  TraceLog(bool on, std::string folder);
  // Tracing off.
  TraceLog() = default;

  // Takes the settings and a folder; gives a log switched by "LogOutput".
  static TraceLog FromSettings(const MachineSettings& settings, std::string folder);
  // As FromSettings, with the running program's folder.
  static TraceLog ForProgram(const MachineSettings& settings);

  // Takes a text; when the switch is on, appends it and a line feed to the log file
  // (opened, written, flushed and closed for every line). Does nothing when off, and
  // nothing when the file cannot be opened.
  void Trace(std::string_view text) const;

  bool on() const { return on_; }
  const std::string& folder() const { return folder_; }
  // Gives the log file's path ("" when there is no folder).
  std::string path() const;

 private:
  bool on_ = false;
  std::string folder_;
};

// Writes one trace line: `log.Trace(text)`.
inline void Trace(const TraceLog& log, std::string_view text) { log.Trace(text); }

// The system's version as the platform checks see it.
struct OsVersion {
  double version = 0.0;  // major.minor read back from "%d.%d"
  int platform = -1;     // 1 = older family, 2 = current family, -1 = unknown
};

// Takes a kernel release text ("6.1.0-18-amd64"); gives major.minor formed as "%d.%d" and
// read back as a number, with platform 2. Platform -1 and 0.0 when there are no numbers.
OsVersion OsVersionFromRelease(std::string_view release);

// Gives the running system's version (from uname); platform -1 and 0.0 when unknown.
OsVersion GetOsVersion();

// The title and texts of the message for a failed system operation.
inline constexpr std::string_view kSystemErrorTitle = "システムエラー";
inline constexpr std::string_view kRunAsAdministratorText = "管理者権限で実行して下さい。";
inline constexpr std::string_view kInternalErrorText = "内部処理で異常が発生しました。";

// Takes the version; gives the message text: "run with administrator rights" on the
// current family at 5.1 or later, the internal-error text otherwise.
std::string_view SystemErrorText(const OsVersion& os);

// Shows a stop message owned by the main window: takes title and text, gives true when
// shown. The window layer supplies it; empty when there is no main window.
using StopMessageBox = std::function<bool(std::string_view title, std::string_view text)>;

// Takes the version and the message box; shows the failed-operation message. Gives 1 when
// shown, 0 when there is no message box (no main window).
int ReportSystemError(const OsVersion& os, const StopMessageBox& show);

// Takes the version; gives true where forcing the foreground applies: the current family
// at 5.0 or later, the older family at 4.1 or later.
bool ForegroundForcingApplies(const OsVersion& os);

// Takes the version and the window layer's way to bring a window to the front even when
// another process holds the foreground; calls it only where forcing applies.
void ForceForegroundWindow(const OsVersion& os, const std::function<void()>& bring_to_front);

}  // namespace zv::jobdoc
