// Taking a request: under the lock of "Sequence.seq" the next whole slot is picked in ring
// order (claims still being written are passed over, abandoned ones set aside), its request
// is read, and one an engine stopped serving is resumed; any other goes on to the checks.
#include "engine/hevrasto/phase_obj.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <set>

#include "engine/core/account_owner.h"
#include "engine/core/answer.h"
#include "engine/hevrasto/phase_common.h"
#include "engine/rules/event_table.h"
#include "platform/fs/files.h"

namespace zv::engine {
using phase_internal::Event;

void CPhaseObj::DropIgnored(RequestFolderScan* scan) {
  if (ignored_.empty()) return;
  std::set<std::string> still;
  std::vector<std::string> strays;
  for (auto& n : scan->strays) {
    if (ignored_.count(n)) {
      still.insert(n);
    } else {
      strays.push_back(n);
    }
  }
  scan->strays = std::move(strays);
  for (int i = 0; i < kSlotCount; ++i) {
    if (scan->present[i] && ignored_.count(SlotFileName(i))) {
      scan->present[i] = false;
      still.insert(SlotFileName(i));
    }
  }
  ignored_ = std::move(still);
}

Status ProbeFolder(const std::string& folder) {
  std::string probe = folder + "/.probe-XXXXXX";
  int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return Status::IOError(fs::ErrnoText("create a file in " + folder, errno));
  ::close(fd);
  if (::unlink(probe.c_str()) != 0) return Status::IOError(fs::ErrnoText("unlink " + probe, errno));
  return Status::Ok();
}

bool CPhaseObj::ResultFolderTakesFiles(const EngineSettings& s) {
  // A folder that is no folder of the share is SetAsideUnanswerable's to judge.
  if (!CheckOwnFolder(s.ResultPath, s.ShareRoot).ok()) return true;
  Status probe = ProbeFolder(s.ResultPath);
  if (probe.ok()) {
    result_failing_ = false;
    return true;
  }
  if (!result_failing_)
    Event(kEvWorkerError,
          "[" + s.ResultPath + "] requests wait unprinted until answers can be written: " + probe.ToString());
  result_failing_ = true;
  stop_.Wait(options_.rescan_ms);
  return false;
}

void CPhaseObj::PhaseTake() {
  EngineSettings s = SettingsForToday();
  if (!ResultFolderTakesFiles(s)) {  // checked again after the rescan pause
    phase_ = WorkerPhase::kWait;
    return;
  }
  int slot = PickNextSlot();
  if (slot < 0) {  // nothing left to take, or the folder failed: back to waiting
    phase_ = WorkerPhase::kWait;
    return;
  }
  if (!ReadSlotRequest(slot)) {  // gone or moved aside: on to the next slot
    phase_ = WorkerPhase::kTake;
    return;
  }
  // A request an engine stopped serving passed the checks then: its job file is only
  // identified, so that the clean-up deletes that file alone.
  job_id_ = JobFileId{};
  if (s.CheckRequestOwner && picked_marked_)
    (void)CheckJobFile(s.JobsPath, request_.JobFileName, request_owner_, &job_id_);
  if (ResumeInterrupted(s)) return;
  if (HoldForAwaitedCopy(s, slot)) {
    phase_ = WorkerPhase::kTake;
    return;
  }
  if (SetAsideUnanswerable(s) || SetAsideForeign(s) || SetAsideUnknownAccount(s) || SetAsideForeignJob(s) ||
      SetAsideAnswerNameTaken(s)) {
    phase_ = WorkerPhase::kTake;
    return;
  }
  ForgetEarlierRequests();
  CheckRequest(s);
}

bool CPhaseObj::HoldForAwaitedCopy(const EngineSettings& s, int slot) {
  auto copy = MonitorCopyName(slot_base_, request_.AccountName, request_.MachineName);
  const std::optional<fs::Ownership> owner = AccountFilesOwner(s, request_.AccountName);
  if (!copy.ok() || !answer_holds_.Hold(slot, slot_path_, s.ResultPath + "/" + *copy, request_.RequestID,
                                        owner ? owner->uid : 0, std::chrono::system_clock::now()))
    return false;
  Event(kEvWorkerError, "[" + slot_base_ + "] held: its answer would replace " + *copy +
                            ", another request's answer not taken yet (served once it is taken, or " +
                            std::to_string(share::kAwaitedCopyHoldMs / 1000) + " s after it was written)");
  slot_path_.clear();
  slot_base_.clear();
  identity_.clear();
  return true;
}

void CPhaseObj::TidyScan(RequestFolderScan* scan) {
  // Marks whose request is gone (an engine stopped while cleaning up) are cleared.
  for (int i = 0; i < kSlotCount; ++i)
    if (scan->marked[i] && !scan->present[i]) ClearMarks(SlotBaseName(i));
  DropIgnored(scan);
}

int CPhaseObj::PickNextSlot() {
  // The lock of "Sequence.seq" only keeps the engine and the clients in step; every member
  // may take it, so the engine tries for it a short while and goes on without it (a slot is
  // always a whole request: clients rename complete files into place).
  auto seq = SequenceFile::Lock(folder_, &stop_, options_.sequence_lock_ms);
  if (!seq.ok() && seq.status().code() == Status::Code::kTimeout) {
    NoteSequenceHeld();
    seq = SequenceFile::OpenOwn(folder_);
  } else if (seq.ok()) {
    sequence_held_since_.reset();
  }
  if (!seq.ok()) {
    // Busy: Stop was asked for while waiting for the lock; no error to report then.
    if (seq.status().code() != Status::Code::kBusy) {
      Event(kEvWorkerError, "[Sequence.seq] " + seq.status().ToString());
      stop_.Wait(options_.rescan_ms);
    }
    return -1;
  }
  Reached("locked");
  auto start = seq->ReadStart();
  auto scan = ScanRequestFolder(folder_);
  if (!start.ok() || !scan.ok()) {
    seq->Close();
    Event(kEvWorkerError, start.ok() ? scan.status().ToString() : start.status().ToString());
    stop_.Wait(options_.rescan_ms);
    return -1;
  }
  TidyScan(&*scan);
  for (const std::string& stray : scan->strays) MoveAside(stray, "not a request slot");
  // A claim still being written is passed over: the next whole request in ring order is
  // taken, and the claim is looked at again when it changes.
  std::array<bool, kSlotCount> whole = scan->present;
  (void)answer_holds_.PassOver(whole, 0, std::chrono::system_clock::now());
  int slot = -1;
  for (int candidate; (candidate = PickSlot(whole, *start)) >= 0; whole[candidate] = false) {
    if (SlotRequestWhole(candidate)) {
      slot = candidate;
      break;
    }
  }
  picked_marked_ = slot < 0 || scan->marked[slot];
  // A start number that cannot be written back costs nothing but order: the next pick
  // starts at this slot again and goes on from there in ring order.
  if (slot >= 0) (void)seq->WriteNext(slot);
  seq->Close();
  return slot;
}

namespace {
int64_t MtimeNs(const struct stat& st) { return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec; }
}  // namespace

bool CPhaseObj::SlotRequestWhole(int slot) {
  const std::string name = SlotFileName(slot);
  struct stat st {};
  auto text = fs::ReadFile(folder_ + "/" + name, kMaxRequestFileBytes, &st);
  if (!text.ok() || share::ClassifyRequestText(*text) == share::RequestTextState::kWhole) {
    partial_.erase(slot);
    return true;
  }
  const auto now = std::chrono::steady_clock::now();
  auto it = partial_.find(slot);
  if (it == partial_.end() || it->second.ino != st.st_ino || it->second.size != st.st_size ||
      it->second.mtime_ns != MtimeNs(st)) {
    partial_[slot] = PartialClaim{st.st_ino, st.st_size, MtimeNs(st), now};
    return false;
  }
  if (now - it->second.since < std::chrono::milliseconds(options_.claim_abandon_ms)) return false;
  partial_.erase(it);
  MoveAside(name, "a claimed request slot was not written whole within " +
                      std::to_string(options_.claim_abandon_ms / 1000) + " s (" + std::to_string(st.st_size) +
                      " bytes, written by " + OwnerName(st.st_uid) + "): abandoned");
  return false;
}

int CPhaseObj::PassOverClaims(RequestFolderScan* scan, int limit_ms) {
  const auto now = std::chrono::steady_clock::now();
  int wait_ms = limit_ms;
  for (auto it = partial_.begin(); it != partial_.end();) {
    const int slot = it->first;
    struct stat st {};
    if (!scan->present[slot] || ::lstat((folder_ + "/" + SlotFileName(slot)).c_str(), &st) != 0) {
      it = partial_.erase(it);
      continue;
    }
    const bool unchanged =
        st.st_ino == it->second.ino && st.st_size == it->second.size && MtimeNs(st) == it->second.mtime_ns;
    const auto due = it->second.since + std::chrono::milliseconds(options_.claim_abandon_ms);
    if (unchanged && now < due) {
      scan->present[slot] = false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
      if (left < wait_ms) wait_ms = static_cast<int>(left);
    }
    ++it;
  }
  return wait_ms;
}

void CPhaseObj::NoteSequenceHeld() {
  const auto now = std::chrono::steady_clock::now();
  if (!sequence_held_since_) {
    sequence_held_since_ = now;
    sequence_held_reported_ = false;
    return;
  }
  if (sequence_held_reported_ || now - *sequence_held_since_ < std::chrono::milliseconds(options_.sequence_held_ms))
    return;
  sequence_held_reported_ = true;
  Event(kEvWorkerError, "[Sequence.seq] " + DescribeLockHolders(folder_ + "/" + kSequenceFileName) +
                            ": the lock was held for over " + std::to_string(options_.sequence_held_ms / 1000) +
                            " s (requests are taken without it)");
}

std::string DescribeLockHolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "held by an unknown process";
  auto locks = fs::ReadFile("/proc/locks", 16u << 20);
  // /proc files report a size of 0: ReadFile reads them whole all the same.
  if (!locks.ok()) return "held by an unknown process (" + locks.status().ToString() + ")";
  std::string out;
  for (const LockHolder& h : ParseLockHolders(*locks, major(st.st_dev), minor(st.st_dev), st.st_ino)) {
    struct stat proc {};
    std::string user = "an unknown user";
    if (::stat(("/proc/" + std::to_string(h.pid)).c_str(), &proc) == 0) user = OwnerName(proc.st_uid);
    std::string comm;
    if (auto c = fs::ReadFile("/proc/" + std::to_string(h.pid) + "/comm", 256); c.ok()) {
      comm = *c;
      while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
    }
    if (!out.empty()) out += ", ";
    out += "process " + std::to_string(h.pid) + (comm.empty() ? "" : " (" + comm + ")") + " of " + user + " (" +
           h.kind + ")";
  }
  return out.empty() ? "held by an unknown process" : "held by " + out;
}

