#include "platform/gdi/emf/reader.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/gdi/emf/builder.h"
#include "platform/gdi/emf/records.h"
#include "platform/gdi/emf/tests/fixture.h"

namespace zv::emf {
namespace {

using namespace win;
using testing::Pack;

std::vector<Record> AllRecords(const Metafile& mf) {
  std::vector<Record> out;
  RecordReader rd = mf.records();
  Record r;
  while (rd.Next(&r)) out.push_back(r);
  EXPECT_TRUE(rd.status().ok()) << rd.status().ToString();
  return out;
}

// The first record of `type` after `skip` others of that type.
Record Find(const std::vector<Record>& recs, std::uint32_t type, int skip = 0) {
  for (const auto& r : recs) {
    if (r.type == type && skip-- == 0) return r;
  }
  ADD_FAILURE() << "no record of type " << type;
  return Record{};
}

TEST(EmfReader, HeaderCountsAndBoundsMatchWhatWasWritten) {
  const auto bytes = testing::RichMetafile();
  auto mf = Metafile::Parse(bytes);
  ASSERT_TRUE(mf.ok()) << mf.status().ToString();
  const Header& h = mf->header();
  EXPECT_EQ(h.bytes, bytes.size());
  EXPECT_EQ(h.handles, 6);  // five objects plus the reserved index 0
  EXPECT_EQ(h.device.cx, 1000);
  EXPECT_EQ(h.millimeters.cy, 100);
  ASSERT_TRUE(h.has_micrometers);
  EXPECT_EQ(h.micrometers.cx, 100000);
  // Union of the drawing bounds: the rectangle (inclusive), the polygons, the bitmap
  // (400..429, 500..519), the zero-width blit bar ends at 10..9 so it adds nothing.
  EXPECT_EQ(h.bounds.left, 0);
  EXPECT_EQ(h.bounds.top, 0);
  EXPECT_EQ(h.bounds.right, 429);
  EXPECT_EQ(h.bounds.bottom, 519);
  // The frame follows from the bounds through 1000 px = 100 mm.
  EXPECT_EQ(h.frame.right, 4290);
  EXPECT_EQ(h.frame.bottom, 5190);

  const auto recs = AllRecords(*mf);
  EXPECT_EQ(recs.size(), h.records);
  EXPECT_EQ(recs.front().type, EMR_HEADER);
  EXPECT_EQ(recs.back().type, EMR_EOF);
  EXPECT_EQ(recs.back().offset + recs.back().size(), bytes.size());
  EXPECT_TRUE(ValidateAll(*mf).ok()) << ValidateAll(*mf).ToString();
  const std::vector<std::uint32_t> head = {
      EMR_HEADER,       EMR_SETMAPMODE,   EMR_CREATEPEN, EMR_CREATEBRUSHINDIRECT, EMR_EXTCREATEFONTINDIRECTW,
      EMR_SELECTOBJECT, EMR_SELECTOBJECT, EMR_RECTANGLE};
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(recs[i].type, head[i]) << i;
}

TEST(EmfReader, ShapeAndObjectViewsGiveTheWrittenValues) {
  const auto bytes = testing::RichMetafile();
  auto mf = Metafile::Parse(bytes);
  ASSERT_TRUE(mf.ok());
  const auto recs = AllRecords(*mf);

  auto rect = ReadFixed<EMRRECTANGLE>(Find(recs, EMR_RECTANGLE));
  ASSERT_TRUE(rect.ok());
  EXPECT_EQ(rect->rclBox.right, 300);

  for (std::uint32_t type : {std::uint32_t(EMR_POLYGON), std::uint32_t(EMR_POLYLINE16)}) {
    auto poly = ReadPoly(Find(recs, type));
    ASSERT_TRUE(poly.ok()) << poly.status().ToString();
    EXPECT_EQ(poly->points.is16(), type == EMR_POLYLINE16);
    ASSERT_EQ(poly->points.size(), 3u);
    EXPECT_EQ(poly->points[2].x, 50);
    EXPECT_EQ(poly->points[2].y, 70);
    EXPECT_EQ(poly->bounds.right, 90);
  }
  auto pp = ReadPolyPoly(Find(recs, EMR_POLYPOLYGON));
  ASSERT_TRUE(pp.ok());
  ASSERT_EQ(pp->counts.size(), 2u);
  EXPECT_EQ(pp->points[5].y, 130);

  auto pd = ReadPolyDraw(Find(recs, EMR_POLYDRAW));
  ASSERT_TRUE(pd.ok()) << pd.status().ToString();
  EXPECT_EQ(pd->types[2], PT_LINETO | PT_CLOSEFIGURE);

  auto pen = ReadCreatePen(Find(recs, EMR_CREATEPEN));
  ASSERT_TRUE(pen.ok());
  EXPECT_EQ(pen->lopn.lopnColor, RGB(255, 0, 0));
  EXPECT_EQ(pen->lopn.lopnWidth.x, 2);
  auto xpen = ReadExtCreatePen(Find(recs, EMR_EXTCREATEPEN));
  ASSERT_TRUE(xpen.ok()) << xpen.status().ToString();
  ASSERT_EQ(xpen->style_entries.size(), 2u);
  EXPECT_EQ(xpen->style_entries[0], 3u);
  EXPECT_FALSE(xpen->pattern);

  auto font = ReadCreateFont(Find(recs, EMR_EXTCREATEFONTINDIRECTW));
  ASSERT_TRUE(font.ok());
  EXPECT_EQ(font->handle, 3u);
  EXPECT_EQ(font->font.lfHeight, -40);
  EXPECT_EQ(std::u16string(font->font.lfFaceName), u"IPAGothic");

  auto stock = ReadObjectIndex(Find(recs, EMR_SELECTOBJECT, 1));
  ASSERT_TRUE(stock.ok());
  EXPECT_EQ(*stock, ENHMETA_STOCK_OBJECT | NULL_BRUSH);

  auto brush = ReadPatternBrush(Find(recs, EMR_CREATEDIBPATTERNBRUSHPT));
  ASSERT_TRUE(brush.ok()) << brush.status().ToString();
  EXPECT_EQ(brush->pattern.width, 8u);
  EXPECT_EQ(brush->pattern.colors.size(), 2u);
  EXPECT_EQ(brush->pattern.StoredRow(7).size(), 4u);
  EXPECT_TRUE(brush->pattern.StoredRow(8).empty());

  auto fill = ReadRegionPaint(Find(recs, EMR_FILLRGN));
  ASSERT_TRUE(fill.ok()) << fill.status().ToString();
  EXPECT_EQ(*fill->brush, 2u);
  ASSERT_EQ(fill->region.rects.size(), 1u);
  EXPECT_EQ(fill->region.rects[0].right, 10);

  auto clip = ReadExtSelectClipRgn(Find(recs, EMR_EXTSELECTCLIPRGN));
  ASSERT_TRUE(clip.ok());
  ASSERT_TRUE(clip->region);
  EXPECT_EQ(clip->region->rects.size(), 2u);
  EXPECT_EQ(clip->region->header.rcBound.right, 700);
  auto reset = ReadExtSelectClipRgn(Find(recs, EMR_EXTSELECTCLIPRGN, 1));
  ASSERT_TRUE(reset.ok());
  EXPECT_FALSE(reset->region);
}

TEST(EmfReader, TextBitmapAndCommentViewsGiveTheWrittenValues) {
  const auto bytes = testing::RichMetafile();
  auto mf = Metafile::Parse(bytes);
  ASSERT_TRUE(mf.ok());
  const auto recs = AllRecords(*mf);

  auto w = ReadText(Find(recs, EMR_EXTTEXTOUTW));
  ASSERT_TRUE(w.ok()) << w.status().ToString();
  EXPECT_EQ(w->Utf16(), u"abc");
  EXPECT_EQ(w->reference.y, 30);
  ASSERT_TRUE(w->rect);
  EXPECT_EQ(w->rect->right, 60);
  ASSERT_EQ(w->dx.size(), 3u);
  EXPECT_EQ(w->dx[2], 12);
  auto a = ReadText(Find(recs, EMR_EXTTEXTOUTA));
  ASSERT_TRUE(a.ok());
  EXPECT_FALSE(a->wide);
  EXPECT_EQ(a->Bytes(), "\x82\xa0z");
  EXPECT_TRUE(a->dx.empty());
  auto small = ReadText(Find(recs, EMR_SMALLTEXTOUT));
  ASSERT_TRUE(small.ok()) << small.status().ToString();
  EXPECT_EQ(small->Bytes(), "hi");
  EXPECT_FALSE(small->rect);

  auto sdib = ReadStretchDib(Find(recs, EMR_STRETCHDIBITS));
  ASSERT_TRUE(sdib.ok()) << sdib.status().ToString();
  ASSERT_TRUE(sdib->source);
  EXPECT_EQ(sdib->rec.cxDest, 30);
  EXPECT_EQ(sdib->source->width, 3u);
  EXPECT_EQ(sdib->source->stride, 12u);  // 9 bytes padded to 4
  EXPECT_EQ(sdib->source->StoredRow(1)[0], 12);
  auto blt = ReadBlt(Find(recs, EMR_BITBLT));
  ASSERT_TRUE(blt.ok());
  EXPECT_FALSE(blt->source);
  EXPECT_EQ(blt->rec.dwRop, PATCOPY);
  EXPECT_EQ(blt->rec.cySrc, 50);
  auto todev = ReadDibToDevice(Find(recs, EMR_SETDIBITSTODEVICE));
  ASSERT_TRUE(todev.ok()) << todev.status().ToString();
  EXPECT_EQ(todev->source->rows, 2u);
  EXPECT_EQ(todev->source->colors.size(), 256u);

  auto group = ReadComment(Find(recs, EMR_GDICOMMENT));
  ASSERT_TRUE(group.ok());
  ASSERT_TRUE(group->data);
  EXPECT_EQ(group->data->size(), 8u);
  auto marker = ReadComment(Find(recs, EMR_GDICOMMENT, 1));
  ASSERT_TRUE(marker.ok());
  EXPECT_FALSE(marker->data);  // the field is a marker, not a byte count
  EXPECT_EQ(marker->field & 0xFFFF, 102u);
  EXPECT_EQ(marker->field >> 16, 33u);
}

TEST(EmfReader, PagesLaidOneAfterAnotherAreSteppedByTheirLength) {
  Writer::Options opt;
  opt.device = {2480, 3508};
  opt.millimeters = {210, 297};
  opt.description = std::u16string(u"app\0page\0\0", 10);
  MetafileBuilder one(opt), two;
  auto a = one.Rectangle(0, 0, 10, 10).Build();
  auto b = two.Build();
  std::vector<std::uint8_t> image = a;
  image.insert(image.end(), b.begin(), b.end());
  image.push_back(0);  // whatever follows the last page is not read

  auto first = Metafile::Parse(image);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->header().description, opt.description);
  EXPECT_EQ(first->header().device.cy, 3508);
  EXPECT_EQ(first->bytes().size(), a.size());
  auto len = MetafileLength(image);
  ASSERT_TRUE(len.ok());
  auto second = Metafile::Parse(std::span(image).subspan(*len));
  ASSERT_TRUE(second.ok());
  // An empty page: header and EOF only, empty bounds.
  EXPECT_EQ(second->header().records, 2u);
  EXPECT_EQ(second->header().bounds.right, -1);
  EXPECT_EQ(AllRecords(*second).size(), 2u);
}

TEST(EmfReader, MetafileWithoutEofEndsAtItsLength) {
  auto bytes = MetafileBuilder().Rectangle(0, 0, 5, 5).Build();
  bytes.resize(bytes.size() - sizeof(EMREOF));
  const std::uint32_t n = std::uint32_t(bytes.size());
  std::memcpy(bytes.data() + 48, &n, 4);
  auto mf = Metafile::Parse(bytes);
  ASSERT_TRUE(mf.ok());
  const auto recs = AllRecords(*mf);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[1].type, EMR_RECTANGLE);
}

