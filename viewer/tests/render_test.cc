// Page rendering and sheet drawing, checked at probe points of memory bitmaps. Pages are
// recorded with the metafile recorder; documents are filled through AppendData.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "jobdoc/private_records.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/gdi/surfaces.h"
#include "platform/testing/temp_root.h"
#include "viewer/render.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kGrey = 0x808080;
constexpr std::uint32_t kRed = 0xFF0000, kBlue = 0x0000FF;  // as MemoryBitmap::Pixel gives them

// Records an A4 page (portrait or landscape reference device at 300 dpi) drawn by `draw`.
Bytes RecordPage(bool landscape, const std::function<void(gdi::MetafileRecorder&)>& draw) {
  gdi::MetafileRecorder::Options o;
  o.device = landscape ? win::SIZEL{3508, 2480} : win::SIZEL{2480, 3508};
  o.millimeters = landscape ? win::SIZEL{297, 210} : win::SIZEL{210, 297};
  o.frame = landscape ? win::RECTL{0, 0, 29700, 21000} : win::RECTL{0, 0, 21000, 29700};
  gdi::MetafileRecorder rec(o);
  draw(rec);
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok()) << bytes.status().ToString();
  return bytes.ok() ? *bytes : Bytes{};
}

// A page filled black edge to edge.
Bytes BlackPage(bool landscape) {
  return RecordPage(landscape, [&](gdi::MetafileRecorder& r) {
    r.SelectBrush(gdi::Brush::Solid(0));
    r.SelectStockObject(win::NULL_PEN);
    r.Rectangle(0, 0, landscape ? 3509 : 2481, landscape ? 2481 : 3509);
  });
}

// A portrait page with a black square in its top-left quarter.
Bytes CornerPage() {
  return RecordPage(false, [&](gdi::MetafileRecorder& r) {
    r.SelectBrush(gdi::Brush::Solid(0));
    r.SelectStockObject(win::NULL_PEN);
    r.Rectangle(0, 0, 1240, 1754);
  });
}

std::unique_ptr<gdi::MemoryBitmap> Bitmap(int w, int h, std::uint32_t fill = kWhite) {
  auto b = gdi::MemoryBitmap::Create(w, h, 24, 96);
  EXPECT_TRUE(b.ok());
  if (fill != kWhite) {
    const win::COLORREF c = win::RGB((fill >> 16) & 0xFF, (fill >> 8) & 0xFF, fill & 0xFF);
    (*b)->dc().FillRgn(gdi::Region(RECT{0, 0, w, h}), gdi::Brush::Solid(c));
  }
  return std::move(*b);
}

void Add(CViewerDoc& doc, const Bytes& page, bool landscape = false) {
  const std::uint16_t attr = std::uint16_t(9 | (landscape ? jobdoc::kAttrLandscape : 0));
  ASSERT_EQ(doc.AppendData(0x8000, attr, 2100, 2970, page, 0, 0), 1);
}

// The box holding every pixel that is not white, or only those of colour `only` (empty:
// right < left).
RECT InkBox(const gdi::MemoryBitmap& b, const RECT& within, std::int64_t only = -1) {
  RECT box{within.right, within.bottom, within.left - 1, within.top - 1};
  for (int y = within.top; y < within.bottom; ++y) {
    for (int x = within.left; x < within.right; ++x) {
      const std::uint32_t p = b.Pixel(x, y);
      if (only >= 0 ? p == std::uint32_t(only) : p != kWhite) {
        box.left = std::min<int>(box.left, x);
        box.top = std::min<int>(box.top, y);
        box.right = std::max<int>(box.right, x);
        box.bottom = std::max<int>(box.bottom, y);
      }
    }
  }
  return box;
}

class RenderTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
};

TEST_F(RenderTest, LandscapePageIsCentredInASquare) {
  CViewerDoc doc;
  Add(doc, BlackPage(true), true);
  auto bmp = Bitmap(400, 400, kGrey);
  const RECT r{0, 0, 400, 400};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  const int h = 400 * 2100 / 2970, top = (400 - h) / 2;  // 282 high from 59
  struct Probe {
    int x, y;
    std::uint32_t want;
  } probes[] = {
      {200, top - 3, kGrey},     {200, top + 2, kBlack}, {200, top + h - 3, kBlack},
      {200, top + h + 2, kGrey}, {1, 200, kBlack},       {398, 200, kBlack},
  };
  for (const Probe& p : probes) EXPECT_EQ(bmp->Pixel(p.x, p.y), p.want) << p.x << "," << p.y;
}

