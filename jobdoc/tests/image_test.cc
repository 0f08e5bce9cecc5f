#include "jobdoc/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jobdoc/container.h"
#include "jobdoc/internal/le.h"
#include "jobdoc/sample/sample_document.h"
#include "jobdoc/tests/test_data.h"
#include "platform/testing/temp_root.h"

namespace zv::jobdoc {
namespace {

using internal::Append16;
using internal::Append32;
using internal::Store32;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A chain record: u32 size, u16 type, data.
Bytes Record(std::uint16_t type, const Bytes& data) {
  Bytes r;
  Append32(r, static_cast<std::uint32_t>(6 + data.size()));
  Append16(r, type);
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}
Bytes PageAttr(std::uint16_t index, PageAttributes a) {
  Bytes d;
  for (std::uint16_t v : {index, a.word, a.width, a.length}) Append16(d, v);
  return Record(4, d);
}
Bytes Trailer(std::uint32_t paper, std::uint32_t orientation, std::uint32_t w, std::uint32_t l) {
  Bytes t;
  for (std::uint32_t v : {36u, 11u, 22u, paper, orientation, w, l, 33u, 44u}) Append32(t, v);
  return t;
}

// A hand-made image: the default record (A4 portrait), the pages as given, then, when
// `records` is not empty or `chain` is set, the chain records and the end byte.
Bytes Image(const std::vector<Bytes>& pages, const std::vector<Bytes>& records, bool chain = true) {
  PageFormatRecord rec = DefaultPageFormatRecord();
  rec.paper_code = 9;
  rec.paper_width = 2100;
  rec.paper_length = 2970;
  Bytes out(sizeof rec);
  for (const Bytes& p : pages) out.insert(out.end(), p.begin(), p.end());
  if (chain) {
    rec.chain_offset = static_cast<std::uint32_t>(out.size());
    for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
    out.push_back(0);
  }
  std::memcpy(out.data(), &rec, sizeof rec);
  return out;
}

std::vector<ImageItem> Walk(const Bytes& image, bool trailers, Status* error = nullptr) {
  ImageWalker w(image, trailers);
  std::vector<ImageItem> items;
  for (int guard = 0; guard < 10000; ++guard) {
    Result<ImageItem> r = w.Next();
    if (!r.ok()) {
      if (error) *error = r.status();
      return items;
    }
    items.push_back(*r);
    if (r->kind == ImageItem::Kind::kEnd) return items;
  }
  ADD_FAILURE() << "walk did not end";
  return items;
}

class ImageTest : public ::testing::Test {
 protected:
  testing::TempRoot root_;
};

// A document with several pages, texts, changing page attributes and an attachment goes
// through the packed writer and the file reader unchanged; the file holds full blocks, a
// short last block, stored and packed blocks.
TEST_F(ImageTest, DocumentRoundTripsThroughPackedAndUnpackedFiles) {
  DocumentImage doc = sample::MakeDocument(6, 300, true, 40000);
  doc.format.view_password[0] = 'k' + 1;
  doc.format.flags = kFormatViewPassword;
  doc.attachments.push_back({win::FILETIME{1, 2}, "notes.txt", Bytes{'h', 'i'}});

  const std::string prc = (root_.path() / "Report.prc").string();
  ASSERT_TRUE(WriteDocumentData(doc, DocumentWriteMode::kPacked, prc).ok());
  Bytes file = ReadFile(prc);
  Result<Bytes> image = BuildDocumentImage(doc, false);
  ASSERT_TRUE(image.ok());
  ASSERT_EQ(file[0], 2);
  EXPECT_EQ(internal::Load32(file.data() + 1), image->size());
  EXPECT_EQ(image->back(), 0) << "the last byte is the chain's end byte";

  auto blocks = testdata::Blocks(file);
  ASSERT_GE(blocks.size(), 3u);
  bool stored = false, packed = false;
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
    stored |= blocks[i].stored;
    packed |= !blocks[i].stored;
    if (blocks[i].stored) {
      EXPECT_EQ(blocks[i].payload, 32768u) << "full stored block";
    }
  }
  EXPECT_TRUE(stored && packed);
  EXPECT_NE(image->size() % 32768, 0u) << "the last block is short";

  UnpackResult unpacked = UnpackDocumentFile(prc);
  ASSERT_TRUE(unpacked.ok()) << unpacked.status().ToString();
  EXPECT_EQ(unpacked.document->job_name, "Report");
  EXPECT_TRUE(
      std::equal(image->begin(), image->end(), unpacked.document->image().begin(), unpacked.document->image().end()));
  Result<DocumentImage> back = ReadDocumentImage(unpacked.document->image(), false);
  ASSERT_TRUE(back.ok()) << back.status().ToString();

