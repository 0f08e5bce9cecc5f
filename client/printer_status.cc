#include "client/printer_status.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/snmp/snmp.h"

namespace zv::client {
namespace {

// Characters of a UTF-8 text (bytes that start a character).
size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Appends a piece when the text stays within kMaxStatusChars; a piece that does not fit is
// dropped whole.
void AppendBounded(std::string& text, const std::string& piece) {
  if (CharCount(text) + CharCount(piece) <= kMaxStatusChars) text += piece;
}

void DropLastLineEnd(std::string& text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
}

bool IsSerious(long code) {
  return code == 3 || code == 8 || code == 808 || code == 1101 || code == 1102 || code == 1103;
}
bool IsWarning(long code) { return code == 807 || code == 1104 || code == 1105 || code == 1106; }

}  // namespace

StatusTexts ComposeStatusTexts(const StatusColumns& columns) {
  StatusTexts t;
  for (const std::string& line : columns.console) AppendBounded(t.main, line + "\r\n");
  bool serious_seen = false, warning_seen = false;
  for (size_t i = 0; i < columns.codes.size(); ++i) {
    long code = std::strtol(columns.codes[i].c_str(), nullptr, 10);
    const std::string description = i < columns.descriptions.size() ? columns.descriptions[i] : std::string();
    if (IsSerious(code)) {
      if (!serious_seen) t.main.clear();
      serious_seen = true;
      AppendBounded(t.main, description + "\r\n");
    } else if (IsWarning(code)) {
      if (!warning_seen) AppendBounded(t.other, std::string(kOtherInfoHeading) + "\r\n");
      warning_seen = true;
      AppendBounded(t.other, description + "\r\n");
    }
  }
  DropLastLineEnd(t.main);
  DropLastLineEnd(t.other);
  return t;
}

// Takes the composed texts, gives the pop-up's text: the main text, a line end, then the other
// information on its own line, so an empty line always separates the two.
std::string StatusPopupText(const StatusTexts& texts) { return texts.main + "\r\n\r\n" + texts.other; }

StatusOutcome RunStatusQuery(const std::string& address, const StatusQueryOptions& options) {
  StatusOutcome out;
  if (address.empty()) return out;
  Result<snmp::Session> session = snmp::Session::Open(address, options.community, options.timeout, options.retries);
  if (!session.ok()) {
    out.kind = StatusOutcome::kFailed;
    out.popup_text = kSnmpSessionFailedText;
    return out;
  }
  const char* const names[3] = {kConsoleTextColumn, kAlertCodeColumn, kAlertDescriptionColumn};
  std::vector<std::string>* values[3];
  StatusColumns columns;
  values[0] = &columns.console;
  values[1] = &columns.codes;
  values[2] = &columns.descriptions;
  std::optional<std::string> error;
  for (int c = 0; c < 3 && !error; ++c) {
    Result<snmp::Oid> root = snmp::ParseOid(names[c]);
    if (!root.ok()) {
      error = kOidFailedText;
      break;
    }
    snmp::Oid current = *root;
    for (int i = 0; i < kMaxColumnValues; ++i) {
      Result<snmp::GetNextReply> reply = session->GetNext(current);
      if (!reply.ok()) {
        error = kMibFailedText;
        break;
      }
      if (reply->error_status == snmp::kNoSuchName) break;
      if (reply->error_status > 0) {
        error = kMibFailedText;
        break;
      }
      if (!snmp::OidHasPrefix(reply->oid, *root)) break;
      std::string text = snmp::ValueToText(reply->value);
      if (CharCount(text) <= kMaxValueChars) values[c]->push_back(std::move(text));
      current = reply->oid;
    }
  }
  if (error) {
    out.kind = StatusOutcome::kFailed;
    out.popup_text = *error;
    (void)session->Close();
    return out;
  }
  if (!session->Close().ok()) {
    out.kind = StatusOutcome::kCloseFailed;
    out.popup_text = kSessionCloseFailedText;
    return out;
  }
  StatusTexts texts = ComposeStatusTexts(columns);
  out.kind = StatusOutcome::kShown;
  out.main_text = texts.main;
  out.popup_text = StatusPopupText(texts);
  return out;
}

// The worker and what the interface thread shares with it. At most one query runs and one
// waits; a newer request replaces the waiting one.
struct PrinterStatusService::Shared {
  struct Job {
    std::string address;
    int mode = 0;
    uint64_t generation = 0;
  };
  std::mutex mu;
  std::condition_variable cv;
  std::optional<Job> waiting;
  std::optional<Job> running;
  bool stop = false;
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> generation{0};
  std::thread worker;
};

PrinterStatusService::PrinterStatusService(Poster post, StatusDisplay* display, StatusQueryOptions options,
                                           bool available)
    : post_(std::move(post)), display_(display), shared_(std::make_shared<Shared>()) {
  if (!available) {
    shared_->failed = true;
    return;
  }
  std::weak_ptr<Shared> weak = shared_;
  Shared* s = shared_.get();
  s->worker = std::thread([this, s, weak, options] {
    std::unique_lock<std::mutex> lock(s->mu);
    while (true) {
      s->cv.wait(lock, [s] { return s->stop || s->waiting.has_value(); });
      if (s->stop) return;
      s->running = std::move(s->waiting);
      s->waiting.reset();
      Shared::Job job = *s->running;
      lock.unlock();
      StatusOutcome outcome;
      if (!s->failed) outcome = RunStatusQuery(job.address, options);
      if (outcome.kind == StatusOutcome::kFailed) s->failed = true;
      lock.lock();
      s->running.reset();
      if (s->stop) return;
      // Delivered on the interface thread, and only while the service lives and the printer
      // is still the one selected.
      post_([this, weak, job, outcome] {
        if (std::shared_ptr<Shared> alive = weak.lock()) Deliver(job.generation, job.mode, outcome);
      });
    }
  });
}

PrinterStatusService::~PrinterStatusService() {
  {
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->stop = true;
    shared_->waiting.reset();
  }
  shared_->cv.notify_all();
  if (shared_->worker.joinable()) shared_->worker.join();
}

bool PrinterStatusService::failed() const { return shared_->failed.load(); }

bool PrinterStatusService::busy() const {
  std::lock_guard<std::mutex> lock(shared_->mu);
  return shared_->running.has_value() || shared_->waiting.has_value();
}

bool PrinterStatusService::QueryPrinterStatus(const std::string& address, int mode) {
  if (shared_->failed) return false;
  if (address.empty()) {
    ++shared_->generation;
    if (display_) display_->ShowStatus("");
    return false;
  }
  std::lock_guard<std::mutex> lock(shared_->mu);
  const Shared::Job* current = shared_->waiting ? &*shared_->waiting : shared_->running ? &*shared_->running : nullptr;
  if (current && current->address == address && current->mode == mode &&
      current->generation == shared_->generation.load())
    return true;
  shared_->waiting = Shared::Job{address, mode, ++shared_->generation};
  shared_->cv.notify_all();
  return true;
}

void PrinterStatusService::Deliver(uint64_t generation, int mode, const StatusOutcome& outcome) {
  if (generation != shared_->generation.load() || display_ == nullptr) return;
  if (outcome.kind == StatusOutcome::kShown && mode == 1) {
    display_->StatusMessage(outcome.main_text);
    return;
  }
  display_->ShowStatus(outcome.popup_text);
}

void PrinterStatusService::OnStartUp(const std::string& address) {
  selected_ = address;
  if (!address.empty()) QueryPrinterStatus(address, 0);
}

void PrinterStatusService::OnPrinterSelected(const std::string& address) {
  selected_ = address;
  ++shared_->generation;
  if (display_) display_->HideStatus();
  QueryPrinterStatus(address, 0);
}

void PrinterStatusService::OnTimer4(bool print_active) {
  if (print_active) return;
  QueryPrinterStatus(selected_, 0);
}

}  // namespace zv::client
