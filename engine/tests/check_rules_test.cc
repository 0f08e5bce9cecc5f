#include "engine/rules/check_rules.h"

#include <gtest/gtest.h>

namespace zv::engine {
namespace {

TEST(CheckRules, SheetCount) {
  CRequestInfo r;
  r.Jobs = {{"a", 6}, {"b", 3}};
  r.FirstPage = 3;
  r.LastPage = 7;
  r.Copies = 2;
  EXPECT_EQ(RequestSheetCount(r, 2), 4);  // 5 pages, 4-up: 2 sheets, 2 copies
  r.FirstPage = r.LastPage = 4;
  EXPECT_EQ(RequestPageCount(r), 1);
  r.FirstPage = r.LastPage = 0;
  EXPECT_EQ(RequestPageCount(r), 9);
  EXPECT_EQ(RequestSheetCount(r, 3), 4);   // 9 pages 8-up: 2 sheets x 2
  EXPECT_EQ(RequestSheetCount(r, 9), 18);  // unknown layout counts one per sheet
  r.Copies = 0;
  EXPECT_EQ(RequestSheetCount(r, 0), 9);
  r.Copies = INT32_MAX;
  r.Jobs = {{"a", INT32_MAX}, {"b", INT32_MAX}};
  EXPECT_EQ(RequestSheetCount(r, 0), int64_t{INT32_MAX} * 2 * INT32_MAX);  // no overflow
}

TEST(CheckRules, QuotaDecision) {
  struct Case {
    bool refuse;
    int32_t over_action, ptype;
    int64_t used, sheets;
    UserLimits limits;
    QuotaDecision want;
  };
  using Q = QuotaDecision;
  const Case cases[] = {
      {true, 1, 0, 95, 10, {100, 0}, Q::kRefuseMono},
      {true, 0, 0, 95, 10, {100, 0}, Q::kAllow},
      {true, 1, 0, 101, 1, {100, 0}, Q::kRefuseMono},
      {true, 0, 0, 101, 1, {100, 0}, Q::kRefuseMono},
      {true, 0, 0, 100, 5, {100, 0}, Q::kAllow},
      {true, 1, 0, 90, 10, {100, 0}, Q::kAllow},
      {true, 1, 1, 95, 10, {0, 100}, Q::kRefuseColor},
      {true, 1, 1, 95, 10, {100, 0}, Q::kAllow},  // colour limit 0: unlimited
      {true, 1, 0, 95, 10, {-1, 0}, Q::kAllow},   // below 0 never refuses
      {false, 1, 0, 1000, 10, {100, 100}, Q::kAllow},
      {true, 1, 2, 1000, 10, {100, 100}, Q::kAllow},  // unknown printer kind
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.used) + "+" + std::to_string(c.sheets) + " mode " + std::to_string(c.over_action));
    EXPECT_EQ(DecideQuota(c.refuse, c.over_action, c.ptype, c.used, c.sheets, c.limits), c.want);
  }
}

}  // namespace
}  // namespace zv::engine

namespace zv::engine {
namespace {

TEST(CheckRules, ResolveUserLimitsByCountShubetsu) {
  const UserLimits own{10, 5}, system{50, 20}, group{100, 30};
  struct Case {
    int32_t kind;
    bool has_group;
    UserLimits want;
  } cases[] = {
      {0, true, {0, 0}},    {1, true, {50, 20}}, {2, true, {100, 30}},
      {2, false, {50, 20}},  // a group that is gone counts as the system's limits
      {3, true, {10, 5}},   {7, true, {0, 0}},   {-1, true, {0, 0}},
  };
  for (const auto& c : cases) {
    UserLimits got = ResolveUserLimits(c.kind, own, system, c.has_group ? &group : nullptr);
    EXPECT_EQ(got.mono, c.want.mono) << c.kind;
    EXPECT_EQ(got.color, c.want.color) << c.kind;
  }
}

}  // namespace
}  // namespace zv::engine
