// What the worker's phase files share (phase_obj.cc and phase_*.cc): the engine's event
// report and the joining of message lines. Private to those files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zv::engine {
namespace fsys = std::filesystem;

namespace phase_internal {

// A failed event write must not change what the engine does; the event log reports its
// own trouble.
void Event(int number, const std::string& extra, int code = 0);

// Joins lines with CR LF, as the event log shows them.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace phase_internal
}  // namespace zv::engine
