#include "console/graph/chart_doc.h"

#include <algorithm>
#include <cstdio>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/periods.h"
#include "engine/rules/quota_period.h"

namespace zv::console {
namespace {

using engine::AddDays;

// Weekday names by day of the week (0 Sunday), fixed so the labels do not follow the locale.
constexpr const char* kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};

std::string MonthDay(int32_t d) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d/%02d", d / 100 % 100, d % 100);
  return b;
}
std::string YearMonth(int32_t d) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d年%02d月", d / 10000, d / 100 % 100);
  return b;
}
std::string YearMonthDay(int32_t d) {
  char b[24];
  std::snprintf(b, sizeof b, "%04d/%02d/%02d", d / 10000, d / 100 % 100, d % 100);
  return b;
}
std::string YearMonthDayWeekday(int32_t d) {
  const int w = engine::DayOfWeek(d);
  return YearMonthDay(d) + "(" + (w >= 0 ? kWeekdays[w] : "") + ")";
}
std::string Joined(const std::string& a, const std::string& b) { return a + "～" + b; }

// "%Y年%m月" of the first day and of today joined, or only today's when they share a month.
std::string MonthsText(int32_t first, int32_t today) {
  if (first / 100 == today / 100) return YearMonth(today);
  return Joined(YearMonth(first), YearMonth(today));
}
// "%Y/%m/%d" of the first and last day joined, or one day when they are the same.
std::string DaysText(int32_t first, int32_t last) {
  if (first == last) return YearMonthDay(first);
  return Joined(YearMonthDay(first), YearMonthDay(last));
}

struct Point {
  int32_t first, last;
  std::string label;
};

int32_t WeekFirst(int32_t day, int32_t week_flag) { return AddDays(engine::WeekEndDate(day, week_flag), -6); }

// Weeks newest first from the week holding today back to the week holding `oldest`; the
// current week ends today and is labelled today. Stops at the point limit.
std::vector<Point> WeeksBack(int32_t today, int32_t oldest, int32_t week_flag, bool* limited) {
  std::vector<Point> points;
  int32_t end = today;
  for (;;) {
    const int32_t first = WeekFirst(end, week_flag);
    if (points.size() == static_cast<size_t>(kMaxGraphPoints)) {
      *limited = true;
      break;
    }
    points.push_back({first, end, MonthDay(end)});
    if (first <= oldest) break;
    end = AddDays(first, -1);
  }
  return points;
}

// Days newest first from `last` back to `first`, stopping at the point limit.
std::vector<Point> DaysBack(int32_t first, int32_t last, bool* limited) {
  std::vector<Point> points;
  for (int32_t d = last; d >= first; d = AddDays(d, -1)) {
    if (points.size() == static_cast<size_t>(kMaxGraphPoints)) {
      *limited = true;
      break;
    }
    points.push_back({d, d, MonthDay(d)});
  }
  return points;
}

std::vector<int32_t> Uids(const std::vector<engine::UserRecord>& users) {
  std::vector<int32_t> uids;
  for (const auto& u : users) uids.push_back(u.UID);
  return uids;
}

// A day of the range that is no real date falls back to today.
int32_t DayOrToday(int32_t day, int32_t today) { return engine::IsValidDate(day) ? day : today; }

}  // namespace

int32_t ChartTypeCode(int32_t graph_type) {
  switch (graph_type) {
    case kGraphLine3D:
      return 12;
    case kGraphBar:
      return 1;
    case kGraphBar3D:
      return 5;
    default:
      return 9;
  }
}

GraphEnvironment ReadGraphEnvironment(CConsoleSettings& settings, int32_t today) {
  GraphEnvironment env;
  env.today = today;
  settings.GetWeekFlag(&env.week_flag);
  settings.GetCheckRange(&env.check_index, &env.check_days);
  int32_t limit = 0;
  if (settings.GetLimitDate(&limit)) env.limit_date = limit;
  return env;
}