  DocumentImage expected = doc;
  expected.format.chain_offset = back->format.chain_offset;
  EXPECT_EQ(back->format, expected.format);
  std::size_t pages_bytes = 35;
  for (const auto& p : doc.pages) pages_bytes += p.metafile.size();
  EXPECT_EQ(std::size_t{back->format.chain_offset}, pages_bytes);
  EXPECT_EQ(*back, expected);

  // Written again, the image is the same byte for byte.
  Result<Bytes> again = BuildDocumentImage(*back, false);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *image);

  // The unpacked form carries a trailer behind each page; read with trailers it gives the
  // same pages and attributes.
  const std::string img = (root_.path() / "Report.img").string();
  ASSERT_TRUE(WriteDocumentData(doc, DocumentWriteMode::kUnpacked, img).ok());
  Bytes raw = ReadFile(img);
  EXPECT_EQ(raw.size(), image->size() + 36 * doc.pages.size());
  Result<DocumentImage> with_trailers = ReadDocumentImage(raw, true);
  ASSERT_TRUE(with_trailers.ok()) << with_trailers.status().ToString();
  ASSERT_EQ(with_trailers->pages.size(), doc.pages.size());
  for (std::size_t i = 0; i < doc.pages.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(with_trailers->pages[i].metafile, doc.pages[i].metafile);
    EXPECT_EQ(with_trailers->pages[i].attributes, doc.pages[i].attributes);
    ASSERT_TRUE(with_trailers->pages[i].trailer.has_value());
    EXPECT_EQ(with_trailers->pages[i].trailer->orientation, doc.pages[i].attributes.landscape() ? 2u : 1u);
  }
  EXPECT_EQ(with_trailers->attachments, doc.attachments);
  Result<Bytes> raw_again = BuildDocumentImage(*with_trailers, true);
  ASSERT_TRUE(raw_again.ok());
  EXPECT_EQ(*raw_again, raw);
}

TEST_F(ImageTest, WriterLayout) {
  DocumentImage one;
  one.pages.push_back({sample::MakePage(1, 2), {9, 2100, 2970}, std::nullopt});
  one.name = "a";
  Result<Bytes> img = BuildDocumentImage(one, false);
  ASSERT_TRUE(img.ok());
  const std::size_t emf = one.pages[0].metafile.size();
  EXPECT_EQ(img->size(), 35 + emf + (1 + 7) + 1);
  EXPECT_EQ((*img)[0], 35);
  EXPECT_EQ(internal::Load32(img->data() + 22), 35 + emf);
  EXPECT_EQ(internal::Load16(img->data() + 2), 1);

  // A client mode above 2 is written as 0, as readers take it.
  one.format.client_mode = 7;
  EXPECT_EQ((*BuildDocumentImage(one, false))[26], 0);
  one.format.client_mode = 2;
  EXPECT_EQ((*BuildDocumentImage(one, false))[26], 2);

  // Attribute records only where a page differs from the one before it, and empty texts
  // give no records at all.
  DocumentImage doc = sample::MakeDocument(4, 1, false);
  doc.text2.clear();
  doc.text3.clear();
  const PageAttributes a{9, 2100, 2970}, b{11, 1480, 2100};
  for (auto [i, attrs] : {std::pair{0, a}, {1, b}, {2, b}, {3, a}}) doc.pages[i].attributes = attrs;
  img = BuildDocumentImage(doc, false);
  ASSERT_TRUE(img.ok());
  std::vector<std::pair<int, int>> seen;  // (type, page index)
  for (const ImageItem& it : Walk(*img, false)) {
    if (it.kind == ImageItem::Kind::kText) seen.push_back({it.type, -1});
    if (it.kind == ImageItem::Kind::kPageAttributes) seen.push_back({4, it.page_index});
  }
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, -1}, {4, 1}, {4, 3}}));

  // A name of 249 characters would make a record of 256 bytes, whose first byte reads as
  // the end of the chain: the writer pads it, and the texts after it survive.
  doc.name = std::string(249, 'n');
  doc.text2 = "after";
  img = BuildDocumentImage(doc, false);
  ASSERT_TRUE(img.ok());
  std::size_t chain = internal::Load32(img->data() + 22);
  EXPECT_EQ(internal::Load32(img->data() + chain), 257u);
  Result<DocumentImage> back = ReadDocumentImage(*img, false);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->name, doc.name);
  EXPECT_EQ(back->text2, "after");
}

