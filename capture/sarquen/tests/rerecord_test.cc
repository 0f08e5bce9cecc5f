// Re-recording of captured pages: rectangles, text as private records or pixels, dropped
// records, and a re-recorded page that draws like the original.
#include "capture/sarquen/rerecord.h"

#include <gtest/gtest.h>

#include <cstring>

#include "jobdoc/private_records.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/emf/builder.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "viewer/playback/playback.h"

namespace zv::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Out {
  std::vector<std::uint32_t> types;
  std::vector<Bytes> records;
  std::vector<jobdoc::CharListItem> chars;  // all marker-100 items in order
  std::vector<std::size_t> list_sizes;
  std::vector<jobdoc::TextRun> runs;
  Bytes bytes;
};

Out Rerecord(const Bytes& page, std::vector<Bytes>* comments = nullptr) {
  RerecordOptions o;
  o.text_height = 42;
  if (comments)
    o.on_comment = [comments](std::span<const std::uint8_t> r) { comments->emplace_back(r.begin(), r.end()); };
  auto rr = RerecordPage(page, o);
  EXPECT_TRUE(rr.ok()) << rr.status().ToString();
  Out out;
  if (!rr.ok()) return out;
  out.bytes = rr->bytes;
  auto mf = emf::Metafile::Parse(out.bytes);
  EXPECT_TRUE(mf.ok());
  EXPECT_EQ(mf->header().bytes, out.bytes.size());
  EXPECT_EQ(mf->header().records, rr->records);
  auto walk = emf::ForEachRecord(*mf, [&](const emf::Record& r) {
    out.types.push_back(r.type);
    out.records.emplace_back(r.bytes.begin(), r.bytes.end());
    auto p = jobdoc::ParsePrivateRecord(r.bytes);
    if (p.ok() && p->kind == jobdoc::PrivateRecord::Kind::kCharList) {
      out.chars.insert(out.chars.end(), p->chars.begin(), p->chars.end());
      out.list_sizes.push_back(p->chars.size());
    }
    if (p.ok() && p->kind == jobdoc::PrivateRecord::Kind::kTextRun) out.runs.push_back(p->run);
    return Status::Ok();
  });
  EXPECT_TRUE(walk.ok());
  EXPECT_EQ(out.records.size(), rr->records);
  return out;
}

win::RECTL RectOf(const Bytes& r) {
  win::RECTL v;
  std::memcpy(&v, r.data() + 8, sizeof v);
  return v;
}

emf::MetafileBuilder WithFont(int escapement = 0, int charset = 128) {
  emf::MetafileBuilder b;
  win::LOGFONTW lf = gdi::MakeLogFont("IPAGothic", -20, win::FW_NORMAL, false, static_cast<win::BYTE>(charset));
  lf.lfEscapement = escapement;
  b.CreateFont(1, lf).SelectObject(1);
  return b;
}

TEST(Rerecord, HeaderFontScaleAndDroppedRecords) {
  std::vector<Bytes> comments;
  const Bytes unknown_body(4, 0);
  Out out = Rerecord(
      emf::MetafileBuilder().Comment(Bytes{'P', 'R', 'C', 0}).Raw(151, unknown_body).MoveTo(3, 4).Build(), &comments);
  ASSERT_GE(out.types.size(), 4u);
  EXPECT_EQ(out.types[0], 1u);
  auto scale = jobdoc::ParsePrivateRecord(out.records[1]);
  ASSERT_TRUE(scale.ok());
  EXPECT_EQ(scale->text_height, 42);
  EXPECT_EQ(std::count(out.types.begin(), out.types.end(), 70u), 1);  // only the font scale
  EXPECT_EQ(std::count(out.types.begin(), out.types.end(), 151u), 0);
  EXPECT_EQ(out.types.back(), 14u);
  EXPECT_EQ(comments.size(), 1u);
  EXPECT_EQ(TextHeightForQuality(600), 83);
  EXPECT_EQ(TextHeightForQuality(200), 28);
}

TEST(Rerecord, TouchingRectanglesOverlapByOneUnit) {
  Out out = Rerecord(emf::MetafileBuilder()
                         .Rectangle(0, 0, 10, 10)
                         .Rectangle(10, 0, 20, 10)  // starts where the last ended
                         .Rectangle(20, 0, 30, 10)
                         .Rectangle(100, 0, 110, 10)
                         .Rectangle(100, 10, 110, 20)  // below, same left and right
                         .Rectangle(100, -10, 110, 9)  // above the last (adjusted) one
                         .Rectangle(50, 50, 60, 60)    // apart: unchanged
                         .Build());
  std::vector<win::RECTL> rects;
  for (std::size_t i = 0; i < out.types.size(); ++i)
    if (out.types[i] == 43) rects.push_back(RectOf(out.records[i]));
  ASSERT_EQ(rects.size(), 7u);
  EXPECT_EQ(rects[1].left, 9);
  EXPECT_EQ(rects[2].left, 19);
  EXPECT_EQ(rects[3].left, 100);
  EXPECT_EQ(rects[4].top, 9);
  EXPECT_EQ(rects[5].bottom, 10);
  EXPECT_EQ(rects[6].left, 50);
}