bool BuildChartData(const ChartPeriod& period, const std::vector<engine::UserRecord>& all_users,
                    const GraphEnvironment& env, GraphSource& source, ChartData* out, bool* limited) {
  *limited = false;
  const std::vector<engine::UserRecord> users(all_users.begin(),
                                              all_users.begin() + std::min<size_t>(all_users.size(), kMaxGraphSeries));
  const std::vector<int32_t> uids = Uids(users);
  const int32_t today = env.today;
  const int32_t flag = env.week_flag;
  ChartData data;
  std::vector<Point> points;  // newest first, except where noted
  char title[128];

  auto earliest = [&](int32_t* day) {
    *day = 0;
    return uids.empty() || source.EarliestDay(uids, day);
  };
  auto this_week = [&] {
    const int32_t first = WeekFirst(today, flag);
    for (int i = 6; i >= 0; --i) {
      const int32_t d = AddDays(first, i);
      points.push_back({d, d, MonthDay(d)});
    }
    data.unit_text = "（日）";
    data.period_text = Joined(YearMonthDayWeekday(first), YearMonthDayWeekday(AddDays(first, 6)));
  };
  auto this_month = [&] {
    const int32_t month_first = today / 100 * 100 + 1;
    const int32_t month_last = engine::LastDayOfMonth(today);
    for (int32_t end = month_last; end >= month_first;) {
      const int32_t first = std::max(WeekFirst(end, flag), month_first);
      const int32_t last = std::min(engine::WeekEndDate(end, flag), month_last);
      points.push_back({first, last, MonthDay(last)});
      end = AddDays(first, -1);
    }
    data.unit_text = "（週）";
    data.period_text = YearMonth(today);
  };
  auto days_range = [&](int32_t first, int32_t last) {
    points = DaysBack(first, last, limited);
    data.unit_text = "（日）";
    data.period_text = DaysText(points.back().first, last);
  };
  auto weeks_from = [&](int32_t oldest) {
    points = WeeksBack(today, oldest, flag, limited);
    data.unit_text = "（週）";
    data.period_text = MonthsText(WeekFirst(oldest, flag), today);
  };

  int32_t kind = period.kind;
  if (kind != 1 && kind != 2 && kind != 4) kind = 0;
  if (kind == 1) {
    this_month();
    data.title = "印刷枚数 (今月)";
  } else if (kind == 2) {
    this_week();
    data.title = "印刷枚数 (今週)";
  } else if (kind == 4) {
    const int32_t n = std::max(period.before, 1);
    if (period.selector == 1) {
      days_range(AddDays(today, -(n - 1)), today);
      std::snprintf(title, sizeof title, "印刷枚数 (期間指定：過去%d日間)", n);
      data.title = title;
    } else if (period.selector == 2) {
      const int32_t a = DayOrToday(period.start, today), b = DayOrToday(period.end, today);
      days_range(std::min(a, b), std::max(a, b));
      data.title = "印刷枚数 (期間指定：日付指定)";
    } else {
      weeks_from(MonthsBackRange(today, n).first);
      std::snprintf(title, sizeof title, "印刷枚数 (期間指定：過去%dヶ月間)", n);
      data.title = title;
    }
  } else {
    switch (env.check_index) {
      case 1:
        days_range(today, today);
        data.title = "印刷枚数（標準：1日)";
        break;
      case 2:
        this_week();
        data.title = "印刷枚数（標準：1週間)";
        break;
      case 3:
        this_month();
        data.title = "印刷枚数（標準：1ヶ月)";
        break;
      case 4: {
        const int32_t end = DayOrToday(env.limit_date.value_or(today), today);
        days_range(engine::PeriodStartDate(end, engine::kPeriodDays, env.check_days), end);
        std::snprintf(title, sizeof title, "印刷枚数 (標準：%d日間)", env.check_days);
        data.title = title;
        break;
      }
      default: {
        int32_t oldest = 0;
        if (!earliest(&oldest)) return false;
        weeks_from(oldest > 0 && oldest < today ? oldest : today);
        data.title = "印刷枚数（標準：無期限)";
        break;
      }
    }
  }
  // This week is built oldest first; every other builder newest first.
  if (points.size() > 1 && points.front().first > points.back().first) std::reverse(points.begin(), points.end());

  std::map<std::pair<int32_t, int32_t>, int64_t> sums;
  if (!uids.empty() && !points.empty() && !source.SumByUserDay(uids, points.front().first, points.back().last, &sums)) {
    return false;
  }
  data.series_count = static_cast<int32_t>(users.size());
  data.point_count = static_cast<int32_t>(points.size());
  for (const auto& p : points) {
    data.labels.push_back(p.label);
    data.point_days.emplace_back(p.first, p.last);
  }
  for (const auto& u : users) {
    data.names.push_back(u.Account);
    std::vector<float> v;
    v.reserve(points.size());
    for (const auto& p : points) {
      int64_t total = 0;
      for (auto it = sums.lower_bound({u.UID, p.first});
           it != sums.end() && it->first.first == u.UID && it->first.second <= p.last; ++it) {
        total += it->second;
      }
      v.push_back(static_cast<float>(total));
    }
    data.values.push_back(std::move(v));
  }
  *out = std::move(data);
  return true;
}

bool DatabaseGraphSource::SumByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                                       std::map<std::pair<int32_t, int32_t>, int64_t>* out) {
  CConsoleDatabase db(dsn_, user_, password_);
  return db.SumPagesByUserDay(uids, first, last, out);
}

bool DatabaseGraphSource::EarliestDay(const std::vector<int32_t>& uids, int32_t* day) {
  CConsoleDatabase db(dsn_, user_, password_);
  *day = 0;
  return db.GetLogMinDate(day, &uids);
}

void CChartDoc::LoadSettings(CConsoleSettings* settings) {
  settings_ = settings;
  const int32_t type = settings->GetGraphType();
  graph_type_ = type >= kGraphLine && type <= kGraphBar3D ? type : kGraphLine;
  const CConsoleSettings::DisplaySpan span = settings->GetDisplaySpan();
  period_ = {span.kind == 3 ? 0 : span.kind, span.selector, span.before, span.start, span.end};
}

void CChartDoc::SetGraphType(int32_t type) {
  graph_type_ = type;
  if (settings_) {
    settings_->SetGraphType(type);
    settings_->Save();
  }
}

void CChartDoc::GetPeriod(int32_t* kind, int32_t* selector, int32_t* before, int32_t* start, int32_t* end) const {
  if (kind) *kind = period_.kind;
  if (selector) *selector = period_.selector;
  if (before) *before = period_.before;
  if (start) *start = period_.start;
  if (end) *end = period_.end;
}

void CChartDoc::SetPeriod(int32_t kind, int32_t selector, int32_t before) { period_ = {kind, selector, before, 0, 0}; }

void CChartDoc::SetPeriodRange(int32_t kind, int32_t selector, int32_t start, int32_t end) {
  period_ = {kind, selector, 1, start, end};
}

bool CChartDoc::SetItems(const std::vector<engine::UserRecord>& users) {
  items_.assign(users.begin(), users.begin() + std::min<size_t>(users.size(), kMaxGraphSeries));
  return Recalculate();
}

bool CChartDoc::Recalculate() {
  ChartData fresh;
  bool limited = false;
  if (!BuildChartData(period_, items_, environment_(), source_, &fresh, &limited)) return false;
  if (limited) ShowAppMessage(sink_, 22);
  data_ = std::move(fresh);
  if (update_) update_();
  return true;
}

}  // namespace zv::console
