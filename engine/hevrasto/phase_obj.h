// CPhaseObj: the engine's worker. It waits for requests in the request folder, takes each
// from its slot, checks it, has the user-interface thread open and print its job, writes
// the answer, mails the quota notice and cleans up, one request at a time (WorkerPhase).
//
// Nothing accepted is lost and nothing loops: the folder watch is armed before each scan
// and backed by a periodic rescan; names that match "order*.lst" without being a slot, and
// requests that cannot be read or answered (or whose file's owner may not ask for the
// account they name), are moved into the "Rejected" subfolder and reported once, before
// anything is printed; a request is deleted only after its answer was written. Each request
// served is marked ("orderNN.taken" before its job is submitted, "orderNN.answered" once its
// answer is staged); a mark names the request instance it belongs to, so that an engine
// stopped at any step finishes that request at its next start, and only that one: a job
// that reached the printer is charged once (its print-log rows are held with the mark and
// charged by one rename) and answered as printed, a submission that never completed is
// cancelled and answered as failed, and a staged answer is put in place instead of a second
// one being written. Print-log rows that cannot be stored are kept and stored later (and
// count in the quota meanwhile); answers that cannot be written are kept and written when
// the result folder works again. The engine writes only into folders of the share itself,
// never through a link put in their place.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/core/job_queue.h"
#include "engine/db/zvm_database.h"
#include "engine/hevrasto/quota_mail.h"
#include "engine/hevrasto/request_marks.h"
#include "engine/hevrasto/request_slots.h"
#include "engine/hevrasto/share_files.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "engine/rules/settings.h"
#include "platform/base/every.h"
#include "platform/fs/watch.h"
#include "platform/spool/spool.h"
#include "platform/sync/event.h"