TEST_F(ImageTest, WriterRefusesWhatItCannotStore) {
  DocumentImage base = sample::MakeDocument(2, 2, false);
  struct Case {
    std::string name;
    std::function<void(DocumentImage&)> edit;
  };
  const std::vector<Case> cases = {
      {"page size field differs", [](auto& d) { d.pages[1].metafile.push_back(0); }},
      {"page is not a metafile", [](auto& d) { d.pages[0].metafile = Bytes(200, 1); }},
      {"NUL in the name", [](auto& d) { d.name = std::string("a\0b", 3); }},
      {"NUL in an attachment name",
       [](auto& d) {
         d.attachments.push_back({{}, std::string("x\0", 2), {}});
       }},
      {"attachment record of 512 bytes",
       [](auto& d) {
         d.attachments.push_back({{}, "a.bin", Bytes(512 - 15 - 5, 7)});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DocumentImage d = base;
    c.edit(d);
    Result<Bytes> r = BuildDocumentImage(d, false);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.status().code(), Status::Code::kInvalidArgument);
    EXPECT_FALSE(WriteDocumentData(d, DocumentWriteMode::kPacked, (root_.path() / "x.prc").string()).ok());
  }
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "x.prc"));
}

TEST_F(ImageTest, WalkerFollowsTheLoadersOrder) {
  const Bytes p = sample::MakePage(1, 1);
  const PageAttributes a4{9, 2100, 2970}, a3{static_cast<std::uint16_t>(8 | kAttrLandscape), 2970, 4200};

  // Only the record: no pages.
  Bytes bare = Image({}, {}, false);
  ASSERT_EQ(bare.size(), 35u);
  auto items = Walk(bare, false);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].kind, ImageItem::Kind::kEnd);

  // No chain: pages run to the end of the image.
  Result<DocumentImage> nochain = ReadDocumentImage(Image({p, p}, {}, false), false);
  ASSERT_TRUE(nochain.ok());
  EXPECT_EQ(nochain->pages.size(), 2u);

  // A type 4 record for index 3 of five pages changes pages 3 and 4; a record for a page
  // that never comes and one of an unknown type are stepped over.
  Bytes five = Image({p, p, p, p, p}, {Record(1, Text("doc")), PageAttr(3, a3), Record(9, {1, 2}), PageAttr(7, a4),
                                       Record(2, Text("second"))});
  Result<DocumentImage> d = ReadDocumentImage(five, false);
  ASSERT_TRUE(d.ok()) << d.status().ToString();
  ASSERT_EQ(d->pages.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d->pages[i].attributes, i < 3 ? a4 : a3) << i;
  EXPECT_EQ(d->name, "doc");
  EXPECT_EQ(d->text2, "second");
  std::vector<ImageItem::Kind> kinds;
  for (const auto& it : Walk(five, false)) kinds.push_back(it.kind);
  using K = ImageItem::Kind;
  EXPECT_EQ(kinds, (std::vector<K>{K::kPage, K::kText, K::kPage, K::kPage, K::kPageAttributes, K::kOtherRecord,
                                   K::kPage, K::kPage, K::kStrayRecord, K::kText, K::kEnd}));

  // A page attribute record for a page already read can never apply: stepped over.
  d = ReadDocumentImage(Image({p, p}, {PageAttr(1, a3), PageAttr(0, a3)}), false);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d->pages[1].attributes, a3);

  // With trailers each page steps over nBytes + 36, and the trailer decides the paper and
  // orientation: orientation 2 is landscape although the type 4 record says portrait.
  Bytes tp = p;
  Bytes t1 = Trailer(9, 1, 2100, 2970), t2 = Trailer(8, 2, 2970, 4200);
  tp.insert(tp.end(), t1.begin(), t1.end());
  Bytes tp2 = p;
  tp2.insert(tp2.end(), t2.begin(), t2.end());
  d = ReadDocumentImage(Image({tp, tp2}, {PageAttr(1, {static_cast<std::uint16_t>(8 | kAttrRotated), 1, 1})}), true);
  ASSERT_TRUE(d.ok()) << d.status().ToString();
  ASSERT_EQ(d->pages.size(), 2u);
  EXPECT_EQ(d->pages[0].attributes, a4);
  EXPECT_EQ(d->pages[1].attributes,
            (PageAttributes{static_cast<std::uint16_t>(8 | kAttrRotated | kAttrLandscape), 2970, 4200}));
  EXPECT_EQ(d->pages[1].trailer->carried1, 11u);
  EXPECT_EQ(d->pages[1].metafile, p);
}

