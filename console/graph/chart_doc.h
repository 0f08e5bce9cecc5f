// CChartDoc: the data of the console's print-count graph. For up to 16 users it builds,
// for one period, the pages printed per day or per week (monochrome and colour together),
// with a title, a period text, a unit text, the series names and the x-axis labels. Points
// run from the oldest (left) to the newest (right). Headless: the database, today and the
// registry values come in through GraphSource and GraphEnvironment, and messages go to a
// MessageSink, so that the window stays a thin view.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "console/rules/messages.h"
#include "engine/db/zvm_database.h"

namespace zv::console {

class CConsoleSettings;

inline constexpr int kMaxGraphSeries = 16;
inline constexpr int kMaxGraphPoints = 1000;

// Graph types: line, 3-D line, bar, 3-D bar (the 3-D kinds draw as their flat kinds).
enum GraphType : int32_t { kGraphLine = 0, kGraphLine3D = 1, kGraphBar = 2, kGraphBar3D = 3 };

// Takes a graph type; gives its chart type code: line 9, 3-D line 12, bar 1, 3-D bar 5
// (an unknown type gives the line's code).
int32_t ChartTypeCode(int32_t graph_type);

// The period of a graph, as the user list's display period stores it.
struct ChartPeriod {
  int32_t kind = 0;      // 0 standard, 1 this month, 2 this week, 4 chosen (3 reads as 0)
  int32_t selector = 0;  // kind 4: 0 past N months, 1 past N days, 2 a date range
  int32_t before = 1;    // N
  int32_t start = 0;     // first day of the range, yyyymmdd
  int32_t end = 0;       // last day of the range, yyyymmdd
};

// What the builders read besides the print log: today and the registry's values.
struct GraphEnvironment {
  int32_t today = 0;                  // yyyymmdd
  int32_t week_flag = 0;              // 1: weeks run Monday to Sunday, else Sunday to Saturday
  int32_t check_index = 3;            // the standard period: 0 none, 1 a day, 2 a week, 3 a month, 4 N days
  int32_t check_days = 0;             // N of index 4
  std::optional<int32_t> limit_date;  // "LimitDate"
};

// Takes the registry store and today; gives the environment ("WeekFlag", "CheckRange" with
// the engine's one-month default when missing, "LimitDate").
GraphEnvironment ReadGraphEnvironment(CConsoleSettings& settings, int32_t today);

// Where the builders read the print log.
class GraphSource {
 public:
  virtual ~GraphSource() = default;
  // Takes user ids and the first and last day; gives the pages of each user and day with
  // print-log rows in *out, keyed by (UID, yyyymmdd). False on a failed query.
  virtual bool SumByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                            std::map<std::pair<int32_t, int32_t>, int64_t>* out) = 0;
  // Takes user ids; gives their earliest print-log day in *day (0 when none). False on a
  // failed query.
  virtual bool EarliestDay(const std::vector<int32_t>& uids, int32_t* day) = 0;
};

// A GraphSource that opens the console's database for each call.
class DatabaseGraphSource : public GraphSource {
 public:
  // Takes the data source, user and password of the registry.
  DatabaseGraphSource(std::string dsn, std::string user, std::string password)
      : dsn_(std::move(dsn)), user_(std::move(user)), password_(std::move(password)) {}
  bool SumByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                    std::map<std::pair<int32_t, int32_t>, int64_t>* out) override;
  bool EarliestDay(const std::vector<int32_t>& uids, int32_t* day) override;

 private:
  std::string dsn_, user_, password_;
};

// The result of a builder.
struct ChartData {
  std::string title;
  std::string period_text;
  std::string unit_text = "（週）";
  int32_t series_count = 0;
  int32_t point_count = 0;
  std::vector<std::string> names;                       // one account per series
  std::vector<std::string> labels;                      // one per point, oldest first
  std::vector<std::vector<float>> values;               // [series][point]
  std::vector<std::pair<int32_t, int32_t>> point_days;  // first and last day of each point
};

// Takes the period, the users (at most 16 are used), the environment and the source; gives
// the graph in *out and sets *limited when the range was cut to the newest 1,000 points.
// False when a query failed (*out is then unspecified). The whole graph is read by one
// grouped query (and, where needed, one query for the earliest print-log day).
bool BuildChartData(const ChartPeriod& period, const std::vector<engine::UserRecord>& users,
                    const GraphEnvironment& env, GraphSource& source, ChartData* out, bool* limited);

class CChartDoc {
 public:
  // Takes the source of the print log, the sink for message 22 and a function that gives
  // the environment at each recalculation (today and the registry's values).
  CChartDoc(GraphSource& source, MessageSink& sink, std::function<GraphEnvironment()> environment)
      : source_(source), sink_(sink), environment_(std::move(environment)) {}

  // Takes the settings store; sets the graph type and the period from "GraphType" and the
  // display period of the "Settings" subkey (a stored kind 3 reads as 0), and keeps the
  // store so that SetGraphType saves.
  void LoadSettings(CConsoleSettings* settings);

  int32_t GraphType() const { return graph_type_; }
  // Takes a type 0..3; stores it and saves it as "GraphType" when a store is kept.
  void SetGraphType(int32_t type);

  // Gives the period; each pointer may be null.
  void GetPeriod(int32_t* kind, int32_t* selector, int32_t* before, int32_t* start, int32_t* end) const;
  const ChartPeriod& Period() const { return period_; }
  // Sets kind, selector and N, and both days to 0.
  void SetPeriod(int32_t kind, int32_t selector, int32_t before);
  // Sets kind and selector, N to 1, and the two days.
  void SetPeriodRange(int32_t kind, int32_t selector, int32_t start, int32_t end);

  // Takes user rows; keeps the first 16 in order and recalculates; gives its result.
  bool SetItems(const std::vector<engine::UserRecord>& users);
  const std::vector<engine::UserRecord>& Items() const { return items_; }

  // Builds the graph of the current period. On success shows message 22 first when the
  // range was cut, keeps the new data and calls the update hook; on failure keeps the old
  // data, calls nothing and gives false (the caller shows message 46).
  bool Recalculate();

  const ChartData& Data() const { return data_; }
  // Takes a function called after each successful recalculation (the views' update).
  void SetUpdateHook(std::function<void()> hook) { update_ = std::move(hook); }

 private:
  GraphSource& source_;
  MessageSink& sink_;
  std::function<GraphEnvironment()> environment_;
  std::function<void()> update_;
  CConsoleSettings* settings_ = nullptr;
  int32_t graph_type_ = kGraphLine;
  ChartPeriod period_;
  std::vector<engine::UserRecord> items_;
  ChartData data_;
};

}  // namespace zv::console
