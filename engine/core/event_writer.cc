#include "engine/core/event_writer.h"

#include <cerrno>

#include "platform/eventlog/eventlog.h"

namespace zv::engine {

Status ReportEventStrings(const char* source, EventKind kind, const std::string& text, const std::string* extra,
                          const int* error_code) {
  int code = error_code ? *error_code : errno;
  if (source == nullptr || *source == '\0') return Status::InvalidArgument("no event source");
  auto strings = ComposeEventStrings(kind, text, extra, code);
  eventlog::EventType type = kind == EventKind::kError     ? eventlog::EventType::kError
                             : kind == EventKind::kWarning ? eventlog::EventType::kWarning
                                                           : eventlog::EventType::kInformation;
  return eventlog::Report(source, type, static_cast<uint32_t>(strings.size()), strings);
}

Status WriteEventLog(const char* source, int number, const std::string* extra, const int* error_code) {
  int code = error_code ? *error_code : errno;
  const EventEntry* e = FindEvent(number);
  if (source == nullptr || e == nullptr) return Status::InvalidArgument("no event source or unknown event number");
  return ReportEventStrings(source, e->kind, e->text, extra, &code);
}

Status WriteEventLogText(const char* source, const char* text, const std::string* extra, const int* error_code) {
  int code = error_code ? *error_code : errno;
  if (text == nullptr) return Status::InvalidArgument("no event text");
  return ReportEventStrings(source, EventKind::kError, text, extra, &code);
}

}  // namespace zv::engine