TEST_F(RenderTest, NothingIsDrawnForLockedBadOrMissingPages) {
  CViewerDoc doc;
  Bytes bad = BlackPage(false);
  bad[40] = 'X';  // the header's signature
  ASSERT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, bad, 0, 0), 1);
  Add(doc, BlackPage(false));
  auto bmp = Bitmap(100, 100, kGrey);
  const RECT r{0, 0, 100, 100}, empty{10, 10, 10, 50};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  EXPECT_EQ(doc.page(0)->use_count(), 0);
  doc.RenderPage(bmp->dc(), 96, 0, 5, &r);
  doc.RenderPage(bmp->dc(), 96, 0, -1, &r);
  doc.RenderPage(bmp->dc(), 96, 0, 1, nullptr);
  doc.RenderPage(bmp->dc(), 0, 0, 1, &empty);
  doc.set_view_password_flag(true);
  doc.RenderPage(bmp->dc(), 96, 0, 1, &r);
  EXPECT_EQ(InkBox(*bmp, r).right, 99) << "still all grey";
  EXPECT_EQ(bmp->Pixel(50, 50), kGrey);
  doc.set_view_password_flag(false);
  doc.RenderPage(bmp->dc(), 0, 0, 1, &r);  // resolution 0 is no fault
  EXPECT_EQ(bmp->Pixel(50, 50), kBlack);
}

TEST_F(RenderTest, PrivateTextRecordsDrawInsideTheirBoxes) {
  // A text run at (400, 400) of 100-unit characters, a spread run 2000 units wide, and a
  // character list; the page is drawn at a tenth of its reference device.
  jobdoc::TextRun run;
  run.x = 400;
  run.y = 400;
  run.text = "ABC";
  jobdoc::TextRun spread = run;
  spread.y = 1000;
  spread.text = "AB";
  spread.width = 2000;
  std::vector<jobdoc::CharListItem> chars = {{400, 1600, 'X', 0, 0}, {600, 1600, 'Y', 0, 0}};
  Bytes page = RecordPage(false, [&](gdi::MetafileRecorder& r) {
    EXPECT_TRUE(r.AppendRecord(jobdoc::BuildFontScaleRecord(100)).ok());
    r.SelectFont(gdi::Font{gdi::MakeLogFont("Arial", -100)});
    EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildTextRunRecord(run)).ok());
    EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildTextRunRecord(spread)).ok());
    EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildCharListRecord(chars)).ok());
  });
  CViewerDoc doc;
  Add(doc, page);
  auto bmp = Bitmap(248, 351);
  const RECT r{0, 0, 248, 351};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  struct Box {
    const char* what;
    RECT search, inside;
    int min_right;
  } boxes[] = {
      {"run", {0, 30, 248, 80}, {39, 39, 80, 52}, 50},
      {"spread run", {0, 90, 248, 140}, {39, 99, 242, 112}, 130},
      {"character list", {0, 150, 248, 200}, {39, 159, 75, 172}, 60},
  };
  for (const Box& b : boxes) {
    RECT ink = InkBox(*bmp, b.search);
    ASSERT_GE(ink.right, ink.left) << b.what << ": no ink";
    EXPECT_GE(ink.left, b.inside.left) << b.what;
    EXPECT_GE(ink.top, b.inside.top) << b.what;
    EXPECT_LE(ink.right, b.inside.right) << b.what;
    EXPECT_LE(ink.bottom, b.inside.bottom) << b.what;
    EXPECT_GE(ink.right, b.min_right) << b.what;
  }
}

TEST_F(RenderTest, LongSpreadRunStillDraws) {
  // A damaged page may hold a text run of tens of thousands of characters; spreading it must
  // not measure the text once per character.
  jobdoc::TextRun run;
  run.x = 400;
  run.y = 400;
  run.text = std::string(60000, 'A');
  run.width = 2000;
  Bytes page = RecordPage(false, [&](gdi::MetafileRecorder& r) {
    EXPECT_TRUE(r.AppendRecord(jobdoc::BuildFontScaleRecord(100)).ok());
    r.SelectFont(gdi::Font{gdi::MakeLogFont("Arial", -100)});
    EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildTextRunRecord(run)).ok());
  });
  CViewerDoc doc;
  Add(doc, page);
  auto bmp = Bitmap(248, 351);
  const RECT r{0, 0, 248, 351};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  const RECT ink = InkBox(*bmp, RECT{0, 30, 248, 80});
  EXPECT_GE(ink.right, ink.left) << "no ink";
}

