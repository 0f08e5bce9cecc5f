// The event-log message table shared by the engine (source "Zelvora Engine", numbers 10 to
// 24) and the service host (source "Zelvora Service", numbers 0 to 9), and the composition
// of an entry's strings.
#pragma once

#include <string>
#include <vector>

namespace zv::engine {

inline constexpr char kEngineEventSource[] = "Zelvora Engine";
inline constexpr char kServiceEventSource[] = "Zelvora Service";

enum class EventKind { kInformation, kWarning, kError };

struct EventEntry {
  EventKind kind;
  const char* text;
};

// Event numbers the engine and the service host write.
enum EventNumber : int {
  kEvServiceInstalled = 0,
  kEvServiceRemoved = 1,
  kEvServiceStarted = 2,
  kEvServiceStopped = 3,
  kEvServiceInstallFailed = 4,
  kEvServiceStartFailed = 5,
  kEvServiceRemoveFailed = 6,
  kEvServiceCreateFailed = 7,
  kEvServiceStopFailed = 8,
  kEvServiceStatusFailed = 9,
  kEvEngineStarted = 10,
  kEvEngineEnded = 11,
  kEvRegistryReadFailed = 12,
  kEvRegistryWriteFailed = 13,
  kEvEngineStartFailed = 14,
  kEvSmtpWindowFailed = 15,
  kEvDatabaseError = 16,
  kEvWorkerError = 17,
  kEvBadRequest = 18,
  kEvUnknownUser = 19,
  kEvUnmanagedPrinter = 20,
  kEvJobOpenFailed = 21,
  kEvPrintFailed = 22,
  kEvMailConnectFailed = 23,
  kEvMailSendFailed = 24,
};

inline constexpr int kEventCount = 25;

// Gives the table entry of event `number`, or nullptr outside 0..24.
const EventEntry* FindEvent(int number);

// Gives the strings of one entry: for an error first "GetLastError [<code>] ", then
// "\r\n<text>"; for other kinds only the text; then "\r\n<extra>" when `extra` is given.
// The entry's event identifier is the number of strings (1 to 3).
std::vector<std::string> ComposeEventStrings(EventKind kind, const std::string& text, const std::string* extra,
                                             int error_code);

}  // namespace zv::engine
