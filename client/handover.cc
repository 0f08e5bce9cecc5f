#include "client/handover.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "engine/hevrasto/request_slots.h"
#include "engine/rules/request_result.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/shm/shm.h"
#include "platform/winmsg/winmsg.h"

namespace zv::client {
namespace fsys = std::filesystem;

Result<std::string> CreateJobFile(const std::string& jobs_folder, const std::string& machine) {
  if (!paths::IsPlainFileName(machine, 100)) return Status::InvalidArgument("machine name is not a plain name");
  for (int n = 0; n <= kMaxJobFileNumber; ++n) {
    std::string name = machine + std::to_string(n) + ".prc";
    std::string path = jobs_folder + "/" + name;
    // The job's pages are its owner's alone (the engine reads them as root).
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return Status::IOError(fs::ErrnoText("create " + path, errno));
  }
  return Status::Busy("no free job file name in " + jobs_folder);
}

namespace {

// A temporary name in the request folder that no request search takes ("order*.lst").
std::string TempRequestName() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  char buf[64];
  std::snprintf(buf, sizeof buf, "zvreq-%d-%016llx.tmp", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(rng()));
  return buf;
}

}  // namespace

namespace {
// Takes two paths; renames the first onto the second only when the second is free (never
// replacing it). Where the folder's file system cannot (a network mount may not), the file
// is linked there and its first name removed: the request then has two names for an
// instant, which the engine accepts only where it does not check owners (such shares).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}
}  // namespace

Result<int> PlaceRequest(const std::string& request_folder, const std::string& text,
                         std::chrono::milliseconds lock_limit, const std::function<void(int slot)>& stale_copy_for) {
  std::string tmp = request_folder + "/" + TempRequestName();
  Status w = fs::WriteFileAtomic(tmp, text);
  if (!w.ok()) return w;
  struct Remove {
    std::string path;
    ~Remove() { ::unlink(path.c_str()); }
  } remove_tmp{tmp};

  // "Sequence.seq" is the engine's and only read here. Its lock keeps this side in step with
  // the engine, but anyone may hold it: past the limit the request is placed without it.
  bool locked = false;
  auto seq = engine::SequenceFile::OpenShared(request_folder, static_cast<int>(lock_limit.count()), &locked);
  int start = 0;
  if (seq.ok()) {
    auto started = seq->ReadStart();
    if (!started.ok()) return started.status();
    start = *started;
  } else if (seq.status().code() != Status::Code::kNotFound) {
    return seq.status();
  }
  for (int i = 0; i < engine::kSlotCount; ++i) {
    int slot = (start + i) % engine::kSlotCount;
    std::string path = request_folder + "/" + engine::SlotFileName(slot);
    if (::access(path.c_str(), F_OK) == 0) continue;
    if (stale_copy_for) stale_copy_for(slot);
    // Never replaces an existing file: a slot taken meanwhile moves on to the next.
    if (RenameNoReplace(tmp, path) == 0) return slot;
    if (errno != EEXIST) return Status::IOError(fs::ErrnoText("rename onto " + path, errno));
  }
  return Status::Busy("all request slots are taken");
}

namespace {
// Takes the server's request folder; gives true when the engine's "Wakeup.inf" lies there.
bool EngineRunningIn(const std::string& requests) {
  std::error_code ec;
  return fsys::exists(requests + "/Wakeup.inf", ec);
}
}  // namespace

bool ServerEngineRunning(const ClientConfig& config) {
  auto requests = config.RequestFolder();
  return requests.ok() && EngineRunningIn(*requests);
}