TEST(Rerecord, SingleCharactersAreBatchedUpTo255) {
  emf::MetafileBuilder b = WithFont();
  for (int i = 0; i < 300; ++i) b.ExtTextOutA(i, 7, "A");
  Out out = Rerecord(b.Build());
  EXPECT_EQ(out.list_sizes, (std::vector<std::size_t>{255, 45}));
  ASSERT_EQ(out.chars.size(), 300u);
  EXPECT_EQ(out.chars[299].x, 299);
  EXPECT_EQ(out.chars[0].code, 'A');

  // Runs that keep their own advances add several characters each, so a list that was not
  // yet full overflows inside one run (a justified line of kerned words): every character is
  // still kept, in lists within the limit.
  emf::MetafileBuilder words = WithFont();
  const std::vector<win::LONG> advances(7, 11);
  for (int i = 0; i < 40; ++i) words.ExtTextOutA(i * 80, 7, "KERNING", 0, nullptr, advances);
  Out kerned = Rerecord(words.Build());
  ASSERT_EQ(kerned.chars.size(), 280u);
  for (std::size_t n : kerned.list_sizes) EXPECT_LE(n, 255u);
  EXPECT_EQ(kerned.chars[279].x, 39 * 80 + 6 * 11);
}

TEST(Rerecord, TextPositionsAndKinds) {
  const std::vector<win::LONG> dx = {10, 12};
  struct Case {
    const char* name;
    std::function<void(emf::MetafileBuilder&)> draw;
    std::vector<std::pair<int, int>> items;  // expected character positions
    std::size_t runs;
  } cases[] = {
      {"right aligned with advances",
       [&](emf::MetafileBuilder& b) { b.SetTextAlign(win::TA_RIGHT).ExtTextOutA(100, 50, "AB", 0, nullptr, dx); },
       {{78, 50}, {88, 50}},
       0},
      {"centred with advances",
       [&](emf::MetafileBuilder& b) { b.SetTextAlign(win::TA_CENTER).ExtTextOutA(100, 50, "AB", 0, nullptr, dx); },
       {{89, 50}, {99, 50}},
       0},
      {"two-byte character takes two advances",
       [&](emf::MetafileBuilder& b) {
         const std::vector<win::LONG> three = {5, 6, 7};
         b.ExtTextOutA(0, 0,
                       "\x82\xA0"
                       "C",
                       0, nullptr, three);
       },
       {{0, 0}, {11, 0}},
       0},
      {"spaces only on a transparent background",
       [](emf::MetafileBuilder& b) { b.SetBkMode(win::TRANSPARENT).ExtTextOutA(5, 5, "   "); },
       {},
       0},
      {"spaces between words kept with advances, trailing ones trimmed",
       [](emf::MetafileBuilder& b) {
         const std::vector<win::LONG> four = {10, 12, 14, 16};
         b.SetBkMode(win::TRANSPARENT).ExtTextOutW(0, 0, u"a b ", 0, nullptr, four);
       },
       {{0, 0}, {10, 0}, {22, 0}},
       0},
      {"trailing spaces trimmed",
       [](emf::MetafileBuilder& b) { b.SetBkMode(win::TRANSPARENT).ExtTextOutA(5, 5, "ab \x81\x40"); },
       {},
       1},
      {"a run without advances", [](emf::MetafileBuilder& b) { b.ExtTextOutW(5, 6, u"hello"); }, {}, 1},
      {"options make a run",
       [](emf::MetafileBuilder& b) {
         win::RECTL clip{0, 0, 50, 20};
         b.ExtTextOutW(5, 6, u"x", win::ETO_CLIPPED, &clip);
       },
       {},
       1},
  };
  for (const Case& c : cases) {
    emf::MetafileBuilder b = WithFont();
    c.draw(b);
    Out out = Rerecord(b.Build());
    ASSERT_EQ(out.chars.size(), c.items.size()) << c.name;
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      EXPECT_EQ(out.chars[i].x, c.items[i].first) << c.name << " " << i;
      EXPECT_EQ(out.chars[i].y, c.items[i].second) << c.name << " " << i;
    }
    EXPECT_EQ(out.runs.size(), c.runs) << c.name;
  }
}