namespace zv::engine {

// The worker's phases, in the order a request passes through them.
enum class WorkerPhase : int {
  kWait = 0,     // wait for a request in the request folder
  kTake = 1,     // take one from its slot and check it
  kOpen = 2,     // have the job opened as the document
  kPrint = 3,    // have it printed and charged
  kAnswer = 4,   // write the answer
  kMail = 5,     // mail the quota notice
  kCleanUp = 6,  // remove the request and its job; then the next one is taken
};

// What FrameLink::OpenJob gives when the job was opened (or the document closed).
inline constexpr int kJobOpened = 0;

// What the worker asks of the user-interface thread (the main frame and its document).
class FrameLink {
 public:
  virtual ~FrameLink() = default;
  // Opens the job file `name` of the jobs folder as the document; "" closes the document.
  // Gives kJobOpened, or the result code (kResultJobNotOpened) that it also set in `result`.
  virtual int OpenJob(const std::string& name, CRequestResult& result) = 0;
  // Gives the number of pages of the open document.
  virtual int OpenPages() = 0;
  // Prints the open document as the request says; the print's result code and lines go to
  // `result` and the print-log rows to TakePrintLog. Gives the result code.
  // `started` hears the spooler's job id as soon as the job exists (before it is written).
  virtual int PrintJob(const CRequestInfo& request, CRequestResult& result, const UserRecord& user,
                       const PrinterRecord& printer, const std::function<void(uint32_t)>& started) = 0;
  // Gives the spooler's state of a job (GetJob); NotFound when it knows no such job.
  virtual Result<spool::JobInfo> QueryJob(const std::string& printer, uint32_t id) = 0;
  // Removes a job from the printer's queue.
  virtual Status CancelJob(const std::string& printer, uint32_t id) = 0;
  // Gives (and forgets) the print-log rows of the last print.
  virtual std::vector<PrintLogRecord> TakePrintLog() = 0;
};

// Takes a folder the engine writes into and the share; gives Ok when the folder is a folder
// itself (not a link to one) and lies inside the share (`share` empty: anywhere).
Status CheckOwnFolder(const std::string& folder, const std::string& share);

// Takes a folder and a file name in it; gives InvalidArgument when the file is a plain file
// with more than one name (hard links), Ok otherwise.
Status SingleNamedFile(const std::string& folder, const std::string& name);

// Takes a file's path; gives who holds locks on it, from /proc/locks: "held by process
// PID (NAME) of USER (FLOCK WRITE)", several joined by ", ".
std::string DescribeLockHolders(const std::string& path);

// Takes a folder; creates a file there under a fresh name and removes it. IOError when
// either fails (a full, read-only or immutable folder).
Status ProbeFolder(const std::string& folder);

// Which file a job file was when it was checked.
struct JobFileId {
  dev_t dev = 0;
  ino_t ino = 0;  // 0: none checked
};

// Takes the jobs folder, a job file name and the owner of the request naming it (0: root,
// who may name any); judged on the opened file itself (never through a link), gives
// InvalidArgument naming both owners when the file belongs to anyone else. Otherwise Ok,
// with `id` set only when it is a regular file with one name (a missing file, a link, a
// FIFO or a second name is the opener's to refuse, and is never deleted).
Status CheckJobFile(const std::string& folder, const std::string& name, uint32_t request_owner, JobFileId* id);

// Gives whether `path` is still the regular file `id` names.
bool SameJobFile(const std::string& path, const JobFileId& id);

// Lines of the answer to a request that was being printed when the engine stopped.
std::vector<std::string> InterruptedPrintLines();

class CPhaseObj {
 public:
  struct Options {
    int rescan_ms = 5000;          // the periodic rescan behind the folder watch
    int settings_retry_ms = 5000;  // pause after settings that cannot be read
    int sequence_lock_ms = 200;    // longest wait for the lock of "Sequence.seq"; then without it
    int sequence_held_ms = 60000;  // a lock held longer than this is reported with its holder
    int read_attempts = 5;         // tries to read a request file ...
    int read_retry_ms = 2000;      // ... this far apart
    int pending_retry_ms = 30000;  // kept print-log rows are tried again this often while idle
    int job_sweep_ms = 3600000;    // job files nobody names are looked for this often while idle
    // A request slot claimed and still being written (share::ClassifyRequestText) is
    // neither read nor set aside until it is whole, or unchanged for this long (abandoned).
    int claim_abandon_ms = share::kClaimAbandonMs;
  };

  // Takes the frame link, the mail sender (may be null: no mail), the queue probe of the
  // duplicate check (may be null) and the settings loaded at start.
  CPhaseObj(FrameLink& frame, QuotaMailer* mailer, JobQueueProbe* probe, const EngineSettings& settings,
            Options options);

  // The thread procedure: runs the phases until Stop. A request being printed, answered,
  // mailed or cleaned up is finished first. Gives 0.
  int Run();
  // Asks Run to end (at once while waiting; after the request in hand from printing on).
  void Stop() { stop_.Set(); }

  WorkerPhase phase() const { return phase_.load(); }
  bool running() const { return running_.load(); }
  // A copy of the current settings (the worker reloads them before each batch).
  EngineSettings settings() const;

