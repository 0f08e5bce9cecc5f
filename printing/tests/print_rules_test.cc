#include "printing/print_rules.h"

#include <gtest/gtest.h>

namespace zv::printing {
namespace {

TEST(PrintRules, LayoutModes) {
  struct Case {
    int per_sheet, order, mode;
  } settings[] = {{0, 1, 0}, {0, 2, 0}, {1, 1, 2}, {1, 2, 2}, {2, 1, 4}, {2, 0, 8}, {3, 1, 12}, {3, 5, 13}, {9, 1, 0}};
  for (const auto& c : settings) {
    EXPECT_EQ(LayoutModeFromSettings(c.per_sheet, c.order), c.mode) << c.per_sheet << "/" << c.order;
  }
  struct Req {
    int thumbs, orientation, mode;
  } requests[] = {{0, 1, 0}, {0, 2, 0}, {1, 1, 2}, {1, 2, 2}, {2, 1, 4}, {2, 2, 8}, {3, 1, 12}, {3, 2, 13}};
  for (const auto& c : requests) {
    EXPECT_EQ(LayoutModeFromRequest(c.thumbs, c.orientation), c.mode) << c.thumbs << "/" << c.orientation;
  }
  struct Total {
    int pages, mode, sides;
  } totals[] = {{5, 0, 5}, {5, 2, 3}, {5, 3, 3}, {5, 4, 2}, {8, 8, 2}, {9, 12, 2}, {8, 13, 1}, {0, 4, 0}};
  for (const auto& c : totals) EXPECT_EQ(LabelTotal(c.pages, c.mode), c.sides) << c.pages << "/" << c.mode;
}

TEST(PrintRules, CopiesAndCollation) {
  EXPECT_EQ(PlanCopies(3, true).device_copies, 1);
  EXPECT_EQ(PlanCopies(3, true).passes, 3);
  EXPECT_EQ(PlanCopies(3, false).device_copies, 3);
  EXPECT_EQ(PlanCopies(3, false).passes, 1);
  EXPECT_EQ(PlanCopies(0, true).passes, 1);
  EXPECT_EQ(PlanCopies(-4, false).device_copies, 1);

  // What may be asked: below 1 is one copy, above the limit nothing at all.
  struct Asked {
    std::int64_t asked;
    int copies;
  } asked[] = {{-5, 1}, {0, 1}, {1, 1}, {999, 999}, {1000, 0}, {2147483647, 0}, {INT64_MAX, 0}};
  for (const auto& c : asked) EXPECT_EQ(DecideCopies(c.asked), c.copies) << c.asked;

  // A printer that makes fewer copies of itself than asked: the job repeats the run so that
  // exactly the copies asked for come out, never more or fewer.
  struct Plan {
    int copies;
    bool collate;
    int printer_max, device, passes;
  } plans[] = {
      {999, false, 999, 999, 1}, {998, false, 500, 499, 2}, {997, false, 500, 1, 997},  // a prime: one copy per pass
      {12, false, 5, 4, 3},      {12, false, 0, 1, 12},                                 // a printer without copies
      {12, true, 5, 1, 12},
  };
  for (const auto& c : plans) {
    CopyPlan p = PlanCopies(c.copies, c.collate, c.printer_max);
    EXPECT_EQ(p.device_copies, c.device) << c.copies << "/" << c.printer_max;
    EXPECT_EQ(p.passes, c.passes) << c.copies << "/" << c.printer_max;
    EXPECT_EQ(p.total(), c.copies);
  }
}

spool::DevMode BaseMode(const char* device = "Office", win::SHORT paper = 9) {
  spool::DevMode m;
  spool::CopyFixedText(device, m.dm.dmDeviceName, sizeof m.dm.dmDeviceName);
  m.dm.dmSpecVersion = 0x401;
  m.dm.dmSize = sizeof(win::DEVMODEA);
  m.dm.dmPaperSize = paper;
  m.dm.dmOrientation = 1;
  m.dm.dmDuplex = 2;
  m.dm.dmCopies = 1;
  return m;
}

std::vector<spool::Paper> Papers() { return {{9, "A4", 2100, 2970}, {8, "A3", 2970, 4200}, {11, "A5", 1480, 2100}}; }

PageFacts Portrait(std::uint16_t code, std::int16_t wid, std::int16_t len) {
  return PageFacts{code, false, false, wid, len};
}
PageFacts Landscape(std::uint16_t code, std::int16_t wid, std::int16_t len, bool rotated = false) {
  return PageFacts{code, true, rotated, wid, len};
}

TEST(PrintRules, FitDevModeTable) {
  struct Case {
    const char* what;
    FitRequest req;
    win::SHORT paper, orientation, width, length, duplex;
    int mode;
    bool chosen;
  } cases[] = {
      {"page's own portrait paper", {0, -1, 3, 1, false, Portrait(9, 2100, 2970)}, 9, 1, 2100, 2970, 2, 0, false},
      {"single page prints simplex", {0, -1, 1, 1, false, Portrait(9, 2100, 2970)}, 9, 1, 2100, 2970, 1, 0, false},
      {"landscape page", {0, -1, 3, 1, false, Landscape(8, 2970, 4200)}, 8, 2, 2970, 4200, 2, 0, false},
      {"chosen paper, portrait page", {0, 8, 3, 1, false, Portrait(9, 2100, 2970)}, 8, 1, 2970, 4200, 2, 0, true},
      {"chosen paper, landscape page", {0, 8, 3, 1, false, Landscape(9, 2100, 2970)}, 8, 2, 2970, 4200, 2, 0, true},
      {"paper the printer lacks: current paper",
       {0, -1, 3, 1, false, Portrait(70, 500, 1000)},
       9,
       1,
       2100,
       2970,
       2,
       0,
       true},
      {"two-up turns the sheet and the binding edge",
       {2, -1, 5, 1, false, Portrait(9, 2100, 2970)},
       9,
       2,
       2100,
       2970,
       3,
       2,
       false},
      {"two-up of two pages: simplex", {2, -1, 2, 1, false, Portrait(9, 2100, 2970)}, 9, 2, 2100, 2970, 1, 2, false},
      {"rotated landscape two-up becomes halves",
       {2, -1, 5, 1, false, Landscape(9, 2100, 2970, true)},
       9,
       1,
       2100,
       2970,
       3,
       3,
       false},
      {"halves of a rotated landscape become two-up",
       {3, -1, 5, 1, false, Landscape(9, 2100, 2970, true)},
       9,
       1,
       2100,
       2970,
       3,
       2,
       false},
      {"four-up of four pages: simplex", {4, -1, 4, 1, false, Portrait(9, 2100, 2970)}, 9, 1, 2100, 2970, 1, 4, false},
      {"four-up of five pages keeps duplex",
       {8, -1, 5, 1, false, Portrait(9, 2100, 2970)},
       9,
       1,
       2100,
       2970,
       2,
       8,
       false},
      {"eight-up never falls back to simplex",
       {12, -1, 1, 1, false, Portrait(9, 2100, 2970)},
       9,
       2,
       2100,
       2970,
       3,
       12,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = FitDevMode(BaseMode(), Papers(), c.req);
    EXPECT_EQ(r.mode.dm.dmPaperSize, c.paper);
    EXPECT_EQ(r.mode.dm.dmOrientation, c.orientation);
    EXPECT_EQ(r.mode.dm.dmPaperWidth, c.width);
    EXPECT_EQ(r.mode.dm.dmPaperLength, c.length);
    EXPECT_EQ(r.mode.dm.dmDuplex, c.duplex);
    EXPECT_EQ(r.layout_mode, c.mode);
    EXPECT_EQ(r.paper_chosen, c.chosen);
    EXPECT_TRUE(r.mode.dm.dmFields & win::DM_PAPERSIZE);
  }
}

TEST(PrintRules, CopiesInDevMode) {
  FitRequest req{0, -1, 4, 3, true, Portrait(9, 2100, 2970)};
  auto collated = FitDevMode(BaseMode(), Papers(), req);
  EXPECT_EQ(collated.mode.dm.dmCopies, 1);
  EXPECT_EQ(collated.copies.passes, 3);
  req.collate = false;
  auto plain = FitDevMode(BaseMode(), Papers(), req);
  EXPECT_EQ(plain.mode.dm.dmCopies, 3);
  EXPECT_EQ(plain.copies.passes, 1);
}

TEST(PrintRules, PrivateDuplexModel) {
  auto model = [](std::uint8_t on, std::uint8_t binding) {
    spool::DevMode m = BaseMode(kPrivateDuplexModel);
    m.dm.dmSpecVersion = 0x400;
    m.dm.dmDuplex = 1;
    m.extra.assign(0x110 - sizeof(win::DEVMODEA), 0);
    m.SetByte(kPrivateDuplexOnByte, on);
    m.SetByte(kPrivateBindingByte, binding);
    return m;
  };
  struct Case {
    std::uint8_t on, binding;
    int mode;
    win::SHORT duplex;
    std::uint8_t binding_after;
  } cases[] = {
      {1, 0, 0, 3, 0},   // switch on: duplex horizontal, no turn
      {0, 0, 0, 1, 0},   // switch off: simplex
      {1, 1, 2, 3, 3},   // turned sheet raises the binding byte by 2 (duplex itself stays)
      {1, 3, 13, 3, 1},  // ... and lowers 2 or more by 2
      {0, 1, 2, 1, 1},   // switch off: binding untouched
  };
  for (const auto& c : cases) {
    FitRequest req{c.mode, -1, 9, 1, false, Portrait(9, 2100, 2970)};
    auto r = FitDevMode(model(c.on, c.binding), Papers(), req);
    std::uint8_t b = 0;
    ASSERT_TRUE(r.mode.GetByte(kPrivateBindingByte, b));
    EXPECT_EQ(r.mode.dm.dmDuplex, c.duplex) << int(c.on) << "/" << c.mode;
    EXPECT_EQ(b, c.binding_after) << int(c.on) << "/" << c.mode;
  }
  // Another version of the record, or a private part too short, is not the model's.
  spool::DevMode other = model(1, 0);
  other.dm.dmSpecVersion = 0x401;
  EXPECT_FALSE(IsPrivateDuplexModel(other));
  spool::DevMode shorter = BaseMode(kPrivateDuplexModel);
  shorter.dm.dmSpecVersion = 0x400;
  shorter.dm.dmDuplex = 2;
  auto r = FitDevMode(shorter, Papers(), FitRequest{0, -1, 9, 1, false, Portrait(9, 2100, 2970)});
  EXPECT_EQ(r.mode.dm.dmDuplex, 1);
}

TEST(PrintRules, DevModeForEachPage) {
  auto fitted = FitDevMode(BaseMode(), Papers(), FitRequest{0, -1, 2, 1, false, Portrait(9, 2100, 2970)});
  auto next = DevModeForPage(fitted.mode, Landscape(8, 2970, 4200));
  EXPECT_EQ(next.dm.dmPaperSize, 8);
  EXPECT_EQ(next.dm.dmOrientation, 2);
  EXPECT_EQ(next.dm.dmPaperWidth, 2970);
  EXPECT_EQ(next.dm.dmPaperLength, 4200);
  // A page on a paper of its own keeps its width and length as they are.
  auto custom = DevModeForPage(next, Portrait(256, 1000, 1500));
  EXPECT_EQ(custom.dm.dmPaperSize, 256);
  EXPECT_EQ(custom.dm.dmPaperWidth, 1000);
  EXPECT_EQ(custom.dm.dmPaperLength, 1500);
  auto back = DevModeForPage(next, Portrait(9, 2100, 2970));
  EXPECT_EQ(back.dm.dmOrientation, 1);
  EXPECT_EQ(back.dm.dmPaperLength, 2970);
  EXPECT_EQ(back.dm.dmPaperWidth, 2100);
}

TEST(PrintRules, PageFactsFromAttributeWord) {
  auto f = PageFactsFromAttributes(0x8000 | 0x4000 | 9, 2970, 2100);
  EXPECT_EQ(f.paper_code, 9);
  EXPECT_TRUE(f.landscape);
  EXPECT_TRUE(f.rotated);
  EXPECT_EQ(f.first_size, 2970);
  auto g = PageFactsFromAttributes(8, 4200, 2970);
  EXPECT_FALSE(g.landscape);
  EXPECT_FALSE(g.rotated);
}

}  // namespace
}  // namespace zv::printing