TEST_F(RenderTest, FarOutTextCoordinatesDrawNothingAndNeverOverflow) {
  // Private text records of a damaged page at the ends of the 32-bit range, on an upright
  // page and on one whose y axis is flipped.
  constexpr std::int32_t kMax = INT32_MAX, kMin = INT32_MIN;
  std::vector<jobdoc::CharListItem> chars = {{kMax, kMax, 'X', 0, 0}, {kMin, kMin, 'Y', 0, 0}, {kMax, kMin, 'Z', 0, 0}};
  jobdoc::TextRun run;
  run.x = kMax;
  run.y = kMin;
  run.text = "AB";
  run.width = 100;
  jobdoc::TextRunExtension ext{};
  ext.clip = win::RECT{0, kMin, 10, kMin + 5};
  run.extension = ext;
  for (const bool flipped : {false, true}) {
    Bytes page = RecordPage(false, [&](gdi::MetafileRecorder& r) {
      EXPECT_TRUE(r.AppendRecord(jobdoc::BuildFontScaleRecord(100)).ok());
      r.SelectFont(gdi::Font{gdi::MakeLogFont("Arial", -100)});
      if (flipped) r.SetWorldTransform(win::XFORM{1, 0, 0, -1, 0, 0});
      EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildCharListRecord(chars)).ok());
      EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildTextRunRecord(run)).ok());
    });
    CViewerDoc doc;
    Add(doc, page);
    auto bmp = Bitmap(248, 351);
    const RECT r{0, 0, 248, 351};
    doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
    const RECT ink = InkBox(*bmp, r);
    EXPECT_LT(ink.right, ink.left) << "flipped " << flipped;
  }
}

TEST_F(RenderTest, OnePixelCharacterBecomesAGreyBox) {
  std::vector<jobdoc::CharListItem> chars = {{1000, 1000, 'W', 0, 0}};
  Bytes page = RecordPage(false, [&](gdi::MetafileRecorder& r) {
    r.SelectFont(gdi::Font{gdi::MakeLogFont("Arial", -100)});
    EXPECT_TRUE(r.AppendRecord(*jobdoc::BuildCharListRecord(chars)).ok());
  });
  CViewerDoc doc;
  Add(doc, page);
  auto bmp = Bitmap(25, 36);  // a hundredth of the reference device: the 'W' is 1 pixel
  const RECT r{0, 0, 25, 36};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  EXPECT_EQ(bmp->Pixel(10, 10), 0xC0C0C0u);
}

TEST_F(RenderTest, TurnedPagesKeepTheirOrientation) {
  struct Case {
    std::uint16_t rotation;
    int black_x, black_y;  // a point of the quarter where the top-left square lands
    int white_x, white_y;
  } cases[] = {
      {kUpright, 40, 60, 150, 60},
      {kTurnClockwise, 150, 60, 40, 60},
      {kTurnCounterClockwise, 40, 220, 40, 60},
  };
  for (const Case& c : cases) {
    CViewerDoc doc;
    Add(doc, CornerPage());
    doc.page(0)->SetRotation(c.rotation);
    auto bmp = Bitmap(210, 297, kGrey);
    const RECT r{0, 0, 210, 297};
    doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
    EXPECT_EQ(bmp->Pixel(c.black_x, c.black_y), kBlack) << c.rotation;
    EXPECT_EQ(bmp->Pixel(c.white_x, c.white_y), kWhite) << c.rotation;
    EXPECT_NE(bmp->Pixel(205, 292), kGrey) << "the turned page fills its rectangle";
  }
}

TEST_F(RenderTest, TurnedPageOutsideItsBitmapIsReportedOnce) {
  CViewerDoc doc;
  Add(doc, CornerPage());
  doc.page(0)->SetRotation(kTurnClockwise);
  int reports = 0;
  doc.SetFailureReporter([&](std::string_view m) {
    ++reports;
    EXPECT_EQ(m, kRotationFailedMessage);
  });
  auto bmp = Bitmap(50, 50);
  const RECT huge{0, 0, 60000, 80000};  // no bitmap can be made at this size
  for (int i = 0; i < 3; ++i) doc.RenderPage(bmp->dc(), 96, 0, 0, &huge);
  EXPECT_EQ(reports, 1);
}