 private:
  void PhaseWait();
  // Takes the next request: picks its slot, reads it, resumes it when an engine stopped
  // while serving it, else checks it.
  void PhaseTake();
  // Rolls the quota period on to today (writing the settings when it moved); gives a copy
  // of the settings then.
  EngineSettings SettingsForToday();
  // Under the lock of "Sequence.seq": scans the request folder, moves strays aside, picks
  // the next slot in ring order and writes the one after it. Gives the slot, or -1 when
  // there is none or the folder cannot be read (reported; the pause is taken).
  int PickNextSlot();
  // Takes a slot; makes its request the one in hand (all else forgotten) and reads it.
  // Gives false when it is gone or cannot be read (it is moved aside then).
  bool ReadSlotRequest(int slot);
  // Takes a slot present in the folder; gives whether its request is whole (or cannot be
  // read at all: reading it reports that). A claim still being written is remembered and
  // passed over; one that stayed unchanged for claim_abandon_ms is set aside as abandoned.
  bool SlotRequestWhole(int slot);
  // Drops from a scan the claimed slots still being written that have not changed since
  // they were last looked at and are not yet abandoned; gives how long the wait may last
  // before the next of them is due (at most `limit_ms`).
  int PassOverClaims(RequestFolderScan* scan, int limit_ms);
  // Gives whether the request in hand was set aside because, with the owner check on, a
  // user other than root asked for an account that is no user of this machine: no answer
  // (root's, readable by others) is written for it.
  bool SetAsideUnknownAccount(const EngineSettings& s);
  // Gives whether the request in hand was set aside because a file of another user than
  // the one it answers, whose own answer the name may be (CheckAnswerNameOwner), lies in
  // the name of its answer or answer copy: that file is never deleted, and the answer is
  // not written over it.
  bool SetAsideAnswerNameTaken(const EngineSettings& s);
  // Notes that the lock of "Sequence.seq" was not had; once it stays held longer than
  // sequence_held_ms, reports its holders once (until it is had again).
  void NoteSequenceHeld();
  // Gives whether the request in hand is one an engine stopped serving (its marks name
  // it); it is then finished from where that engine stopped and the next phase set.
  bool ResumeInterrupted(const EngineSettings& s);
  // Takes the slot in hand; gives whether its request is held (answer_holds_) because its
  // answer would replace another request's answer copy not taken yet. It is then left in
  // its slot, untouched, and nothing of it is in hand any more.
  bool HoldForAwaitedCopy(const EngineSettings& s, int slot);
  // Gives whether the request in hand was set aside (moved into "Rejected", reported)
  // because the result folder would refuse its answer; it is then neither printed nor
  // charged, and nothing of it is in hand any more.
  bool SetAsideUnanswerable(const EngineSettings& s);
  // Gives whether the request in hand was set aside because its file has a second name or
  // its owner may not ask for the account it names (DecideRequestOwner, from the database
  // row it would be charged to), as SetAsideUnanswerable sets aside.
  bool SetAsideForeign(const EngineSettings& s);
  // Gives whether the request in hand was set aside because, with the owner check on, its
  // job file belongs to another user than the request's writer (CheckJobFile); the job file
  // is then left alone.
  bool SetAsideForeignJob(const EngineSettings& s);
  // Moves the request in hand into "Rejected" (reporting `why`) and forgets it.
  void SetAside(const std::string& why);
  // Clears the marks left in the slot by an earlier request and drops kept answers that
  // the request in hand will replace.
  void ForgetEarlierRequests();
  // Checks the request in hand; the next phase is opening it or answering the refusal.
  void CheckRequest(const EngineSettings& s);
  // Clears the marks of slots whose request is gone and drops the names passed over.
  void TidyScan(RequestFolderScan* scan);
  // Gives whether a file can be created in the result folder now; if not, reports it once
  // and takes the rescan pause: no request is taken, printed or charged meanwhile.
  bool ResultFolderTakesFiles(const EngineSettings& s);
  // Removes the job files that no request in the slots names and that were written more
  // than a day before `now` (jobs of requests set aside or never placed).
  void SweepJobFiles(const EngineSettings& s, std::chrono::system_clock::time_point now);
  // Removes the answer copies in the result folder that no reader took for a day
  // (SweepAnswerCopies), at the same look as the job files.
  void SweepResultFolder(const EngineSettings& s, std::chrono::system_clock::time_point now);
  // Once a run, before the first request is taken: removes the marks and job files an
  // engine stopped before it could (SweepLeftovers); tried again at the next look while
  // the request folder cannot be read.
  void SweepLeftoversOnce();
  void PhaseOpen();
  void PhasePrint();
  void PhaseAnswer();
  void PhaseMail();
  void PhaseCleanUp();
  bool ReloadSettings();
  void MoveAside(const std::string& name, const std::string& why);
  // Drops from a scan the names that could not be moved aside, and forgets those that are
  // gone (a name placed again later is served again).
  void DropIgnored(RequestFolderScan* scan);
  // Deletes a file, trying six times; IOError when it stays.
  Status DeleteWithRetries(const std::string& path);
  bool AlignPagesWithDocument();
  // Marks a step of the request in hand: stamped for the benchmark, and the test-only
  // hold and crash points of that name.
  void Reached(const char* step);
  // Forgets the request in hand: its sections, result, user, rows and printer.
  void ForgetRequestInHand();
  // Stores the kept print-log rows (reports a failure; they stay kept).
  void StoreKeptRows();
  // Takes a taken mark; asks the spooler about its job: one that reached the printer has
  // its held rows charged, one that did not is cancelled and its rows dropped. Gives
  // whether it reached the printer; *known is false when the spooler could not tell.
  bool SettleHeldJob(const RequestMark& mark, bool* known);
  // Answers the request of a taken mark of an engine that stopped while printing it.
  void RecoverTaken(const RequestMark& mark, const EngineSettings& s);
  // Takes a mark's name in the request folder; gives the mark, read only when the engine
  // wrote it (a file of the engine's user or root with one name): InvalidArgument otherwise.
  Result<RequestMark> ReadMark(const std::string& name);
  void WriteMark(const std::string& name, const RequestMark& mark);
  // Clears the marks of a slot whose request is gone or was replaced (settling a job that
  // a taken mark names).
  void ClearMarks(const std::string& base);
  // Puts the answer that an answered mark names in place (the staged files still there).
  void PublishMarkedAnswer(const RequestMark& mark);

