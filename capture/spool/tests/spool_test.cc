#include "capture/spool/spool.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"

namespace zv::capture {
namespace {

TEST(Spool, OptionsGivePaperOrientationAndResolution) {
  struct Case {
    const char* options;
    const char* paper;
    int orientation, resolution;
  } cases[] = {
      {"media=A4 PageSize=A4", "A4", 1, 200},
      {"media=iso_a3_297x420mm job-uuid=urn:x", "A3", 1, 200},
      {"PageSize=B5 orientation-requested=4 Resolution=600dpi", "B5", 2, 600},
      {"landscape PageSize=Letter Resolution=300x300dpi", "Letter", 2, 300},
      {"PageSize=Tabloid Resolution=1234dpi title='a b'", "A4", 1, 200},  // unknown: defaults
      {"PageSize=A5 Resolution=75dpi", "A5", 1, 75},
      {"Resolution=800dpi", "A4", 1, 200},
  };
  for (const Case& c : cases) {
    SpoolJob job = JobFromOptions("17", "t", 2, c.options);
    EXPECT_EQ(job.paper, c.paper) << c.options;
    EXPECT_EQ(job.orientation, c.orientation) << c.options;
    EXPECT_EQ(job.resolution, c.resolution) << c.options;
  }
}

TEST(Spool, JobFilesRoundTripAndRefuseDamage) {
  SpoolJob job = JobFromOptions("42", "月次\nreport", 3, "PageSize=A3 orientation-requested=4");
  auto back = ParseJobFile(FormatJobFile(job), "42");
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->title, "月次 report");  // a line break cannot split the file
  EXPECT_EQ(back->paper, "A3");
  EXPECT_EQ(back->orientation, 2);
  EXPECT_EQ(back->copies, 3);
  EXPECT_FALSE(ParseJobFile(FormatJobFile(job), "../42").ok());
  EXPECT_FALSE(ParseJobFile("paper=Z9\n", "1").ok());
  EXPECT_FALSE(ParseJobFile("resolution=0\n", "1").ok());
  EXPECT_FALSE(ParseJobFile("orientation=3\n", "1").ok());
  EXPECT_TRUE(ParseJobFile("", "1").ok());  // all defaults
}

TEST(Spool, CaptureRootRule) {
  EXPECT_EQ(CaptureRootFor("/home/u", nullptr), "/home/u/.local/state/zelvora");
  EXPECT_EQ(CaptureRootFor("/home/u", ""), "/home/u/.local/state/zelvora");
  EXPECT_EQ(CaptureRootFor("/home/u", "/srv/cap%h/"), "/srv/cap/home/u");
  EXPECT_EQ(SpoolFolder("/r"), "/r/spool");
  // The process's own root: a template always wins; without one root keeps out of its home.
  testing::TempRoot runtime;
  EXPECT_EQ(OwnCaptureRoot("/home/u", "/srv/cap%h/"), "/srv/cap/home/u");
  EXPECT_EQ(OwnCaptureRoot("/root", nullptr), ::geteuid() == 0 ? runtime.str() : "/root/.local/state/zelvora");
  EXPECT_TRUE(IsJobId("123"));
  EXPECT_FALSE(IsJobId("12a"));
  EXPECT_FALSE(IsJobId(""));
  ASSERT_TRUE(FindPaperByCode(43));
  EXPECT_STREQ(FindPaperByCode(43)->name, "Postcard");
}

}  // namespace
}  // namespace zv::capture