TEST_F(RenderTest, FixFontTable) {
  auto bmp = Bitmap(10, 10);
  gdi::DeviceContext& dc = bmp->dc();
  struct Case {
    const char* face;
    win::BYTE charset;
    win::LONG height, escapement;
    FixFontMode mode;
    bool changed;
    const char* new_face;  // when changed
    win::BYTE new_charset;
    win::LONG new_height;
  } cases[] = {
      {"FixedSys", 0, 0, 0, FixFontMode::kPlain, true, "ＭＳ ゴシック", 0, -40},
      {"System", 0, -20, 0, FixFontMode::kPlain, true, "ＭＳ ゴシック", 0, -20},
      {"", 0, 0, 0, FixFontMode::kPlain, true, "ＭＳ ゴシック", 0, -40},
      {"Arial", 0, -20, 0, FixFontMode::kPlain, false, "", 0, 0},
      {"Arial", 0, -20, 900, FixFontMode::kPlain, true, "Arial", 0, -20},
      {"Arial", 0, -20, 0, FixFontMode::kCharset, true, "Arial", 128, -20},
      {"Batang", 129, -20, 0, FixFontMode::kCharset, true, "ＭＳ ゴシック", 128, -20},
      {"Symbol", 2, -20, 0, FixFontMode::kCharset, false, "", 0, 0},
  };
  for (const Case& c : cases) {
    win::LOGFONTW lf = gdi::MakeLogFont(c.face, c.height, 400, false, c.charset);
    lf.lfEscapement = c.escapement;
    const gdi::Font font{lf};
    dc.SelectFont(font);
    std::optional<win::LOGFONTW> made;
    EXPECT_EQ(FixFont(dc, font, &made, 40, c.mode), c.changed) << c.face;
    if (!c.changed) {
      EXPECT_FALSE(made.has_value());
      continue;
    }
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(gdi::FaceName(made->lfFaceName[0] ? *made : lf), c.new_face) << c.face;
    EXPECT_EQ(made->lfCharSet, c.new_charset) << c.face;
    EXPECT_EQ(made->lfHeight, c.new_height) << c.face;
    EXPECT_EQ(made->lfOrientation, c.escapement) << c.face;
    EXPECT_EQ(gdi::FaceName(dc.GetCurrentFont().lf), c.new_face) << "selected";
  }
}

TEST_F(RenderTest, ThinShapesNeverVanish) {
  // A rectangle of no height, and a pattern blit of no height with a black brush, each at
  // a tenth of the reference device.
  Bytes page = RecordPage(false, [&](gdi::MetafileRecorder& r) {
    r.Rectangle(100, 500, 2000, 500);
    r.SelectBrush(gdi::Brush::Solid(0));
    r.PatBlt(100, 1000, 2000, 0, win::PATCOPY);
  });
  CViewerDoc doc;
  Add(doc, page);
  auto bmp = Bitmap(248, 351);
  const RECT r{0, 0, 248, 351};
  doc.RenderPage(bmp->dc(), 96, 0, 0, &r);
  RECT line = InkBox(*bmp, RECT{0, 40, 248, 60});
  EXPECT_LE(line.left, 12);
  EXPECT_GE(line.right, 190);
  EXPECT_LE(line.bottom - line.top, 1);
  RECT bar = InkBox(*bmp, RECT{0, 90, 248, 110}, 0xA0A0A0);
  EXPECT_LE(bar.left, 12) << "the bar shows as a grey line";
  EXPECT_GE(bar.right, 190);
}

TEST(TurnPixelsTest, EveryPixelLandsInsideTheTurnedImage) {
  // 3 x 2 upright: 0 1 2 / 3 4 5.
  const std::vector<std::uint32_t> up = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(TurnPixels(up, 3, 2, kTurnClockwise), (std::vector<std::uint32_t>{3, 0, 4, 1, 5, 2}));
  EXPECT_EQ(TurnPixels(up, 3, 2, kTurnCounterClockwise), (std::vector<std::uint32_t>{2, 5, 1, 4, 0, 3}));
  // Too few pixels for the size: a white image, nothing read past the input.
  EXPECT_EQ(TurnPixels({1, 2}, 3, 2, kTurnClockwise), std::vector<std::uint32_t>(6, 0xFFFFFF));
}

class SheetTest : public RenderTest {
 protected:
  // A4 paper with 10 mm margins all round, pages moved 5 mm right and down.
  void SetUpDoc(CViewerDoc& doc, int pages) {
    for (int i = 0; i < pages; ++i) Add(doc, RecordPage(false, [](gdi::MetafileRecorder&) {}));
    doc.SetPaperRecord(9, "A4", 2100, 2970, {{9, 100, 100, 100, 100}});
    doc.SetPrintOffsets(100.0f, 5.0f, 5.0f);
  }
};

