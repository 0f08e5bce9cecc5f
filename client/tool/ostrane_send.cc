// ostrane-send: sends a job document to a running engine through the client core and prints
// the answer; "join" links this client's root to a server's share first.
//
//   ostrane-send join <server share folder> [--server NAME] [--share NAME] [--system]
//                                     this root's machine key ("AppPath" its own app folder,
//                                     absolute); with --system the machine-wide settings
//                                     that every user's programs read (the installer, as root)
//   ostrane-send autoprint on|off     sets "AutoPrint" of the machine key (unattended runs)
//   ostrane-send send [--account A] [--machine M] [--printer P] [--copies N] [--pages F,L]
//                     [--count N] [--tag TEXT] [--wait SECONDS] [--busy-wait SECONDS] [--monitor]
//                     <job document>
//
// A server that cannot take the job now is asked again quietly for --busy-wait seconds
// (default 8); then the user is told why. Every job file name taken (the jobs folder named)
// ends the tool with 6, the share full with 7, nothing of the job left on the share: the
// document is sent again as it is. Every request slot taken is told as busy, and the slots
// are asked for on up to --wait seconds in all, then the tool ends with 6.
//
// With --monitor the job monitor is told each answer copy's name; the copy is left to it
// and the tool reads the account's answer "<account>-<machine>.ans" instead.
//
// Only an answer carrying the request's key is read (or one without a key where the machine
// key's "AcceptAnswersWithoutKey" is 1). When the engine took the request from its slot and
// no answer came within 10 s (at most half the wait), the likely cause is told once.
//
// Exit codes: 0 every answer read, 1 a failure, 2 a wrong command line (or "--help" with 0),
// 3 server not running, 4 no answer in time, 5 the share cannot be reached or read, 6 the
// server busy (every request slot or job file name taken), 7 the share full.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "client/answer.h"
#include "client/client_doc.h"
#include "client/config.h"
#include "client/handover.h"
#include "client/prompt.h"
#include "platform/process/usage.h"
#include "platform/registry/registry.h"

namespace {

using namespace zv;
using namespace zv::client;

class ConsolePrompt : public Prompt {
 public:
  PromptAnswer Show(std::string_view text, std::string_view title, PromptIcon, PromptButtons buttons) override {
    std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
                 text.data());
    return buttons == PromptButtons::kOk ? PromptAnswer::kOk : PromptAnswer::kNo;
  }
};

constexpr process::Usage kUsage{
    "ostrane-send",
    "Usage: ostrane-send join FOLDER [--server NAME] [--share NAME] [--system]\n"
    "       ostrane-send autoprint on|off\n"
    "       ostrane-send send [--account A] [--machine M] [--printer P] [--copies N] [--pages F,L]\n"
    "                         [--count N] [--tag TEXT] [--wait SECONDS] [--busy-wait SECONDS]\n"
    "                         [--monitor] DOCUMENT\n"
    "Sends job documents to the print engine as the client does, and prints the answers.\n"
    "\n"
    "Commands:\n"
    "  join FOLDER        link this client's root to a server's share folder, named\n"
    "                     \\\\NAME\\SHARE (--server, default this host's short name;\n"
    "                     --share, default ZELVORA);\n"
    "                     --system: for every user of the machine, in the machine-wide settings\n"
    "  autoprint on|off   set \"AutoPrint\" of the machine key (the client prints unattended)\n"
    "  send DOCUMENT      send a job document and wait for its answer:\n"
    "    --account A, --machine M   the account and machine (default this user and machine)\n"
    "    --printer P, --copies N    the printer and the number of copies\n"
    "    --pages F,L                the pages from F to L\n"
    "    --count N, --tag TEXT      send it N times, the jobs named TEXT-0, TEXT-1, ...\n"
    "    --wait SECONDS             how long to wait for each answer (default 60)\n"
    "    --busy-wait SECONDS        how long a server that cannot take the job now is asked\n"
    "                               again before the user is told (default 8); every job\n"
    "                               file name taken or the share full then ends the tool,\n"
    "                               every request slot taken is asked for on up to --wait\n"
    "                               seconds in all\n"
    "    --monitor                  tell the job monitor each answer and read the account's answer\n"
    "    Only an answer carrying the request's key is read; where the server's engine echoes\n"
    "    no key, set the machine key's DWORD \"AcceptAnswersWithoutKey\" to 1. When the engine\n"
    "    took a request and no answer came within 10 s (at most half the wait), the likely\n"
    "    cause is told once.\n"
    "  --help             show this text\n"
    "\n"
    "Exit codes: 0 every answer read, 1 a failure, 2 a wrong command line, 3 server not\n"
    "running, 4 no answer in time, 5 the share cannot be reached or read, 6 the server\n"
    "busy (every request slot or job file name taken), 7 the share full; with 6 and 7\n"
    "nothing of the job is left on the share.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  ZELVORA_SYSTEM_CONFIG  the machine-wide settings folder (default PREFIX/etc)\n"};