HandOverResult SendRequest(const ClientConfig& config, const std::vector<uint8_t>& packed, RequestOrder order,
                           Prompt* prompt, const HandOverOptions& options) {
  HandOverResult r;
  auto show = [&](const char* text, const char* title, PromptIcon icon) {
    if (prompt) prompt->Show(text, title, icon);
  };
  auto fail = [&](const std::string& why) {
    r.outcome = HandOverResult::kFailed;
    r.error = why;
    show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
    return r;
  };
  auto requests = config.RequestFolder();
  auto jobs = config.JobsFolder();
  auto results = config.ResultFolder();
  if (!requests.ok() || !jobs.ok() || !results.ok()) return fail("server folders: " + requests.status().ToString());
  if (!EngineRunningIn(*requests)) {
    r.outcome = HandOverResult::kNotRunning;
    show(kServerNotRunningText, kPrintErrorTitle, PromptIcon::kStop);
    return r;
  }
  auto answer = engine::AnswerFileName(config.account, config.machine);
  if (!answer.ok()) return fail(answer.status().ToString());

  auto job = CreateJobFile(*jobs, config.machine);
  if (!job.ok()) {
    if (job.status().code() == Status::Code::kBusy) {
      r.outcome = HandOverResult::kBusy;
      r.error = job.status().ToString();
      show(kBusyText, kBusyTitle, PromptIcon::kExclamation);
      return r;
    }
    return fail(job.status().ToString());
  }
  r.job_file = *job;
  const std::string job_path = *jobs + "/" + *job;
  auto drop_job = [&] { ::unlink(job_path.c_str()); };
  Status s = fs::WriteFileAtomic(job_path,
                                 std::string_view(reinterpret_cast<const char*>(packed.data()), packed.size()), 0600);
  if (!s.ok()) {
    drop_job();
    return fail(s.ToString());
  }
  ::unlink((*results + "/" + *answer).c_str());

  order.account = config.account;
  order.machine = config.machine;
  order.job_file = *job;
  std::string text = ComposeRequestText(order);
  auto stale = [&](int slot) {
    auto copy = engine::MonitorCopyName(engine::SlotBaseName(slot), config.account, config.machine);
    if (copy.ok()) ::unlink((*results + "/" + *copy).c_str());
  };
  auto slot = PlaceRequest(*requests, text, options.lock_limit, stale);
  if (!slot.ok()) {
    drop_job();
    if (slot.status().code() == Status::Code::kBusy) {
      r.outcome = HandOverResult::kBusy;
      r.error = slot.status().ToString();
      show(kBusyText, kBusyTitle, PromptIcon::kExclamation);
      return r;
    }
    return fail(slot.status().ToString());
  }
  r.outcome = HandOverResult::kHandedOver;
  r.slot_base = engine::SlotBaseName(*slot);
  auto copy = engine::MonitorCopyName(r.slot_base, config.account, config.machine);
  if (copy.ok()) r.answer_copy = *copy;
  return r;
}

Status NotifyMonitor(const std::string& answer_copy, Prompt* prompt, std::chrono::milliseconds limit) {
  winmsg::HWND hwnd = winmsg::FindWindow(kMonitorClass, nullptr);
  if (hwnd == 0) {
    if (prompt) prompt->Show(kNoMonitorText, kNoMonitorTitle, PromptIcon::kExclamation);
    return Status::NotFound("no job monitor window");
  }
  auto block = shm::SharedBlock::Create(kMonitorBlock, kMonitorBlockSize);
  if (!block.ok()) return block.status();
  auto bytes = block->mutable_bytes();
  if (bytes.size() < kMonitorBlockSize) return Status::IOError("monitor block is too small");
  size_t n = std::min(answer_copy.size(), kMonitorBlockSize - 1);
  std::memset(bytes.data(), 0, kMonitorBlockSize);
  std::memcpy(bytes.data(), answer_copy.data(), n);
  // The block stays open until the monitor has handled the message, so it can read the
  // name even when this process ends right after.
  auto sent = winmsg::SendMessageTimeout(hwnd, kMonitorAddResult, 0, 0, limit);
  block->Close();
  return sent.ok() ? Status::Ok() : sent.status();
}

}  // namespace zv::client