TEST_F(SheetTest, FramesAndSeparatorsStandWhereTheLayoutPutsThem) {
  CViewerDoc doc;
  SetUpDoc(doc, 3);
  ASSERT_EQ(doc.InsertBlankPage(2), 1);  // slot 2 (top right) is blank
  auto bmp = Bitmap(420, 594);
  const RECT target{0, 0, 420, 594};
  const SheetLayout layout{4, 1, 3, 2, 2, 1};
  doc.DrawSheetPages(bmp->dc(), 96, 0, 0, &target, &layout);
  // Sheet 420 x 594, cells 210 x 297, margins 20, offsets 10: page rectangles (30, 30) to
  // (200, 270) in each cell; frames on their inner edge.
  struct Probe {
    const char* what;
    int x, y;
    std::uint32_t want;
  } probes[] = {
      {"slot 0 top frame", 100, 30, kRed},
      {"slot 0 left frame", 30, 100, kRed},
      {"slot 0 right frame", 199, 100, kRed},
      {"slot 0 bottom frame", 100, 269, kRed},
      {"slot 0 inside", 100, 100, kWhite},
      {"slot 1 top frame (below slot 0)", 100, 297 + 30, kRed},
      {"slot 3 left frame", 210 + 30, 297 + 100, kRed},
      {"blank slot 2 has no frame", 210 + 30, 100, kWhite},
      {"column separator", 209, 150, kBlue},
      {"row separator", 100, 296, kBlue},
      {"outside the printable area", 10, 150, kWhite},
  };
  for (const Probe& p : probes) EXPECT_EQ(bmp->Pixel(p.x, p.y), p.want) << p.what;
  // The blank page's text is grey ink centred in its rectangle.
  RECT ink = InkBox(*bmp, RECT{241, 31, 398, 269});
  ASSERT_GE(ink.right, ink.left) << "no blank-page text";
  EXPECT_NEAR((ink.left + ink.right) / 2, (240 + 409) / 2, 4);
  EXPECT_NEAR((ink.top + ink.bottom) / 2, (30 + 269) / 2, 4);
}

TEST_F(SheetTest, HeaderRoomAndDottedFrameFollowTheNumberingRule) {
  struct Case {
    int rule;
    std::uint16_t first;
    bool room;
  } cases[] = {{1, 2, true}, {0, 0, true}, {0, 2, false}, {-1, 0, false}};
  for (const Case& c : cases) {
    CViewerDoc doc;
    SetUpDoc(doc, 4);
    doc.SetPrintOffsets(100.0f, 0.0f, 0.0f);
    doc.SetHeaderFooter(0, "", "<ページ>/<総ページ>", "", c.rule);
    doc.SetHeaderFooter(1, "", "", "", c.rule);
    auto bmp = Bitmap(420, 594);
    const RECT target{0, 0, 420, 594};
    const SheetLayout layout{2, 1, 0, 1, 2, 1};
    doc.DrawSheetPages(bmp->dc(), 96, 0, c.first, &target, &layout);
    int hh = 0, fh = 0, rule = 0;
    doc.GetSheetTextHeights(&hh, &fh, &rule);
    ASSERT_GT(hh, 0);
    EXPECT_EQ(fh, 0);
    // The dotted frame's left edge starts below the header only when the header shows.
    int first_ink = -1;
    for (int y = 21; y < 60 && first_ink < 0; ++y) {
      if (bmp->Pixel(20, y) != kWhite) first_ink = y;
    }
    if (c.room) {
      EXPECT_GE(first_ink, 20 + hh - 1) << "rule " << c.rule;
      RECT ink = InkBox(*bmp, RECT{150, 20, 270, 20 + hh});
      EXPECT_GE(ink.right, ink.left) << "header text";
    } else {
      EXPECT_LE(first_ink, 23) << "rule " << c.rule;
    }
  }
}

