#include "platform/wintypes/wintypes.h"

#include <gtest/gtest.h>

#include <vector>

namespace zv::win {
namespace {

TEST(LoadRecord, RefusesShortInputAndOffsetsPastTheEnd) {
  std::vector<std::uint8_t> bytes(sizeof(RECT) + 3, 0);
  EXPECT_TRUE(LoadRecord<RECT>(bytes).has_value());
  EXPECT_TRUE(LoadRecord<RECT>(bytes, 3).has_value());
  EXPECT_FALSE(LoadRecord<RECT>(bytes, 4).has_value());
  EXPECT_FALSE(LoadRecord<RECT>(bytes, 1000).has_value());
}

TEST(StoreRecord, RoundTripsLittleEndianFields) {
  std::vector<std::uint8_t> bytes(sizeof(DEVNAMES));
  ASSERT_TRUE(StoreRecord(std::span(bytes), 0, DEVNAMES{8, 0x0102, 3, 0}));
  EXPECT_EQ(bytes[2], 0x02);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_FALSE(StoreRecord(std::span(bytes), 1, DEVNAMES{}));
  EXPECT_EQ(LoadRecord<DEVNAMES>(bytes)->wDeviceOffset, 0x0102);
}

}  // namespace
}  // namespace zv::win

#include "platform/wintypes/filetime.h"

namespace zv::win {
namespace {

TEST(FileTime, ConvertsAndClampsInsteadOfOverflowing) {
  struct Case {
    FILETIME ft;
    std::int64_t nanos;
  } cases[] = {
      {FileTimeFromUnixNanos(0), 0},
      {FileTimeFromUnixNanos(1'700'000'000'000'000'000), 1'700'000'000'000'000'000},
      {FileTimeFromUnixNanos(-3'000'000'000'000'000'000), -3'000'000'000'000'000'000},
      {FILETIME{0, 0}, INT64_MIN},                      // 1601: before what nanoseconds hold
      {FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}, INT64_MAX},  // far future
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnixNanosFromFileTime(c.ft), c.nanos);
  }
}

}  // namespace
}  // namespace zv::win
