#include "jobresult/job_log.h"

#include <gtest/gtest.h>

#include <functional>

#include "jobresult/tests/log_writer.h"

namespace zv::jobresult {
namespace {

using testing::LogWriter;
using testing::Record;
using testing::RecordSpec;

JobQuery Query(std::uint16_t hour, std::uint16_t minute, std::uint16_t second, const char* name = "report.doc",
               std::uint32_t job = 7) {
  JobQuery q;
  q.document = name;
  q.job_id = job;
  UnpackDateTime((2026u << 16) | (12u << 8) | 10u,
                 (std::uint32_t(hour) << 24) | (std::uint32_t(minute) << 16) | (std::uint32_t(second) << 8) | 0x55, &q);
  return q;
}

Lookup Look(const std::vector<std::uint8_t>& bytes, const JobQuery& q) {
  MemoryLog log(bytes);
  return LookupJob(log, q);
}

RecordSpec At(std::uint16_t minute, std::uint16_t second, std::uint32_t value1) {
  RecordSpec r;
  r.minute = minute;
  r.second = second;
  r.value1 = value1;
  return r;
}

TEST(JobLogTest, TheLatestCandidateNotOlderThanTheGivenTimeWins) {
  LogWriter w;
  w.Add(Record(At(0, 5, 1)));
  w.Add(Record(At(2, 0, 2)));
  RecordSpec other_job = At(5, 0, 3);
  other_job.job_id = 8;
  w.Add(Record(other_job));
  RecordSpec other_case = At(5, 0, 4);
  other_case.name = "Report.doc";
  w.Add(Record(other_case));
  RecordSpec ignored = At(6, 0, 5);
  ignored.flags = 0x80000000u;
  w.Add(Record(ignored));
  const std::vector<std::uint8_t> log = w.Linear();

  struct Case {
    std::uint16_t minute, second;
    std::uint32_t code, value1;
  } cases[] = {
      {0, 0, kFound, 2},     // both qualify: the later one
      {1, 0, kFound, 2},     // only 10:02:00 qualifies
      {2, 0, kFound, 2},     // the same second counts
      {3, 0, kNotFound, 0},  // none
  };
  for (const Case& c : cases) {
    const Lookup l = Look(log, Query(10, c.minute, c.second));
    EXPECT_EQ(l.code, c.code) << c.minute << ":" << c.second;
    if (c.code == kFound) {
      EXPECT_EQ(l.value1, c.value1);
      EXPECT_EQ(l.value3, 33u);
    }
  }
}

TEST(JobLogTest, TiesGoToMillisecondsThenToTheRecordReadLater) {
  LogWriter w;
  RecordSpec a = At(1, 0, 1);
  a.ms = 500;
  RecordSpec b = At(1, 0, 2);
  b.ms = 100;
  RecordSpec c = At(1, 0, 3);
  c.ms = 500;
  w.Add(Record(a));
  w.Add(Record(b));
  w.Add(Record(c));
  EXPECT_EQ(Look(w.Linear(), Query(10, 0, 0)).value1, 3u);
}

TEST(JobLogTest, ReadingWrapsAtTheWrapOffsetAndStopsAtTheEnd) {
  // The ring: records at 64 and after it are the newest; the oldest lies just before the
  // wrap offset and ends exactly at it.
  LogWriter w;
  w.Add(Record(At(3, 0, 30)));
  const std::uint32_t end = w.Add(Record(At(4, 0, 40)));
  const std::uint32_t stale_at = w.pos();
  w.Add(Record(At(9, 0, 99)));  // overwritten space between end and oldest: never read
  (void)end;
  const std::vector<std::uint8_t> old_rec = Record(At(1, 0, 10));
  const std::uint32_t oldest = w.pos() + 40;
  w.Place(oldest, old_rec);
  const std::uint32_t wrap = oldest + std::uint32_t(old_rec.size());
  w.Header(oldest, stale_at, wrap);
  EXPECT_EQ(Look(w.bytes(), Query(10, 0, 0)).value1, 40u);
  EXPECT_EQ(Look(w.bytes(), Query(10, 5, 0)).code, kNotFound);

  // The writer filled the ring up to the wrap offset: the end is back at 64.
  w.Header(oldest, 64, wrap);
  EXPECT_EQ(Look(w.bytes(), Query(10, 0, 0)).value1, 10u);
}

TEST(JobLogTest, OldestEqualToEndIsReadFirst) {
  LogWriter w;
  w.Add(Record(At(1, 0, 1)));
  w.Add(Record(At(2, 0, 2)));
  // A full ring: starting at 64 the scan goes round once and ends back at 64.
  std::vector<std::uint8_t> full = w.bytes();
  testing::Put32(full, 20, 64);
  testing::Put32(full, 24, 64);
  testing::Put32(full, 28, w.pos());
  EXPECT_EQ(Look(full, Query(10, 0, 0)).value1, 2u);
  // The offset is the end of the file: the read fails.
  w.Header(w.pos(), w.pos(), w.pos() + 4096);
  const Lookup l = Look(w.bytes(), Query(10, 0, 0));
  EXPECT_EQ(l.code, kFailed);
  EXPECT_EQ(l.last_error, 10u);
}

TEST(JobLogTest, EmptyFileIsNotFoundAndAForeignFileIsNotALog) {
  EXPECT_EQ(Look({}, Query(10, 0, 0)).code, kNotFound);
  LogWriter w;
  w.Add(Record(At(1, 0, 1)));
  std::vector<std::uint8_t> bytes = w.Linear();
  bytes[7] = 'X';  // "BROVLOGX": no NUL after the seventh letter
  const Lookup l = Look(bytes, Query(10, 0, 0));
  EXPECT_EQ(l.code, kFailed);
  EXPECT_EQ(l.last_error, 10u);
  EXPECT_EQ(Look(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 20), Query(10, 0, 0)).code, kFailed);
}

// Every damaged log ends quickly with "not a log", also when a record before the damage
// matched.
TEST(JobLogTest, MalformedLogsAreNotLogs) {
  struct Case {
    const char* what;
    std::function<void(LogWriter&)> damage;
  };
  const std::uint32_t second = 64 + std::uint32_t(Record(At(1, 0, 1)).size());
  const Case cases[] = {
      {"record size 0", [&](LogWriter& w) { testing::Put32(w.bytes(), second, 0); }},
      {"record size below its fields", [&](LogWriter& w) { testing::Put32(w.bytes(), second, 100); }},
      {"record past the end of the file", [&](LogWriter& w) { testing::Put32(w.bytes(), second, 4096); }},
      {"record larger than the log", [&](LogWriter& w) { testing::Put32(w.bytes(), second, 0x7FFFFFF0u); }},
      {"record past the wrap offset", [&](LogWriter& w) { testing::Put32(w.bytes(), 28, second + 120); }},
      {"name offset outside the record", [&](LogWriter& w) { testing::Put32(w.bytes(), second + 4, 5000); }},
      {"name without NUL",
       [&](LogWriter& w) {
         std::vector<std::uint8_t>& b = w.bytes();
         const std::uint32_t size = 112 + 11;
         for (std::uint32_t i = second + 112; i < second + size; ++i) b[i] = 'x';
       }},
      {"oldest before the header", [&](LogWriter& w) { testing::Put32(w.bytes(), 20, 10); }},
      {"oldest at the wrap offset", [&](LogWriter& w) { testing::Put32(w.bytes(), 20, 1u << 20); }},
      {"end beyond the wrap offset", [&](LogWriter& w) { testing::Put32(w.bytes(), 24, (1u << 20) + 8); }},
      {"wrap offset inside the header", [&](LogWriter& w) { testing::Put32(w.bytes(), 28, 64); }},
      {"end never met",
       [&](LogWriter& w) {
         // The end lies inside a record, so the walk steps over it; the ring wraps at
         // the last record and the scan must stop after one lap.
         testing::Put32(w.bytes(), 24, 70);
         testing::Put32(w.bytes(), 28, std::uint32_t(w.bytes().size()));
       }},
  };
  for (const Case& c : cases) {
    LogWriter w;
    w.Add(Record(At(1, 0, 1)));
    w.Add(Record(At(2, 0, 2)));
    w.Add(Record(At(3, 0, 3)));
    w.Linear();
    c.damage(w);
    const Lookup l = Look(w.bytes(), Query(10, 0, 0));
    EXPECT_EQ(l.code, kFailed) << c.what;
    EXPECT_EQ(l.last_error, 10u) << c.what;
  }
}

TEST(JobLogTest, StatusMapping) {
  struct Case {
    std::uint32_t s;
    bool detail;
    std::uint32_t d, want;
  } cases[] = {
      {0, false, 0, 0},         {299, false, 0, 0},       {300, false, 0x0201, 300}, {300, true, 0x0201, 371},
      {300, true, 0x0101, 371}, {300, true, 0xF000, 399}, {300, true, 0x0001, 300},  {302, false, 0, 301},
      {304, true, 0, 304},      {304, true, 5, 312},      {304, false, 5, 304},      {307, false, 0, 305},
      {410, false, 0, 305},     {311, false, 0, 312},     {413, false, 0, 313},      {316, false, 0, 314},
      {440, false, 0, 314},     {451, false, 0, 314},     {419, false, 0, 420},      {321, false, 0, 321},
      {332, false, 0, 330},     {350, true, 0x0706, 358}, {350, true, 1, 353},       {350, false, 0x0706, 353},
      {357, false, 0, 353},     {362, false, 0, 362},     {372, false, 0, 371},      {500, false, 0, 500},
      {1500, false, 0, 1500},   {1550, false, 0, 500},    {900, false, 0, 1901},     {1900, false, 0, 1900},
      {700, true, 3, 702},      {700, true, 9, 799},      {700, false, 9, 700},      {732, false, 0, 701},
      {733, false, 0, 700},     {722, false, 0, 720},     {753, false, 0, 751},      {756, false, 0, 755},
      {760, false, 0, 799},     {1750, false, 0, 799},    {452, false, 0, 399},      {600, false, 0, 399},
      {1300, false, 0, 399},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapPrinterStatus(c.s, c.detail, c.d), c.want) << c.s << " " << c.d;
  }
}

TEST(JobLogTest, TheFoundRecordsStatusIsMappedWithItsDetail) {
  LogWriter w;
  RecordSpec r = At(1, 0, 1);
  r.status = 300;
  r.detail_flag = 1;
  r.detail = 0x0201;
  w.Add(Record(r));
  EXPECT_EQ(Look(w.Linear(), Query(10, 0, 0)).status, 371u);
}

}  // namespace
}  // namespace zv::jobresult
