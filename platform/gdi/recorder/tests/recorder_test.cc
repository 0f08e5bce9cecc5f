#include "platform/gdi/recorder/recorder.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/emf/builder.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"

namespace zv::gdi {
namespace {

using namespace win;

MetafileRecorder::Options SmallDevice() {
  MetafileRecorder::Options o;
  o.device = {1000, 2000};
  o.millimeters = {100, 200};
  return o;
}

struct Parsed {
  std::vector<std::uint8_t> bytes;
  emf::Header header;
  std::vector<std::uint32_t> types;
  std::vector<std::vector<std::uint8_t>> records;
};

Parsed Finish(MetafileRecorder& rec) {
  Parsed p;
  auto bytes = rec.Close();
  EXPECT_TRUE(bytes.ok()) << bytes.status().ToString();
  if (!bytes.ok()) return p;
  p.bytes = std::move(*bytes);
  auto mf = emf::Metafile::Parse(p.bytes);
  EXPECT_TRUE(mf.ok()) << mf.status().ToString();
  if (!mf.ok()) return p;
  EXPECT_TRUE(emf::ValidateAll(*mf).ok()) << emf::ValidateAll(*mf).ToString();
  p.header = mf->header();
  auto rd = mf->records();
  emf::Record r;
  while (rd.Next(&r)) {
    p.types.push_back(r.type);
    p.records.emplace_back(r.bytes.begin(), r.bytes.end());
  }
  return p;
}

emf::Record At(const Parsed& p, std::size_t i) {
  auto r = emf::MakeRecord(p.records[i], p.header.handles);
  EXPECT_TRUE(r.ok());
  return *r;
}

Pen SolidPen(COLORREF c, int width = 0) {
  Pen p;
  p.style = PS_SOLID;
  p.width = width;
  p.color = c;
  return p;
}

TEST(MetafileRecorder, DrawingParsesBackToTheRecordsWritten) {
  MetafileRecorder rec(SmallDevice());
  const Pen red = SolidPen(RGB(255, 0, 0)), blue = SolidPen(RGB(0, 0, 255));
  rec.SelectPen(red);
  rec.SelectPen(blue);
  rec.SelectPen(red);              // reuses its handle: no second create record
  rec.SelectBrush(Brush::Null());  // equal to a stock object: the stock bit, no create
  EXPECT_EQ(rec.SaveDC(), 1);
  rec.SetTextColor(RGB(1, 2, 3));
  rec.SelectFont(Font{MakeLogFont("IPAGothic", -20)});
  EXPECT_TRUE(rec.RestoreDC(-1));
  EXPECT_EQ(rec.GetTextColor(), 0u);
  EXPECT_EQ(rec.GetCurrentPen(), red);
  EXPECT_TRUE(rec.Rectangle(10, 20, 110, 70));
  const POINT small_pts[] = {{0, 0}, {50, 5}, {60, 300}};
  const POINT big_pts[] = {{0, 0}, {70000, 5}};
  EXPECT_TRUE(rec.Polyline(small_pts));
  EXPECT_TRUE(rec.Polyline(big_pts));
  const int dx[] = {9, 9, 9};
  EXPECT_TRUE(rec.ExtTextOutW(100, 400, 0, nullptr, u"abc", dx));
  const std::uint8_t note[] = {'n', 'o', 't', 'e', '!'};
  EXPECT_TRUE(rec.GdiComment(note));
  auto dib = emf::MakeTestDib(4, 3, 24);
  EXPECT_TRUE(rec.StretchDIBits(500, 600, 8, 6, 0, 0, 4, 3, DibRef{dib.info, dib.bits}, SRCCOPY));
  EXPECT_TRUE(rec.PatBlt(0, 900, 10, 1, PATCOPY));

  const Parsed p = Finish(rec);
  const std::vector<std::uint32_t> want = {
      EMR_HEADER,       EMR_CREATEPEN,    EMR_SELECTOBJECT,  EMR_CREATEPEN,    EMR_SELECTOBJECT,
      EMR_SELECTOBJECT, EMR_SELECTOBJECT, EMR_SAVEDC,        EMR_SETTEXTCOLOR, EMR_EXTCREATEFONTINDIRECTW,
      EMR_SELECTOBJECT, EMR_RESTOREDC,    EMR_RECTANGLE,     EMR_POLYLINE16,   EMR_POLYLINE,
      EMR_EXTTEXTOUTW,  EMR_GDICOMMENT,   EMR_STRETCHDIBITS, EMR_BITBLT,       EMR_EOF};
  EXPECT_EQ(p.types, want);
  EXPECT_EQ(p.header.records, want.size());
  EXPECT_EQ(p.header.bytes, p.bytes.size());
  EXPECT_EQ(p.header.handles, 4);  // two pens and a font
  EXPECT_EQ(p.header.device.cy, 2000);

  EXPECT_EQ(*emf::ReadObjectIndex(At(p, 2)), 1u);
  EXPECT_EQ(*emf::ReadObjectIndex(At(p, 5)), 1u);
  EXPECT_EQ(*emf::ReadObjectIndex(At(p, 6)), ENHMETA_STOCK_OBJECT | NULL_BRUSH);
  EXPECT_EQ(emf::ReadFixed<EMRRESTOREDC>(At(p, 11))->iRelative, -1);
  auto text = emf::ReadText(At(p, 15));
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->Utf16(), u"abc");
  EXPECT_EQ(text->dx[1], 9);
  auto comment = emf::ReadComment(At(p, 16));
  ASSERT_TRUE(comment.ok() && comment->data);
  EXPECT_EQ(comment->data->size(), 5u);
  auto bits = emf::ReadStretchDib(At(p, 17));
  ASSERT_TRUE(bits.ok() && bits->source);
  EXPECT_EQ(bits->source->width, 4u);
  EXPECT_EQ(bits->rec.cxDest, 8);
  auto blt = emf::ReadBlt(At(p, 18));
  ASSERT_TRUE(blt.ok());
  EXPECT_FALSE(blt->source);

