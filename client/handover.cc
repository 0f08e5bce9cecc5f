#include "client/handover.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "engine/hevrasto/request_slots.h"
#include "engine/rules/request_result.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/shm/shm.h"
#include "platform/winmsg/winmsg.h"

namespace zv::client {
namespace fsys = std::filesystem;

namespace {
// How long an answer copy written to a slot is taken to be still awaited by its sender.
constexpr std::chrono::minutes kAnswerCopyAwaited{10};
}  // namespace

std::string ShareReasonText(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case ENOENT:
      return "フォルダが見つかりません。";
    case ENOTDIR:
      return "フォルダではありません。";
    case ENOTCONN:
    case ECONNABORTED:
    case ECONNRESET:
    case ECONNREFUSED:
      return "サーバとの接続が切れています。";
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
      return "サーバから応答がありません。";
    case EIO:
      return "入出力エラーが発生しました。";
    default:
      return "エラーが発生しました(" + std::to_string(error) + ")。";
  }
}

Result<std::string> WriteJobFile(const std::string& jobs_folder, const std::string& machine,
                                 std::span<const uint8_t> bytes, share::FileOps& ops) {
  return share::WriteJobFile(ops, jobs_folder, machine, bytes);
}

Result<int> PlaceRequest(const std::string& request_folder, const std::string& text,
                         std::chrono::milliseconds lock_limit, const std::function<bool(int slot)>& slot_allowed,
                         share::FileOps& ops) {
  // "Sequence.seq" is the engine's and only read here. Its lock keeps this side in step with
  // an engine on this machine, but anyone may hold it, and a network mount keeps it on the
  // client: past the limit the request is placed without it, and the placing itself never
  // needs it (a slot is taken without replacing one).
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
  return share::PlaceRequestText(ops, request_folder, text, start, slot_allowed);
}

ServerCheck CheckServer(const ClientConfig& config, share::FileOps& ops) {
  ServerCheck c;
  auto requests = config.RequestFolder();
  if (!requests.ok()) {
    c.text = std::string(kShareUnreachableText) + "\n" + kShareReasonLabel + requests.status().message();
    return c;
  }
  c.folder = *requests;
  share::ShareCheck look = share::CheckRequestFolder(ops, c.folder);
  c.state = look.state;
  switch (look.state) {
    case share::ShareCheck::kRunning:
      break;
    case share::ShareCheck::kNotRunning:
      c.text = kServerNotRunningText;
      break;
    case share::ShareCheck::kUnreachable:
    case share::ShareCheck::kUnreadable:
      c.text =
          std::string(look.state == share::ShareCheck::kUnreadable ? kShareUnreadableText : kShareUnreachableText) +
          "\n" + kShareFolderLabel + c.folder + "\n" + kShareReasonLabel + ShareReasonText(look.error);
      break;
  }
  return c;
}