TEST(Rerecord, RunsCarryTheirTextAndExtension) {
  emf::MetafileBuilder b = WithFont();
  win::RECTL clip{1, 2, 50, 20};
  b.ExtTextOutW(5, 6, u"x", win::ETO_CLIPPED, &clip).ExtTextOutW(7, 8, u"\u03b1t\u03b2");
  Out out = Rerecord(b.Build());
  ASSERT_EQ(out.runs.size(), 2u);
  ASSERT_TRUE(out.runs[0].extension);
  EXPECT_EQ(out.runs[0].extension->options, win::ETO_CLIPPED);
  EXPECT_EQ(out.runs[0].extension->clip.right, 50);
  EXPECT_EQ(out.runs[0].extension->flags, 0);
  ASSERT_TRUE(out.runs[1].extension);  // Greek lies in a special range
  EXPECT_EQ(out.runs[1].extension->flags, 1);
  EXPECT_EQ(out.runs[1].x, 7);
  EXPECT_GT(out.runs[1].width, 0);  // a vector font with a face: the run's width
}

TEST(Rerecord, EscapementMovesAlongTheAngle) {
  const std::vector<win::LONG> dx = {10, 10};
  struct Case {
    int escapement;
    std::pair<int, int> second;
  } cases[] = {{0, {110, 100}}, {900, {100, 90}}, {1800, {90, 100}}, {2700, {100, 110}}, {-900, {100, 110}}};
  for (const Case& c : cases) {
    emf::MetafileBuilder b = WithFont(c.escapement);
    b.ExtTextOutA(100, 100, "AB", 0, nullptr, dx);
    Out out = Rerecord(b.Build());
    ASSERT_EQ(out.chars.size(), 2u) << c.escapement;
    EXPECT_EQ(out.chars[1].x, c.second.first) << c.escapement;
    EXPECT_EQ(out.chars[1].y, c.second.second) << c.escapement;
  }
}