TEST_F(ImageTest, DamagedImagesAreRefused) {
  const Bytes p = sample::MakePage(1, 1);
  auto with = [](Bytes img, std::size_t at, std::uint32_t v) {
    Store32(img.data() + at, v);
    return img;
  };
  const Bytes good = Image({p}, {Record(1, Text("x"))});
  const std::size_t chain = 35 + p.size();
  ASSERT_TRUE(ReadDocumentImage(good, false).ok());

  Bytes trailing_garbage = Image({p}, {}, false);
  trailing_garbage.resize(trailing_garbage.size() + 20, 0);
  Bytes no_end = good;
  no_end.pop_back();
  Bytes text_no_nul = Image({p}, {Record(1, {'a', 'b'})});
  Bytes attach_short = Image({p}, {Record(5, Bytes(8, 0))});
  Bytes attach_no_nul = Image({p}, {Record(5, Bytes(12, 'a'))});
  Bytes attr_short = Image({p}, {Record(4, {1, 0})});

  struct Case {
    std::string name;
    Bytes image;
    bool trailers;
  };
  const std::vector<Case> cases = {
      {"shorter than the record", Bytes(good.begin(), good.begin() + 34), false},
      {"chain offset inside the record", with(good, 22, 10), false},
      {"chain offset past the end", with(good, 22, 1u << 30), false},
      {"chain offset at the end", with(good, 22, static_cast<std::uint32_t>(good.size())), false},
      {"page length 0", with(good, 35 + 48, 0), false},
      {"page length past the chain", with(good, 35 + 48, static_cast<std::uint32_t>(p.size() + 4)), false},
      {"page length huge", with(good, 35 + 48, 0xFFFFFFF0u), false},
      {"page header type", with(good, 35, 2), false},
      {"bytes after the pages that are no page", trailing_garbage, false},
      {"trailer missing", good, true},
      {"record size below the header", with(good, chain, 5), false},
      {"record size past the end", with(good, chain, 1000), false},
      {"no end byte", no_end, false},
      {"text without NUL", text_no_nul, false},
      {"attachment shorter than its fixed part", attach_short, false},
      {"attachment name without NUL", attach_no_nul, false},
      {"attribute record below 14 bytes", attr_short, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Status error;
    auto items = Walk(c.image, c.trailers, &error);
    EXPECT_EQ(error.code(), Status::Code::kCorruption) << error.ToString();
    EXPECT_FALSE(ReadDocumentImage(c.image, c.trailers).ok());
  }
}

TEST(PageFormat, JustfyShoshikiNormalisesEveryStoredForm) {
  Bytes full(40);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i + 100);
  struct Case {
    std::string name;
    Bytes source;
    bool ok;
    std::size_t copied;  // bytes taken from the source after byte 0
    bool older;
  };
  auto first = [&](std::uint8_t len, std::size_t n) {
    Bytes b(full.begin(), full.begin() + n);
    b[0] = len;
    return b;
  };
  const std::vector<Case> cases = {
      {"longer record", first(40, 40), true, 35, false},
      {"exactly 35", first(35, 35), true, 35, false},
      {"20-byte record", first(20, 20), true, 20, false},
      {"2-byte record", first(2, 2), true, 2, false},
      {"older record (0)", first(0, 21), true, 0, true},
      {"older record (1)", first(1, 25), true, 0, true},
      {"older record cut", first(0, 20), false, 0, false},
      {"shorter than its length", first(30, 29), false, 0, false},
      {"empty", {}, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageFormatRecord out{};
    out.zoom = 77;
    Bytes older;
    EXPECT_EQ(JustfyShoshiki(c.source, out, &older), c.ok);
    if (!c.ok) {
      EXPECT_EQ(out.zoom, 77) << "output left alone";
      continue;
    }
    Bytes got(sizeof out);
    std::memcpy(got.data(), &out, sizeof out);
    EXPECT_EQ(got[0], 35);
    for (std::size_t i = 1; i < 35; ++i) EXPECT_EQ(got[i], i < c.copied ? full[i] : 0) << i;
    EXPECT_EQ(older.size(), c.older ? 21u : 0u);
  }
}

TEST(PageFormat, ExtentSwapsForLandscapeAndRotation) {
  using A = PageAttributes;
  const std::pair<std::int32_t, std::int32_t> portrait{2100 * 28800 / 254, 2970 * 28800 / 254};
  const std::pair<std::int32_t, std::int32_t> swapped{portrait.second, portrait.first};
  EXPECT_EQ(PageExtent(A{9, 2100, 2970}), portrait);
  EXPECT_EQ(PageExtent(A{9 | kAttrLandscape, 2100, 2970}), swapped);
  EXPECT_EQ(PageExtent(A{9 | kAttrRotated, 2100, 2970}), swapped);
  EXPECT_EQ(PageExtent(A{static_cast<std::uint16_t>(9 | kAttrRotated | kAttrLandscape), 2100, 2970}), portrait);
  EXPECT_EQ(PageExtent(A{9, 1, 1}), (std::pair<std::int32_t, std::int32_t>{113, 113}));
}

}  // namespace
}  // namespace zv::jobdoc