bool CPhaseObj::ReadSlotRequest(int slot) {
  slot_base_ = SlotBaseName(slot);
  slot_path_ = folder_ + "/" + SlotFileName(slot);
  ForgetRequestInHand();

  std::error_code gone;
  if (!fsys::exists(slot_path_, gone)) {  // taken away meanwhile: nothing to serve
    slot_path_.clear();
    return false;
  }
  request_owner_ = 0;
  request_links_ = 1;
  Status read =
      request_.ReadTopRequest(slot_path_, options_.read_attempts, std::chrono::milliseconds(options_.read_retry_ms),
                              &request_owner_, &request_links_);
  if (!read.ok()) {
    std::error_code ec;
    if (fsys::exists(slot_path_, ec)) {
      MoveAside(SlotFileName(slot), "unreadable request: " + read.ToString());
    }
    slot_path_.clear();
    return false;
  }
  auto identity = RequestIdentity(slot_path_);
  identity_ = identity.ok() ? *identity : std::string();
  Reached("read");
  return true;
}

bool CPhaseObj::ResumeInterrupted(const EngineSettings& s) {
  if (!picked_marked_) return false;
  // Marks of this very request were left by an engine that stopped while serving it.
  auto answered = ReadMark(slot_base_ + kAnsweredSuffix);
  if (answered.ok() && answered->request == identity_) {
    // Answered before the stop: the staged answer is put in place, nothing new is written.
    PublishMarkedAnswer(*answered);
    answered_ = true;
    phase_ = WorkerPhase::kCleanUp;
    return true;
  }
  auto taken = ReadMark(slot_base_ + kTakenSuffix);
  if (taken.ok() && taken->request == identity_) {
    RecoverTaken(*taken, s);
    return true;
  }
  return false;
}

void CPhaseObj::ForgetEarlierRequests() {
  // Marks of an earlier request in this slot are cleared.
  if (picked_marked_) ClearMarks(slot_base_);
  // A newer request of the same account and machine was taken: its answer (of the same
  // name) replaces a kept one.
  if (auto answer_name = AnswerFileName(request_.AccountName, request_.MachineName); answer_name.ok()) {
    if (int dropped = DropKeptResults(*answer_name); dropped > 0)
      Event(kEvWorkerError, "[" + *answer_name + "] " + std::to_string(dropped) +
                                " kept answer(s) dropped: a newer request of the same account and machine was taken");
  }
}

}  // namespace zv::engine