TEST(EmfReader, RecordsOutsideTheViewsPassOnTheirEnvelope) {
  // An unknown record type is handed out (the player skips and counts it), and a record
  // the caller changed can be checked again on its own.
  auto bytes = MetafileBuilder().Raw(200, Pack(DWORD(1), DWORD(2))).Build();
  auto mf = Metafile::Parse(bytes);
  ASSERT_TRUE(mf.ok());
  EXPECT_TRUE(ValidateAll(*mf).ok());
  const auto copy = Pack(EMRSELECTOBJECT{{EMR_SELECTOBJECT, 12}, 7});
  auto rec = MakeRecord(copy, 8);
  ASSERT_TRUE(rec.ok());
  EXPECT_TRUE(Validate(*rec).ok());
  auto small_table = MakeRecord(copy, 7);
  ASSERT_TRUE(small_table.ok());
  EXPECT_FALSE(Validate(*small_table).ok());
}

TEST(EmfWriter, RefusesRecordsItWritesItselfAndShortOnes) {
  Writer w{Writer::Options{}};
  EXPECT_FALSE(w.Append(EMREOF{{EMR_EOF, 0}, 0, 0, 0}));
  EXPECT_FALSE(w.Close().ok());
  Writer w2{Writer::Options{}};
  const std::uint8_t four[4] = {1, 0, 0, 0};
  EXPECT_FALSE(w2.Append(std::span<const std::uint8_t>(four)));
  EXPECT_FALSE(w2.status().ok());
  Writer::Options flat;
  flat.device = {1000, 0};
  EXPECT_FALSE(Writer(flat).Close().ok());
}

}  // namespace
}  // namespace zv::emf
