// The capture log: lines that the capture library, the resident program and the feeder leave
// for the user in $ZELVORA_ROOT/log/capture.log (failures are never only shown, they are
// written down).
#pragma once

#include <string>
#include <string_view>

namespace zv::capture {

// Takes the text of one line (UTF-8); appends it with the time and the process id. Gives
// nothing: a log that cannot be written must not stop a job.
void AppendCaptureLog(std::string_view line);

// Gives the path of the capture log under the current runtime root.
std::string CaptureLogPath();

}  // namespace zv::capture