  FrameLink& frame_;
  QuotaMailer* mailer_;
  JobQueueProbe* probe_;
  Options options_;
  sync::Event stop_;
  mutable std::mutex settings_mutex_;
  EngineSettings settings_;
  std::string folder_;  // the request folder of the batch
  CRequestResult result_;
  CRequestInfo request_;
  UserRecord user_;
  std::optional<UserRecord> user_row_;  // the account's row as read for the request in hand
  std::optional<RequestRows> request_rows_;  // its rows of user, group and printer, read together
  PrinterRecord printer_;
  std::string slot_path_;
  std::string slot_base_;
  std::string identity_;        // RequestIdentity of the request in hand
  // Whether the listing that picked the slot in hand showed a mark of it: marks are the
  // engine's own, so a slot listed without one has none to resume from or to clear.
  bool picked_marked_ = true;
  uint32_t request_owner_ = 0;  // the owner of the request file in hand, as it was read
  uint32_t request_links_ = 1;  // and its number of names
  JobFileId job_id_;            // its job file as checked
  RequestMark taken_;           // its taken mark
  bool answered_ = false;
  bool settings_failing_ = false;
  std::atomic<WorkerPhase> phase_{WorkerPhase::kWait};
  std::atomic<bool> running_{false};
  Every pending_tried_;  // kept print-log rows: tried at the start, then every pending_retry_ms
  Every kept_tried_;     // kept answers, tried as often
  std::set<std::string> ignored_;                       // reported once; left where they are
  fs::FolderWatch watch_;
  bool watching_ = false;
  bool watch_failing_ = false;   // reported once until the watch works again
  bool folder_failing_ = false;  // the request folder is no folder of the share (reported once)
  std::optional<std::chrono::steady_clock::time_point> sequence_held_since_;
  bool sequence_held_reported_ = false;
  bool result_failing_ = false;  // no file can be created in the result folder (reported once)
  Every swept_;  // job files nobody names: looked for at the start, then every job_sweep_ms
  bool leftovers_swept_ = false;
  // Claimed slots seen still being written: the file as it was and since when it is so.
  struct PartialClaim {
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    std::chrono::steady_clock::time_point since;
  };
  std::map<int, PartialClaim> partial_;
  // Whole requests held while their answer would replace another request's awaited answer
  // copy (share::AnswerCopyAwaited).
  share::AwaitedCopyHolds answer_holds_;
};

}  // namespace zv::engine