int Usage() { return kUsage.Error("wrong command line"); }

// The options of each command.
constexpr process::Option kJoinOptions[] = {{"--server", process::Option::Kind::kValue},
                                            {"--share", process::Option::Kind::kValue},
                                            {"--system"}};
constexpr process::Option kSendOptions[] = {
    {"--account", process::Option::Kind::kValue},   {"--machine", process::Option::Kind::kValue},
    {"--printer", process::Option::Kind::kValue},   {"--copies", process::Option::Kind::kValue},
    {"--pages", process::Option::Kind::kValue},     {"--count", process::Option::Kind::kValue},
    {"--tag", process::Option::Kind::kValue},       {"--wait", process::Option::Kind::kValue},
    {"--busy-wait", process::Option::Kind::kValue}, {"--monitor"}};

int32_t Today() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

int Join(std::vector<std::string> args) {
  // The names the installer gives a server by default: this host's short name and "ZELVORA".
  std::string server = CurrentMachineName(), share = "ZELVORA", folder;
  server = server.substr(0, server.find('.'));
  if (server.empty()) server = "ZELVORA";
  bool system = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--server" && i + 1 < args.size()) {
      server = args[++i];
    } else if (args[i] == "--share" && i + 1 < args.size()) {
      share = args[++i];
    } else if (args[i] == "--system") {
      system = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage();
    } else {
      folder = args[i];
    }
  }
  if (folder.empty()) return Usage();
  Status s = system ? JoinServerMachineWide(folder, server, share) : JoinServer(folder, server, share, DefaultAppPath());
  if (!s.ok()) {
    std::fprintf(stderr, "join: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("joined \\\\%s\\%s -> %s%s\n", server.c_str(), share.c_str(), folder.c_str(),
              system ? " for every user" : "");
  return 0;
}

