// The event-log writer of the engine and the service host: one entry of the message table
// (or a free text) under a source name, with the last error code and an optional extra
// text, written through platform/eventlog.
#pragma once

#include <string>

#include "engine/rules/event_table.h"
#include "platform/base/status.h"

namespace zv::engine {

// Writes the table entry `number` under `source`. Nothing is written (InvalidArgument)
// when the source is null or the number is outside 0..24. `extra` may be null; with
// `error_code` null the calling thread's errno, taken first, is the error code.
Status WriteEventLog(const char* source, int number, const std::string* extra, const int* error_code);

// Writes one entry of `kind` with `text` and the optional extra text: the strings of
// ComposeEventStrings, the event id being their number. With `error_code` null the
// thread's errno is used.
Status ReportEventStrings(const char* source, EventKind kind, const std::string& text, const std::string* extra,
                          const int* error_code);

// Writes a free text as an error entry (the service host's own texts); nothing when the
// text is null.
Status WriteEventLogText(const char* source, const char* text, const std::string* extra, const int* error_code);

}  // namespace zv::engine