// Wide text CP932 cannot hold (or that the font's character set would read as something else)
// stays the wide-text record it is, whole; CP932 text becomes private records; only
// user-defined characters still go to pixels.
TEST(Rerecord, TextCp932CannotHoldStaysWideText) {
  const win::RECTL nowhere{5, 5, 5, 5};
  win::RECTL huge{0, 0, 30000, 30000};
  struct Case {
    const char* name;
    std::function<void(emf::MetafileBuilder&)> draw;
    bool wide;  // kept as the wide-text record, else private records or pixels
    int charset = 128;
  } cases[] = {
      {"no CP932 form", [](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"M\u00fcller"); }, true},
      {"coloured", [](emf::MetafileBuilder& b) { b.SetTextColor(0x0000FF).ExtTextOutW(10, 10, u"\u00e9"); }, true},
      {"an opaque box of a whole damaged page",
       [&](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"\u00e9", win::ETO_OPAQUE, &huge); }, true},
      {"the text of glyphs drawn otherwise",
       [&](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"\u20ac 5", win::ETO_CLIPPED, &nowhere); }, true},
      {"CP932's sign in a Latin font", [](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"3 \u00d7 4"); }, true, 0},
      {"a symbol font", [](emf::MetafileBuilder& b) { b.ExtTextOutW(200, 200, u"\u00b1x"); }, true, 2},
      {"CP932 text", [](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"\u9031\u5831 \u00d7"); }, false},
      {"Cyrillic in a Latin font", [](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"\u0414\u0430"); }, false, 0},
      {"user-defined character", [](emf::MetafileBuilder& b) { b.ExtTextOutW(10, 10, u"\ue000"); }, false},
      {"user-defined bytes", [](emf::MetafileBuilder& b) { b.ExtTextOutA(10, 10, "\xF0\x40"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emf::MetafileBuilder b = WithFont(0, c.charset);
    c.draw(b);
    const Bytes page = b.Build();
    Out out = Rerecord(page);
    const auto wide = std::count(out.types.begin(), out.types.end(), 84u);
    EXPECT_EQ(wide, c.wide ? 1 : 0);
    if (c.wide) {
      // The very record the page had.
      std::vector<Bytes> source;
      auto mf = emf::Metafile::Parse(page);
      ASSERT_TRUE(mf.ok());
      ASSERT_TRUE(emf::ForEachRecord(*mf, [&](const emf::Record& r) {
                    if (r.type == 84) source.emplace_back(r.bytes.begin(), r.bytes.end());
                    return Status::Ok();
                  }).ok());
      ASSERT_EQ(source.size(), 1u);
      EXPECT_EQ(out.records[std::size_t(std::find(out.types.begin(), out.types.end(), 84u) - out.types.begin())],
                source[0]);
      EXPECT_TRUE(out.chars.empty());
      EXPECT_TRUE(out.runs.empty());
    }
    EXPECT_LT(out.bytes.size(), 4u << 20);
  }
}

// A page drawn on a white bitmap: by the plain player, or repaired as the viewer draws.
std::unique_ptr<gdi::MemoryBitmap> Render(const Bytes& page, bool repaired, int w, int h) {
  auto bmp = gdi::MemoryBitmap::Create(w, h, 24);
  EXPECT_TRUE(bmp.ok());
  win::RECT rect{0, 0, w, h};
  if (repaired) {
    std::lock_guard lock(playback::DrawingLock());
    playback::PlaybackState state;
    EXPECT_EQ(playback::PlayRepaired(page, (*bmp)->dc(), rect, state), 1);
  } else {
    EXPECT_TRUE(gdi::PlayMetafile((*bmp)->dc(), page, &rect).ok());
  }
  return std::move(*bmp);
}

TEST(Rerecord, ReRecordedPageDrawsLikeTheOriginal) {
  emf::MetafileBuilder b = WithFont();
  b.CreateBrush(2, win::BS_SOLID, 0x000000).SelectObject(2);
  b.Rectangle(20, 20, 120, 60).Rectangle(120, 20, 220, 60);
  b.SetBkMode(win::TRANSPARENT).ExtTextOutW(30, 100, u"Zelvora");
  const Bytes original = b.Build();
  const Out out = Rerecord(original);

  auto a = Render(original, false, 400, 400);
  auto r = Render(out.bytes, true, 400, 400);
  // Fills and the joint between the rectangles, white space, and ink in the text's box.
  const std::pair<int, int> probes[] = {{60, 40}, {119, 40}, {121, 40}, {180, 40}, {300, 300}, {10, 10}};
  auto scale = [](int v) { return v * 400 / 1000; };  // 1000-pixel page on a 400-pixel bitmap
  for (auto [x, y] : probes) EXPECT_EQ(a->Pixel(scale(x), scale(y)), r->Pixel(scale(x), scale(y))) << x << "," << y;
  auto ink = [&](const gdi::MemoryBitmap& m) {
    int n = 0;
    for (int y = scale(95); y < scale(130); ++y)
      for (int x = scale(25); x < scale(200); ++x) n += (m.Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return n;
  };
  EXPECT_GT(ink(*a), 10);
  EXPECT_GT(ink(*r), ink(*a) / 3);
}


// Runs of double-byte characters placed by the document's own advances (what a PDF page's
// words become) are drawn by the repairing playback as the original draws them: Japanese
// and Cyrillic, in a Japanese and in a default-charset face.
TEST(Rerecord, DoubleByteRunsWithAdvancesStillDraw) {
  struct Case {
    const char* face;
    int charset;
    std::u16string text;
  };
  const Case cases[] = {{"IPAGothic", 128, u"日本語の文書"}, {"DejaVu Sans Mono", 1, u"Задание"},
                        {"Liberation Sans", 1, u"GTKページ"}};
  for (const Case& c : cases) {
    emf::MetafileBuilder b;
    b.CreateFont(1, gdi::MakeLogFont(c.face, -20, win::FW_NORMAL, false, static_cast<win::BYTE>(c.charset)))
        .SelectObject(1);
    // Advances a little wider than the face's own, as a document's layout gives them.
    std::vector<win::LONG> dx(c.text.size(), 23);
    // Two dots in the corners give the page its size.
    b.Rectangle(0, 0, 2, 2).Rectangle(398, 198, 400, 200);
    b.SetBkMode(win::TRANSPARENT).ExtTextOutW(30, 100, c.text, 0, nullptr, dx);
    const Bytes original = b.Build();
    const Out out = Rerecord(original);
    auto ink = [](const Bytes& page, bool repaired) {
      auto bmp = Render(page, repaired, 400, 200);
      int n = 0;
      for (int y = 60; y < 140; ++y)
        for (int x = 20; x < 300; ++x) n += (bmp->Pixel(x, y) & 0xFF) < 160;
      return n;
    };
    const int want = ink(original, false);
    EXPECT_GT(want, 50) << c.face;
    EXPECT_GT(ink(out.bytes, true), want * 2 / 3) << c.face;
  }
}

}  // namespace
}  // namespace zv::capture