int Send(std::vector<std::string> args) {
  auto config = LoadClientConfig();
  if (!config.ok()) {
    std::fprintf(stderr, "send: no client configuration: %s\n", config.status().ToString().c_str());
    return 1;
  }
  RequestOrder order;
  int count = 1, wait_s = 60, busy_wait_s = 8;
  bool monitor = false;
  std::string tag, path;
  for (size_t i = 0; i < args.size(); ++i) {
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (args[i] == "--account") {
      config->account = next();
    } else if (args[i] == "--machine") {
      config->machine = next();
    } else if (args[i] == "--printer") {
      order.device = next();
    } else if (args[i] == "--copies") {
      order.copies = std::atoi(next().c_str());
    } else if (args[i] == "--pages") {
      std::string p = next();
      order.first_page = std::atoi(p.c_str());
      size_t comma = p.find(',');
      order.last_page = comma == std::string::npos ? order.first_page : std::atoi(p.c_str() + comma + 1);
    } else if (args[i] == "--count") {
      count = std::atoi(next().c_str());
    } else if (args[i] == "--tag") {
      tag = next();
    } else if (args[i] == "--monitor") {
      monitor = true;
    } else if (args[i] == "--wait") {
      wait_s = std::atoi(next().c_str());
    } else if (args[i] == "--busy-wait") {
      busy_wait_s = std::atoi(next().c_str());
    } else {
      path = args[i];
    }
  }
  if (path.empty() || count < 1 || busy_wait_s < 0) return Usage();
  ConsolePrompt prompt;
  COstraneDoc doc;
  if (!doc.OnOpenDocument(path, "", &prompt)) return 1;
  auto packed = doc.EncodePacked();
  if (!packed.ok()) {
    std::fprintf(stderr, "send: %s\n", packed.status().ToString().c_str());
    return 1;
  }
  order.paper = -1;
  for (int i = 0; i < doc.GetAllPage(); ++i) order.rotations.push_back(doc.viewer().page(i)->GetRotation());
  auto results = config->ResultFolder();
  auto requests = config->RequestFolder();
  if (!results.ok() || !requests.ok()) {
    std::fprintf(stderr, "send: %s\n", (results.ok() ? requests.status() : results.status()).ToString().c_str());
    return 1;
  }
  QuotaState quota;
  for (int n = 0; n < count; ++n) {
    std::string name = doc.DisplayName();
    if (!tag.empty()) name = tag + "-" + std::to_string(n);
    order.jobs = {{name, doc.GetAllPage()}};
    HandOverResult r;
    // A server that cannot take the job now is asked again quietly for a while; then the
    // user is told why. Every job name taken or the share full ends the tool there (they
    // clear only when files are removed); slots that the engine frees as it goes are asked
    // for on, up to the answer's wait, the user told once that the server is busy.
    const auto asked = std::chrono::steady_clock::now();
    const auto busy_end = asked + std::chrono::seconds(busy_wait_s);
    const auto slots_end = asked + std::chrono::seconds(std::max(busy_wait_s, wait_s));
    bool told_busy = false;
    for (;;) {
      r = SendRequest(*config, *packed, order, nullptr);
      const bool again = r.outcome == HandOverResult::kBusy || r.outcome == HandOverResult::kNamesTaken ||
                         r.outcome == HandOverResult::kShareFull;
      const auto now = std::chrono::steady_clock::now();
      if (!again || now >= (r.outcome == HandOverResult::kBusy ? slots_end : busy_end)) break;
      if (r.outcome == HandOverResult::kBusy && now >= busy_end && !told_busy) {
        told_busy = true;
        prompt.Show(kBusyText, kBusyTitle, PromptIcon::kExclamation, PromptButtons::kOk);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(r.outcome == HandOverResult::kBusy ? 50 : 250));
    }
    if (r.outcome == HandOverResult::kBusy || r.outcome == HandOverResult::kNamesTaken) {
      if (!told_busy)
        prompt.Show(r.outcome == HandOverResult::kBusy ? std::string(kBusyText) : r.message, kBusyTitle,
                    PromptIcon::kExclamation, PromptButtons::kOk);
      std::fprintf(stderr, "send: %s not handed over: %s\n", path.c_str(), r.error.c_str());
      return 6;
    }
    if (r.outcome == HandOverResult::kShareFull) {
      prompt.Show(r.message, kPrintErrorTitle, PromptIcon::kExclamation, PromptButtons::kOk);
      std::fprintf(stderr, "send: %s not handed over: %s\n", path.c_str(), r.error.c_str());
      return 7;
    }
    if (r.outcome == HandOverResult::kNotRunning) {
      prompt.Show(kServerNotRunningText, kPrintErrorTitle, PromptIcon::kStop, PromptButtons::kOk);
      return 3;
    }
    if (r.outcome == HandOverResult::kNoShare) {
      prompt.Show(r.message, kPrintErrorTitle, PromptIcon::kStop, PromptButtons::kOk);
      return 5;
    }
    if (r.outcome != HandOverResult::kHandedOver) {
      std::fprintf(stderr, "send: %s\n", r.error.c_str());
      prompt.Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop, PromptButtons::kOk);
      return 1;
    }
    // Wait for the answer copy of this slot, as the job monitor does, and take it away; or
    // leave the copy to the monitor and wait for the account's answer.
    std::string copy = *results + "/" + r.answer_copy;
    if (monitor) {
      (void)NotifyMonitor(r.answer_copy, &prompt, std::chrono::milliseconds(5000), r.request_id);
      copy = *results + "/" + config->account + "-" + config->machine + ".ans";
    }
    const auto begun = std::chrono::steady_clock::now();
    auto end = begun + std::chrono::seconds(wait_s);
    NoAnswerNotice notice(std::min<std::chrono::milliseconds>(kNoAnswerGrace, std::chrono::seconds(wait_s) / 2));
    auto next_look = begun;
    AnswerInfo answer;
    for (;;) {
      if (auto got = ReadAnswerOf(copy, quota, r.request_id, config->accept_keyless_answers)) {
        answer = *got;
        break;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now > end) {
        std::fprintf(stderr, "send: no answer for %s in %d s\n", r.slot_base.c_str(), wait_s);
        return 4;
      }
      // Whether the engine took the request is looked at now and then (a network share is
      // slow to read).
      if (now >= next_look) {
        next_look = now + std::chrono::milliseconds(500);
        if (notice.Due(RequestWaitsInSlot(*requests, r.slot_base, r.request_id), now))
          prompt.Show(kNoAnswerText, kNoAnswerTitle, PromptIcon::kExclamation, PromptButtons::kOk);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!monitor) ::unlink(copy.c_str());
    quota = answer.quota;
    std::string message = answer.message;
    for (char& c : message)
      if (c == '\n') c = ' ';
    std::printf("%s %s result=%d title=%s message=%s\n", r.slot_base.c_str(), name.c_str(), answer.code,
                answer.title.c_str(), message.c_str());
  }
  std::printf("%s\n%s\n", PeriodStatusText(quota, Today()).c_str(), PagesStatusText(quota).c_str());
  return 0;
}

int AutoPrint(const std::vector<std::string>& args) {
  if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return Usage();
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kMachineKey);
  Status s = key.ok() ? key->SetDword("AutoPrint", args[0] == "on" ? 1 : 0) : key.status();
  if (!s.ok()) {
    std::fprintf(stderr, "autoprint: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty()) return kUsage.Error("no command");
  std::vector<std::string> args(all.begin() + 1, all.end());
  const std::string& cmd = all[0];
  std::span<const process::Option> options;
  if (cmd == "join") options = kJoinOptions;
  else if (cmd == "send") options = kSendOptions;
  else if (cmd != "autoprint") {
    // "--help" or an option in place of the command is answered as such.
    if (auto done = process::CheckOptions(all, {}, kUsage)) return *done;
    return kUsage.Error("unknown command " + cmd);
  }
  if (auto done = process::CheckOptions(args, options, kUsage)) return *done;
  if (cmd == "join") return Join(args);
  if (cmd == "autoprint") return AutoPrint(args);
  return Send(args);
}
