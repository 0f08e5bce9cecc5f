#include "client/app/panel_values.h"

#include <gtest/gtest.h>

namespace zv::client::app {
namespace {

TEST(PanelValuesTest, LayoutChoicesForThePreviewAndTheRequest) {
  struct Case {
    LayoutChoice choice;
    int width, height;  // first page, 0 x 0 for none
    bool direction_on, separators_on;
    PreviewSplit preview;
    int thumbnail;
  } cases[] = {
      // One page per sheet: no direction, no separators whatever the radios say.
      {{1, 2, 0}, 210, 297, false, false, {1, 0, 0}, 0},
      // Two pages follow the first page: portrait 2, landscape 1; no pages keep the radio.
      {{2, 1, 3}, 210, 297, false, true, {2, 2, 0}, 1},
      {{2, 2, 0}, 297, 210, false, true, {2, 1, 3}, 1},
      {{2, 2, 1}, 0, 0, false, true, {2, 2, 1}, 1},
      {{4, 2, 2}, 210, 297, true, true, {4, 2, 2}, 2},
      {{8, 1, 0}, 210, 297, true, true, {8, 1, 3}, 3},
  };
  for (const auto& c : cases) {
    const LayoutEnables e = EnablesFor(c.choice.pages_per_sheet);
    EXPECT_EQ(e.direction, c.direction_on) << c.choice.pages_per_sheet;
    EXPECT_EQ(e.separators, c.separators_on) << c.choice.pages_per_sheet;
    const PreviewSplit s = ToPreviewSplit(c.choice, c.width, c.height);
    EXPECT_EQ(s.pages, c.preview.pages);
    EXPECT_EQ(s.direction, c.preview.direction) << c.choice.pages_per_sheet << " " << c.width;
    EXPECT_EQ(s.separator, c.preview.separator) << c.choice.pages_per_sheet;
    EXPECT_EQ(ThumbnailCode(c.choice.pages_per_sheet), c.thumbnail);
    EXPECT_EQ(PagesPerSheet(c.thumbnail), c.choice.pages_per_sheet);
  }
  EXPECT_EQ(PagesPerSheet(7), 1);
}

TEST(PanelValuesTest, CopiesClamp) {
  struct Case {
    const char* text;
    int copies;
  } cases[] = {{"1", 1}, {"100", 100}, {"101", 100},        {"0", 1}, {"-5", 1}, {"abc", 1},
               {"", 1},  {"7x", 7},    {"99999999999", 100}};
  for (const auto& c : cases) EXPECT_EQ(ClampCopies(c.text), c.copies) << c.text;
}

TEST(PanelValuesTest, JobRowForPage) {
  const std::vector<int> counts = {3, 5, 0, 1};  // an empty job holds no page
  const std::pair<int, int> cases[] = {{0, 0}, {2, 0}, {3, 1}, {7, 1}, {8, 3}, {9, 3}, {-1, 3}};
  for (auto [page, row] : cases) EXPECT_EQ(JobRowForPage(counts, page), row) << page;
  EXPECT_EQ(JobRowForPage({}, 0), -1);
}

TEST(PanelValuesTest, OffsetTextsStepsAndTenths) {
  const std::pair<const char*, bool> texts[] = {{"12.5", true}, {"-3", true},  {"-", true},      {".", true},
                                                {"-.", true},   {"", false},   {"1.2.3", false}, {"3-", false},
                                                {"+1", false},  {" 1", false}, {"1e2", false}};
  for (auto [text, ok] : texts) EXPECT_EQ(IsOffsetNumber(text), ok) << text;
  EXPECT_EQ(ReadOffset("-."), 0.0f);
  EXPECT_EQ(ReadOffset("-12.5"), -12.5f);

  struct Step {
    float value;
    int step;
    OffsetField field;
    float want;
  } steps[] = {
      {0.0f, -1, kTopOffset, 0.1f},     // up adds
      {0.0f, 1, kTopOffset, -0.1f},     // down subtracts
      {50.0f, -1, kTopOffset, 50.0f},   // at the upper bound up stays
      {10.0f, 1, kScaleOffset, 10.0f},  // at the lower bound down stays
      {7.5f, 0, kLeftOffset, 7.5f},
  };
  for (const auto& c : steps) EXPECT_FLOAT_EQ(StepOffset(c.value, c.step, c.field), c.want) << c.value << " " << c.step;

  // Tenths are truncated toward zero.
  EXPECT_EQ(OffsetTenths(12.5f), 125);
  EXPECT_EQ(OffsetTenths(-2.5f), -25);
  EXPECT_EQ(OffsetTenths(0.05f), 0);
}

}  // namespace
}  // namespace zv::client::app
