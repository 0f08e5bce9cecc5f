#include "client/answer.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/hevrasto/request_slots.h"
#include "engine/hevrasto/share_files.h"
#include "engine/rules/quota_period.h"
#include "engine/rules/settings.h"
#include "engine/rules/text_util.h"
#include "platform/fs/files.h"
#include "platform/profile/profile.h"

namespace zv::client {
namespace {

constexpr char kLineMarker[] = "##KAIGYOU_POS##";

std::string JoinMarkedLines(const std::string& message) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t at = message.find(kLineMarker, pos);
    out += message.substr(pos, at == std::string::npos ? std::string::npos : at - pos);
    if (at == std::string::npos) break;
    out += "\n";
    pos = at + std::strlen(kLineMarker);
  }
  return out;
}

std::chrono::sys_days Days(int32_t ymd) {
  using namespace std::chrono;
  return sys_days(year_month_day(year(ymd / 10000), month(static_cast<unsigned>(ymd / 100 % 100)),
                                 day(static_cast<unsigned>(ymd % 100))));
}

std::string DateText(int32_t ymd) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", ymd / 10000, ymd / 100 % 100, ymd % 100);
  return buf;
}

}  // namespace

uint32_t KindFromAnswerCode(int code) {
  switch (code) {
    case 0:
      return kKindNone;
    case 1:
      return kKindDay;
    case 2:
      return kKindWeek;
    case 4:
      return kKindDays;
    default:
      return kKindMonth;
  }
}

AnswerInfo ParseAnswer(std::string_view text, const QuotaState& before) {
  AnswerInfo a;
  a.quota = before;
  profile::IniDocument doc = profile::IniDocument::Parse(text);
  auto result = doc.Get("PrintResult", "Result");
  if (!result || engine::Trim(*result).empty()) return a;
  a.complete = true;
  a.code = engine::LeadingInt(*result);
  if (auto key = doc.Get("PrintResult", share::kRequestIdKey); key && share::IsRequestId(engine::Trim(*key)))
    a.request_id = engine::Trim(*key);
  const char* section = a.code == 0 ? "NormalMessage" : "ErrorMessage";
  a.title = doc.Get(section, "Title").value_or("");
  a.message = JoinMarkedLines(doc.Get(section, "Message").value_or(""));
  if (auto range = doc.Get("PrintLimit", "CheckRange")) {
    int code = 0, days = 0;
    char sep = 0;
    int got = std::sscanf(range->c_str(), "%01d%c%03d", &code, &sep, &days);
    if (got >= 1) {
      a.quota.kind = KindFromAnswerCode(code);
      if (got == 3) a.quota.days = days;
    }
  }
  auto number = [&](const char* key, int32_t* out) {
    if (auto v = doc.Get("PrintLimit", key); v && !engine::Trim(*v).empty()) *out = engine::LeadingInt(*v);
  };
  number("LimitDate", &a.quota.limit_date);
  number("MaxPages", &a.quota.max_pages);
  number("PageCount", &a.quota.page_count);
  number("MaxPages_Color", &a.quota.max_color);
  number("PageCount_Color", &a.quota.count_color);
  return a;
}

Result<AnswerInfo> ReadAnswerFile(const std::string& path, const QuotaState& before) {
  // Another member's file in the answer's name is no answer.
  auto text = fs::ReadTrustedFile(path, 1 << 20);
  if (!text.ok()) return text.status();
  return ParseAnswer(*text, before);
}

std::optional<AnswerInfo> ReadAnswerOf(const std::string& path, const QuotaState& before, std::string_view sent,
                                       bool accept_keyless) {
  auto answer = ReadAnswerFile(path, before);
  if (!answer.ok() || !answer->complete) return std::nullopt;
  if (!share::AnswerBelongs(sent, answer->request_id, accept_keyless)) return std::nullopt;
  return *answer;
}