TEST_F(SheetTest, HeaderAndFooterNumberTheSheets) {
  // The third sheet of a 10-page document shown two pages per sheet, drawn onto a recorder
  // so the texts and their places can be read back.
  CViewerDoc doc;
  SetUpDoc(doc, 10);
  doc.SetHeaderFooter(0, "", "<ページ>/<総ページ>", "", 1);
  doc.SetHeaderFooter(1, "L", "", "F<ページ>", 1);
  auto reference = Bitmap(10, 10);
  gdi::MetafileRecorder::Options o;
  o.device = win::SIZEL{420, 594};
  o.millimeters = win::SIZEL{210, 297};
  o.reference = &reference->dc();
  gdi::MetafileRecorder rec(o);
  const RECT target{0, 0, 420, 594};
  const SheetLayout layout{2, 1, 0, 1, 2, 1};
  doc.DrawSheetPages(rec, 96, 0, 4, &target, &layout);
  auto bytes = rec.Close();
  ASSERT_TRUE(bytes.ok());
  auto mf = emf::Metafile::Parse(*bytes);
  ASSERT_TRUE(mf.ok());
  std::map<std::u16string, win::POINTL> texts;
  ASSERT_TRUE(emf::ForEachRecord(*mf, [&](const emf::Record& r) {
                if (r.type == win::EMR_EXTTEXTOUTW) {
                  auto t = emf::ReadText(r);
                  if (t.ok()) texts[t->Utf16()] = t->reference;
                }
                return Status::Ok();
              }).ok());
  // Printable area (20, 20) to (399, 573).
  ASSERT_TRUE(texts.count(u"3/5"));
  ASSERT_TRUE(texts.count(u"F3"));
  ASSERT_TRUE(texts.count(u"L"));
  int hh = 0, fh = 0;
  doc.GetSheetTextHeights(&hh, &fh, nullptr);
  EXPECT_EQ(texts[u"3/5"].y, 20);
  EXPECT_NEAR(texts[u"3/5"].x, 20 + (399 - 20) / 2 - 10, 12);
  EXPECT_EQ(texts[u"L"].x, 20);
  EXPECT_EQ(texts[u"L"].y, 573 - fh);
  EXPECT_GT(texts[u"F3"].x, 399 - 30);
  EXPECT_EQ(texts[u"F3"].y, 573 - fh);
}

TEST_F(SheetTest, ZeroSizesDrawNothingAndNeverFault) {
  CViewerDoc doc;
  SetUpDoc(doc, 2);
  auto bmp = Bitmap(50, 50);
  const RECT target{0, 0, 50, 50}, flat{0, 0, 50, 0};
  const SheetLayout zero_grid{4, 1, 3, 0, 0, 1};
  doc.DrawSheetPages(bmp->dc(), 96, 0, 0, &target, &zero_grid);
  doc.DrawSheetPages(bmp->dc(), 0, 0, 0, &flat, nullptr);
  doc.DrawSheetPages(bmp->dc(), 96, 0, 9, &target, nullptr);
  doc.SetPaperRecord(9, "", 0, 0, {});
  doc.DrawSheetPages(bmp->dc(), 96, 0, 0, &target, &zero_grid);
  doc.SetPaperRecord(-1, "", 0, 0, {});
  doc.DrawSheetPages(bmp->dc(), 96, 0, 0, &target, nullptr);
  // A null layout shows one page, fitted to its metafile, framed in red.
  EXPECT_EQ(InkBox(*bmp, target).right > 0, true);
}

TEST_F(SheetTest, TurnedPagesOnAFourUpSheet) {
  struct Case {
    std::uint16_t rotation;
    bool black_right;  // the page's top-left square shows at the right of its image
  } cases[] = {{kTurnClockwise, true}, {kTurnCounterClockwise, false}};
  for (const Case& c : cases) {
    CViewerDoc doc;
    for (int i = 0; i < 4; ++i) Add(doc, CornerPage());
    doc.SetPaperRecord(9, "A4", 2100, 2970, {});
    doc.page(0)->SetRotation(c.rotation);
    auto bmp = Bitmap(420, 594);
    const RECT target{0, 0, 420, 594};
    const SheetLayout layout{4, 1, 0, 2, 2, 1};
    doc.DrawSheetPages(bmp->dc(), 96, 0, 0, &target, &layout);
    // Page 0 sits in the top-left cell (210 x 297); its turned image is centred vertically.
    RECT ink = InkBox(*bmp, RECT{1, 1, 208, 295}, kBlack);
    ASSERT_GE(ink.right, ink.left);
    const int mid = (ink.left + ink.right) / 2;
    if (c.black_right) {
      EXPECT_GT(mid, 105) << c.rotation;
    } else {
      EXPECT_LT(mid, 105) << c.rotation;
    }
  }
}

}  // namespace
}  // namespace zv::viewer