bool ServerEngineRunning(const ClientConfig& config) {
  return CheckServer(config).state == share::ShareCheck::kRunning;
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
  share::FileOps& ops = options.ops ? *options.ops : share::DefaultFileOps();
  auto requests = config.RequestFolder();
  auto jobs = config.JobsFolder();
  auto results = config.ResultFolder();
  if (!requests.ok() || !jobs.ok() || !results.ok()) return fail("server folders: " + requests.status().ToString());
  ServerCheck server = CheckServer(config, ops);
  if (server.state != share::ShareCheck::kRunning) {
    r.outcome = server.state == share::ShareCheck::kNotRunning ? HandOverResult::kNotRunning : HandOverResult::kNoShare;
    r.message = server.text;
    r.error = server.text;
    show(server.text.c_str(), kPrintErrorTitle, PromptIcon::kStop);
    return r;
  }
  auto answer = engine::AnswerFileName(config.account, config.machine);
  if (!answer.ok()) return fail(answer.status().ToString());

  // The share full, or every job name taken, is told with the folder to look at.
  auto refuse = [&](HandOverResult::Outcome outcome, const Status& why, const std::string& folder) {
    r.outcome = outcome;
    r.error = why.ToString();
    r.message =
        std::string(outcome == HandOverResult::kShareFull ? kShareFullText
                                                          : std::string(kBusyText) + "\n" + kJobNamesTakenText) +
        "\n" + kShareFolderLabel + folder;
    show(r.message.c_str(), outcome == HandOverResult::kShareFull ? kPrintErrorTitle : kBusyTitle,
         PromptIcon::kExclamation);
    return r;
  };
  auto job = WriteJobFile(*jobs, config.machine, packed, ops);
  if (!job.ok()) {
    if (job.status().code() == Status::Code::kBusy) return refuse(HandOverResult::kNamesTaken, job.status(), *jobs);
    if (job.status().code() == Status::Code::kNoSpace) return refuse(HandOverResult::kShareFull, job.status(), *jobs);
    return fail(job.status().ToString());
  }
  r.job_file = *job;
  const std::string job_path = *jobs + "/" + *job;
  auto drop_job = [&] { ops.Unlink(job_path); };
  // The earlier answer goes where it may (a network mount or the sticky result folder may
  // refuse): the answer read later is known by the request's key, not by this delete.
  ops.Unlink(*results + "/" + *answer);

  order.account = config.account;
  order.machine = config.machine;
  order.job_file = *job;
  order.request_id = share::NewRequestId();
  r.request_id = order.request_id;
  std::string text = ComposeRequestText(order);
  // A slot whose answer copy for this account and machine was written lately is passed over:
  // another sender of this user here may still be waiting for that copy (the engine frees
  // the slot once its answer is written), and the answer to a request placed there would
  // take the copy's place. The copy is never deleted here: it may be that sender's, and an
  // older one is told from this request's answer by the key. Only a copy the engine could
  // have written counts (this user's, as every file is on a network mount, or root's): one
  // another member put there holds no slot, and the engine removes it. A copy no reader took
  // (its sender gone) stops passing the slot over after a while.
  auto slot_allowed = [&](int slot) {
    auto copy = engine::MonitorCopyName(engine::SlotBaseName(slot), config.account, config.machine);
    if (!copy.ok()) return true;
    struct stat st {};
    if (ops.Lstat(*results + "/" + *copy, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    if (st.st_uid != ::getuid() && st.st_uid != 0) return true;
    const auto age = std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime);
    return age > kAnswerCopyAwaited || age < -kAnswerCopyAwaited;
  };
  auto slot = PlaceRequest(*requests, text, options.lock_limit, slot_allowed, ops);
  // Copies in the names of every free slot (planted, on a mount that shows every file as
  // this user's) hold no request back: a free slot is then taken all the same, and the
  // engine deals with what stands in its answer's name.
  if (!slot.ok() && slot.status().code() == Status::Code::kBusy)
    slot = PlaceRequest(*requests, text, options.lock_limit, {}, ops);
  if (!slot.ok()) {
    drop_job();
    if (slot.status().code() == Status::Code::kBusy) {
      r.outcome = HandOverResult::kBusy;
      r.error = slot.status().ToString();
      show(kBusyText, kBusyTitle, PromptIcon::kExclamation);
      return r;
    }
    if (slot.status().code() == Status::Code::kNoSpace)
      return refuse(HandOverResult::kShareFull, slot.status(), *requests);
    return fail(slot.status().ToString());
  }
  r.outcome = HandOverResult::kHandedOver;
  r.slot_base = engine::SlotBaseName(*slot);
  auto copy = engine::MonitorCopyName(r.slot_base, config.account, config.machine);
  if (copy.ok()) r.answer_copy = *copy;
  return r;
}

Status NotifyMonitor(const std::string& answer_copy, Prompt* prompt, std::chrono::milliseconds limit,
                     std::string_view request_id) {
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
  // The request's key follows the name's zero, where it fits with its own zero.
  if (!request_id.empty() && n + 1 + request_id.size() + 1 <= kMonitorBlockSize)
    std::memcpy(bytes.data() + n + 1, request_id.data(), request_id.size());
  // The block stays open until the monitor has handled the message, so it can read the
  // name even when this process ends right after.
  auto sent = winmsg::SendMessageTimeout(hwnd, kMonitorAddResult, 0, 0, limit);
  block->Close();
  return sent.ok() ? Status::Ok() : sent.status();
}

}  // namespace zv::client