bool RequestWaitsInSlot(const std::string& request_folder, const std::string& slot_base, std::string_view key) {
  const int slot = engine::ParseSlotFileName(slot_base + ".lst");
  if (slot < 0) return false;
  auto text = fs::ReadFile(request_folder + "/" + engine::SlotFileName(slot), 1 << 20);
  if (!text.ok()) {
    if (text.status().code() == Status::Code::kNotFound) return false;
    // A file the client cannot read in a folder it reaches is another's request (its own it
    // can read); while the folder itself cannot be reached, nothing can be told.
    struct stat folder {};
    return ::stat(request_folder.c_str(), &folder) != 0;
  }
  if (share::ClassifyRequestText(*text) == share::RequestTextState::kPartial) return true;
  return share::RequestIdOf(*text) == key;
}

bool NoAnswerNotice::Due(bool waiting_in_slot, std::chrono::steady_clock::time_point now) {
  if (told_) return false;
  if (waiting_in_slot) {
    gone_since_.reset();
    return false;
  }
  if (!gone_since_) gone_since_ = now;
  if (now - *gone_since_ < grace_) return false;
  told_ = true;
  return true;
}

ResultMessage ClientResultMessage(int code, const std::vector<std::string>& extra) {
  ResultMessage m;
  m.code = code;
  m.title = "印刷実行";
  auto add = [&](std::initializer_list<const char*> lines) {
    for (const char* l : lines) m.lines.emplace_back(l);
  };
  switch (code) {
    case 0:
      if (extra.empty()) add({"印刷が完了しました。"});
      break;
    case 1:
      add({"印刷依頼情報に不備があります。"});
      break;
    case 2:
      add({"ユーザ登録されていないため印刷の権限がありません。"});
      break;
    case 3:
      add({"指定された[プリンタ]は、管理プリンタではありません。"});
      break;
    case 4:
      add({"印刷可能枚数に達しています。", "印刷可能枚数を超えた印刷は禁止されています。"});
      break;
    case 5:
      add({"印刷ジョブファイルがオープンできませんでした。"});
      break;
    case 6:
      if (extra.empty()) add({"印刷に失敗しました。"});
      break;
    default:
      if (extra.empty()) add({"内部エラーが発生しました。", "至急、管理者にご連絡ください。"});
      break;
  }
  m.lines.insert(m.lines.end(), extra.begin(), extra.end());
  return m;
}

std::string PeriodStatusText(QuotaState& s, int32_t today) {
  // Before the first answer there is no date: the period is the one the engine would set at
  // today (the month's last day, the week's end, N days from today), not today alone, so the
  // line shows the dates the engine's answer will give. The engine's weeks run from its
  // default week start, which the client cannot read.
  if (s.limit_date <= 1900 || !engine::IsValidDate(s.limit_date)) {
    engine::EngineSettings engine_defaults;
    engine_defaults.ApplyCheckRange(s.kind);
    s.limit_date = engine::RolledLimitDate(0, today, engine_defaults.PeriodIndex, s.days, engine_defaults.WeekFlag);
  }
  const int32_t n = engine::EffectiveDays(s.days);
  auto first_of = [&](int32_t last) -> int32_t {
    switch (s.kind) {
      case kKindWeek:
        return engine::AddDays(last, -6);
      case kKindDays:
        return engine::AddDays(last, -(n - 1));
      default:
        return last / 100 * 100 + 1;  // a month: the first of the last day's month
    }
  };
  switch (s.kind) {
    case kKindNone:
      return "対象期間：無期限";
    case kKindDay:
      return "対象期間：１日（あと1日間）";
    case kKindWeek:
    case kKindMonth:
    case kKindDays:
      break;
    default:
      return "対象期間：１ヶ月";
  }
  auto left = [&] { return static_cast<int>((Days(s.limit_date) - Days(today)).count()) + 1; };
  int32_t first = first_of(s.limit_date);
  // An ended period rolls on, period by period, until the one that holds today; the pages
  // used start again from 0.
  while (left() <= 0) {
    first = engine::AddDays(s.limit_date, 1);
    int32_t last = s.kind == kKindWeek   ? engine::AddDays(first, 6)
                   : s.kind == kKindDays ? engine::AddDays(first, n - 1)
                                         : engine::LastDayOfMonth(first);
    s.limit_date = last;
    if (s.page_count != -1) s.page_count = 0;
    if (s.count_color != -1) s.count_color = 0;
  }
  std::string head = s.kind == kKindWeek    ? "対象期間：１週間"
                     : s.kind == kKindMonth ? "対象期間：１ヶ月"
                                            : "対象期間：" + std::to_string(n) + "日間";
  return head + "  " + DateText(first) + "～" + DateText(s.limit_date) + " （あと" + std::to_string(left()) + "日間）";
}

