// The event log: what the server side writes in place of the Windows application event
// log. Each entry (source, type, event id, strings) becomes one line appended to
// $ZELVORA_ROOT/log/events.log, which tests and users read, and is also sent to syslog
// with the source name as the ident (where a syslog daemon runs).
//
// Line layout, fields separated by tabs:
//   2026-12-09T22:45:24.123Z <TAB> source <TAB> type <TAB> id <TAB> pid <TAB> string ...
// type is "information", "warning" or "error". In the source and the strings a backslash,
// tab, CR and LF are written as \\, \t, \r and \n, so an entry whose strings hold line
// ends (as a database error list does) still takes exactly one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::eventlog {

// Event types, numbered as the Windows event types.
enum class EventType : uint16_t {
  kError = 1,
  kWarning = 2,
  kInformation = 4,
};

struct Event {
  std::string time;  // UTC, as in the line
  std::string source;
  EventType type = EventType::kInformation;
  uint32_t id = 0;
  long pid = 0;
  std::vector<std::string> strings;
};

// The log is bounded: a line that would take events.log past kDefaultMaxBytes (8 MiB) first
// moves it to events.log.1 (events.log.1 to .2, and so on), keeping kDefaultKeptFiles (4)
// old files and dropping the oldest: 40 MiB at most in all. ReadAll reads events.log only.
inline constexpr uint64_t kDefaultMaxBytes = uint64_t{8} << 20;
inline constexpr int kDefaultKeptFiles = 4;
// Sets the bound of this process's writes (0 bytes: the default); for tests.
void SetRotation(uint64_t max_bytes, int kept_files);

// Gives the path of the event log file of the current $ZELVORA_ROOT.
std::string LogPath();

// ReportEvent: takes a source name (not empty), a type, an event id and the strings;
// appends one line (in one write, under a lock, so entries of several processes never mix)
// and sends the joined strings to syslog. InvalidArgument for an empty source; IOError when
// the file cannot be written.
Status Report(std::string_view source, EventType type, uint32_t id, const std::vector<std::string>& strings);

// Gives every entry of the log in file order (none when there is no log yet). Lines that
// are not entries are skipped.
Result<std::vector<Event>> ReadAll();

// Pure helpers, exposed for tests: one entry as a line (without the line end), and back.
std::string FormatLine(const Event& e);
Result<Event> ParseLine(std::string_view line);

}  // namespace zv::eventlog
