// The marks the engine keeps beside a request it serves, in the request folder:
// "orderNN.taken" before its job is submitted and "orderNN.answered" once its answer is
// staged. A mark names the request instance it belongs to (the slot file's inode and
// change time: clients rename a fresh file into the slot, so each request has its own),
// so a mark left by a killed engine never applies to a later request in the same slot.
//
// A mark is read from the share, which clients can write: it holds names only (no paths),
// and whoever uses them joins them to the engine's own folders.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/hevrasto/request_slots.h"
#include "platform/base/status.h"

namespace zv::engine {

inline constexpr char kTakenSuffix[] = ".taken";
inline constexpr char kAnsweredSuffix[] = ".answered";

struct RequestMark {
  std::string request;    // RequestIdentity of the slot file
  std::uint32_t job = 0;  // the spooler's job id once the job was started (taken mark)
  std::string printer;    // the printer the job went to (taken mark)
  std::string rows;       // the held print-log rows file, a plain name (taken mark)
  std::string answer;     // the answer file name (answered mark)
  std::string copy;       // the monitor copy's file name (answered mark)
  std::string job_file;   // the request's job file, a plain name in the jobs folder
};

// Gives the text of a mark ("key=value" lines) and back. Corruption for a text that is no
// mark; unknown keys are skipped.
std::string FormatMark(const RequestMark& mark);
Result<RequestMark> ParseMark(const std::string& text);

// Takes a slot file's path; gives its identity "<inode>:<ctime seconds>.<nanoseconds>"
// (the file itself, not a link's target). NotFound when it is gone.
Result<std::string> RequestIdentity(const std::string& path);

// Takes the request folder and its scan; gives the job file names the requests waiting in
// the slots name. The failure of a request that cannot be read now (nothing may be taken
// for nobody's then).
Result<std::set<std::string>> WaitingJobNames(const std::string& folder, const RequestFolderScan& scan);

// What SweepLeftovers removed: marks by name, job files by name.
struct LeftoverSweep {
  std::vector<std::string> marks;
  std::vector<std::string> jobs;
};

// The start's sweep of what a stopped engine left. Takes the request folder, the jobs
// folder ("": no job file is removed) and what settles the job of a taken mark (charged
// when it reached the printer, taken back otherwise); removes every mark whose slot holds
// no request now, or another request than the one it names (a taken mark settled first),
// and the job file such a mark names, where the mark is the engine's own (TrustedForCaller,
// one name), the job file a regular file with one name, and no waiting request names it.
// Marks of the request now in their slot stay for its serving (it was answered: the answer
// is put in place and the request and its job removed then). IOError when the request
// folder cannot be read.
Result<LeftoverSweep> SweepLeftovers(const std::string& folder, const std::string& jobs,
                                     const std::function<void(const RequestMark&)>& settle);

// Takes an answer file name and the slot's base name; gives the temporary name the answer
// is staged under before it is renamed into place (a dot name no client reads).
std::string StagedName(const std::string& name, const std::string& slot_base);

// Takes a step name; ends the process at once (_exit) when the environment variable
// ZELVORA_ENGINE_CRASH_AT names that step. Tests use it to stop the engine in windows too
// narrow to hit with a signal.
void CrashPoint(const char* step);

// Takes a step name; when the comma-separated list in ZELVORA_ENGINE_HOLD_AT names that
// step, writes the step's name into the file that ZELVORA_ENGINE_HOLD_FILE names and waits
// until that file is removed. Tests use it to change the share at a chosen step of serving
// a request, with the engine held there meanwhile.
void HoldPoint(const char* step);

// Takes a step name and the slot served; appends "<slot> <step> <monotonic ns> <database
// round trips so far>" to the file that the environment variable ZELVORA_ENGINE_PHASE_LOG
// names (nothing when unset). The server benchmark reads it to time each step of a request,
// waits included, and to count its round trips.
void PhaseStamp(const char* step, const std::string& slot);

}  // namespace zv::engine