std::string PagesStatusText(const QuotaState& s) {
  if (s.max_pages == -1 || s.page_count == -1 || s.max_color == -1 || s.count_color == -1)
    return "カラー[0]枚　モノクロ[0]枚";
  if (s.max_pages == 0 && s.max_color == 0) return "印刷可能枚数［無制限］";
  auto side = [](const char* name, int32_t limit, int32_t used) {
    if (limit == 0) return std::string("上限なし ") + name + "[" + std::to_string(used) + "]枚";
    int64_t left = static_cast<int64_t>(limit) - used;
    return std::string(left < 0 ? "上限超過 " : "上限まで ") + name + "[" + std::to_string(left < 0 ? -left : left) +
           "]枚";
  };
  return side("カラー", s.max_color, s.count_color) + " " + side("モノクロ", s.max_pages, s.page_count);
}

RangeCheck CheckPrinterAndRange(bool have_printer, bool range_chosen, int from, int to, int total) {
  RangeCheck c;
  if (!have_printer) {
    c.text = "プリンタが存在しません。";
    c.title = "プリンタエラー";
    c.tab = 1;
    return c;
  }
  if (!range_chosen) return c;
  int focus = 0;
  if (from < 1 || from > total) {
    focus = 1022;
  } else if (to < 1 || to > total || from > to) {
    focus = 1025;
  }
  if (focus == 0) return c;
  c.text = "印刷ページ範囲が異常です。";
  c.title = "印刷パラメータエラー";
  c.focus = focus;
  c.tab = 2;
  return c;
}

int TimerInterval(FrameTimer id) {
  switch (id) {
    case kTimerAnswer:
      return 2000;
    case kTimerQuota:
      return 15000;
    case kTimerStart:
      return 200;
    case kTimerPrinter:
      return 5000;
  }
  return 0;
}

void FrameTimers::Created() {
  armed_.insert(kTimerQuota);
  armed_.insert(kTimerPrinter);
}
void FrameTimers::PrintPressed() {
  run_active_ = true;
  armed_.insert(kTimerStart);
}
void FrameTimers::LocalRunStarted() { armed_.insert(kTimerAnswer); }
void FrameTimers::RunEnded() {
  armed_.erase(kTimerAnswer);
  armed_.erase(kTimerStart);
  run_active_ = false;
}
void FrameTimers::CloseDeclined() {
  if (run_active_) armed_.insert(kTimerAnswer);
}
void FrameTimers::Closing() {
  armed_.clear();
  run_active_ = false;
}

std::vector<FrameTimers::Action> FrameTimers::Tick(int id, bool server) {
  std::vector<Action> out;
  if (!armed_.count(id)) return out;  // a tick of a timer killed meanwhile
  switch (id) {
    case kTimerStart:
      armed_.erase(kTimerStart);
      out.push_back(Action::kPostPrintExecute);
      break;
    case kTimerPrinter:
      if (!run_active_) out.push_back(Action::kQueryPrinter);
      break;
    case kTimerQuota:
      break;
    default:
      if (run_active_) out.push_back(Action::kPollAnswer);
      break;
  }
  if (server) out.push_back(Action::kRefreshQuota);
  return out;
}

}  // namespace zv::client