  // Bounds: everything drawn, the far polyline point included (1-pixel pens widen by 1).
  EXPECT_EQ(p.header.bounds.left, -1);
  EXPECT_EQ(p.header.bounds.right, 70001);
  EXPECT_EQ(p.header.bounds.bottom, 900);
}

TEST(MetafileRecorder, BoundsFollowTheMappingAndQueriesAnswerFromTheState) {
  MetafileRecorder rec(SmallDevice());
  rec.SelectStockObject(NULL_PEN);
  EXPECT_EQ(rec.SetMapMode(MM_ANISOTROPIC), MM_TEXT);
  EXPECT_TRUE(rec.SetWindowExtEx(100, 100));
  EXPECT_TRUE(rec.SetViewportExtEx(200, 300));
  EXPECT_TRUE(rec.SetViewportOrgEx(5, 7));
  POINT pts[] = {{10, 10}};
  rec.LPtoDP(pts);
  EXPECT_EQ(pts[0].x, 25);
  EXPECT_EQ(pts[0].y, 37);
  rec.DPtoLP(pts);
  EXPECT_EQ(pts[0].x, 10);
  EXPECT_TRUE(rec.Rectangle(10, 10, 20, 20));  // device 25..45 x 37..67, right/bottom excluded

  EXPECT_EQ(rec.IntersectClipRect(0, 0, 50, 50), SIMPLEREGION);
  RECT box;
  EXPECT_EQ(rec.GetClipBox(&box), SIMPLEREGION);
  EXPECT_EQ(box.right, 50);
  EXPECT_EQ(box.bottom, 50);
  EXPECT_EQ(rec.ExcludeClipRect(0, 0, 10, 50), SIMPLEREGION);
  EXPECT_EQ(rec.GetClipBox(&box), SIMPLEREGION);
  EXPECT_EQ(box.left, 10);

  // A metric mode turns y upwards: 0.1 mm units on 10 pixels per mm.
  EXPECT_EQ(rec.SetMapMode(MM_LOMETRIC), MM_ANISOTROPIC);
  EXPECT_TRUE(rec.SetViewportOrgEx(0, 0));
  POINT up[] = {{100, -100}};
  rec.LPtoDP(up);
  EXPECT_EQ(up[0].x, 100);
  EXPECT_EQ(up[0].y, 100);

  const Parsed p = Finish(rec);
  EXPECT_EQ(p.header.bounds.left, 25);
  EXPECT_EQ(p.header.bounds.top, 37);
  EXPECT_EQ(p.header.bounds.right, 44);
  EXPECT_EQ(p.header.bounds.bottom, 66);
  // The frame in 0.01 mm: 10 pixels per millimetre.
  EXPECT_EQ(p.header.frame.left, 250);
  EXPECT_EQ(p.header.frame.bottom, 660);
}

TEST(MetafileRecorder, UnusedObjectsAreDeletedButNeverOneHeldBySavedState) {
  MetafileRecorder rec(SmallDevice());
  const Pen kept = SolidPen(RGB(9, 9, 9), 3);
  rec.SelectPen(kept);
  rec.SaveDC();
  for (int i = 0; i < 40; ++i) rec.SelectPen(SolidPen(RGB(i, 0, 0), 1));
  EXPECT_TRUE(rec.RestoreDC(1));
  EXPECT_EQ(rec.GetCurrentPen(), kept);
  EXPECT_TRUE(rec.LineTo(5, 5));
  const Parsed p = Finish(rec);
  // The table stays small, handles are reused, and the kept pen (handle 1) is never deleted.
  EXPECT_LE(p.header.handles, 12);
  int deletes = 0;
  for (std::size_t i = 0; i < p.types.size(); ++i) {
    if (p.types[i] != EMR_DELETEOBJECT) continue;
    ++deletes;
    EXPECT_NE(*emf::ReadObjectIndex(At(p, i)), 1u);
  }
  EXPECT_GT(deletes, 20);
}

TEST(MetafileRecorder, AppendedRecordsKeepTheirHandlesApart) {
  MetafileRecorder rec(SmallDevice());
  // A pen of another metafile in slot 1, passed through unchanged.
  const auto foreign = emf::MetafileBuilder().CreatePen(1, PS_SOLID, 0, RGB(0, 255, 0)).Build();
  auto mf = emf::Metafile::Parse(foreign);
  ASSERT_TRUE(mf.ok());
  auto rd = mf->records();
  emf::Record r;
  rd.Next(&r);  // header
  ASSERT_TRUE(rd.Next(&r) && r.type == EMR_CREATEPEN);
  EXPECT_TRUE(rec.AppendRecord(r.bytes).ok());
  rec.SelectPen(SolidPen(RGB(1, 1, 1)));  // must not take slot 1

  const std::uint8_t eof[20] = {14, 0, 0, 0, 20, 0, 0, 0};
  EXPECT_FALSE(rec.AppendRecord(eof).ok());
  const std::uint8_t odd[12] = {70, 0, 0, 0, 10, 0, 0, 0};
  EXPECT_FALSE(rec.AppendRecord(odd).ok());
  const std::uint8_t short_text[12] = {84, 0, 0, 0, 12, 0, 0, 0};
  EXPECT_FALSE(rec.AppendRecord(short_text).ok());

  const Parsed p = Finish(rec);
  ASSERT_EQ(p.types.size(), 5u);
  EXPECT_EQ(emf::ReadCreatePen(At(p, 1))->ihPen, 1u);
  EXPECT_EQ(emf::ReadCreatePen(At(p, 2))->ihPen, 2u);
  EXPECT_EQ(p.header.handles, 3);
}

TEST(MetafileRecorder, RefusedCallsWriteNothing) {
  MetafileRecorder rec(SmallDevice());
  const POINT five[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
  const DWORD wrong_counts[] = {2, 2};
  auto one_bit_as_mask = emf::MakeTestDib(2, 2, 24);
  DibRef not_a_mask{one_bit_as_mask.info, one_bit_as_mask.bits};
  auto cut = emf::MakeTestDib(4, 4, 24);
  cut.bits.resize(8);
  EXPECT_FALSE(rec.RestoreDC(-1));
  EXPECT_FALSE(rec.RestoreDC(3));
  EXPECT_FALSE(rec.PolyBezier(five));
  EXPECT_FALSE(rec.PolyPolygon(five, wrong_counts));
  EXPECT_EQ(rec.SetMapMode(99), 0);
  EXPECT_FALSE(rec.SetWindowExtEx(0, 10));
  EXPECT_FALSE(rec.ScaleViewportExtEx(1, 0, 1, 1));
  EXPECT_FALSE(rec.SetWorldTransform(XFORM{0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(rec.FillPath());  // no path
  EXPECT_EQ(rec.ExtSelectClipRgn(nullptr, RGN_AND), RGN_ERROR);
  EXPECT_FALSE(rec.DibMaskBlt(0, 0, 2, 2, nullptr, 0, 0, &not_a_mask, 0, 0, PATCOPY));
  EXPECT_FALSE(rec.StretchDIBits(0, 0, 4, 4, 0, 0, 4, 4, DibRef{cut.info, cut.bits}, SRCCOPY));
  EXPECT_FALSE(rec.BitBlt(0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));  // no source to copy from
  const int two_advances[] = {5, 5};
  EXPECT_FALSE(rec.ExtTextOutW(0, 0, 0, nullptr, u"abc", two_advances));
  EXPECT_FALSE(rec.ExtTextOutW(0, 0, ETO_PDY, nullptr, u"a", {two_advances, 1}));
  EXPECT_EQ(rec.RecordCount(), 0u);
  auto bytes = rec.Close();
  ASSERT_TRUE(bytes.ok());
  EXPECT_FALSE(rec.Rectangle(0, 0, 1, 1));
  EXPECT_FALSE(rec.Close().ok());
}

TEST(MetafileRecorder, PathsAndClipRegionsRecordTheirBounds) {
  MetafileRecorder rec(SmallDevice());
  EXPECT_TRUE(rec.BeginPath());
  EXPECT_TRUE(rec.MoveToEx(100, 100));
  EXPECT_TRUE(rec.LineTo(200, 100));
  EXPECT_TRUE(rec.LineTo(150, 180));
  EXPECT_TRUE(rec.CloseFigure());
  EXPECT_TRUE(rec.EndPath());
  EXPECT_TRUE(rec.FillPath());
  Region clip(std::vector<RECT>{{0, 0, 10, 10}, {20, 0, 30, 10}});
  EXPECT_EQ(rec.ExtSelectClipRgn(&clip, RGN_COPY), COMPLEXREGION);
  EXPECT_EQ(rec.ExtSelectClipRgn(nullptr, RGN_COPY), SIMPLEREGION);
  EXPECT_FALSE(rec.GetClipRgn());
  const Parsed p = Finish(rec);
  const std::vector<std::uint32_t> want = {EMR_HEADER,           EMR_BEGINPATH,        EMR_MOVETOEX, EMR_LINETO,
                                           EMR_LINETO,           EMR_CLOSEFIGURE,      EMR_ENDPATH,  EMR_FILLPATH,
                                           EMR_EXTSELECTCLIPRGN, EMR_EXTSELECTCLIPRGN, EMR_EOF};
  EXPECT_EQ(p.types, want);
  auto fill = emf::ReadFixed<EMRFILLPATH>(At(p, 7));
  ASSERT_TRUE(fill.ok());
  EXPECT_LE(fill->rclBounds.left, 100);
  EXPECT_GE(fill->rclBounds.bottom, 180);
  EXPECT_EQ(p.header.bounds.left, fill->rclBounds.left);  // the path's drawing counts once
  auto region = emf::ReadExtSelectClipRgn(At(p, 8));
  ASSERT_TRUE(region.ok() && region->region);
  EXPECT_EQ(region->region->rects.size(), 2u);
  EXPECT_FALSE(emf::ReadExtSelectClipRgn(At(p, 9))->region);
}

TEST(MetafileRecorder, BlankPageIsHeaderAndEofOnly) {
  auto bytes = RecordBlankPage({4960, 7016}, {210, 297});
  ASSERT_TRUE(bytes.ok());
  auto mf = emf::Metafile::Parse(*bytes);
  ASSERT_TRUE(mf.ok());
  EXPECT_EQ(mf->header().records, 2u);
  EXPECT_EQ(mf->header().handles, 1);
  EXPECT_EQ(mf->header().bounds.right, -1);
  EXPECT_EQ(mf->header().device.cx, 4960);
  EXPECT_EQ(bytes->size(), sizeof(ENHMETAHEADER) + sizeof(EMREOF));
}

}  // namespace
}  // namespace zv::gdi
