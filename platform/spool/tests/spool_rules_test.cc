#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/spool/devmode.h"
#include "platform/spool/media.h"

namespace zv::spool {
namespace {

using namespace zv::win;

Capabilities OfficeCaps() {
  Capabilities c;
  c.papers = {{9, "A4", 2100, 2970, 42, 50, 42, 50},
              {8, "A3", 2970, 4200, 42, 50, 42, 50},
              {13, "B5 (JIS)", 1820, 2570, 30, 30, 30, 30}};
  c.resolutions = {{300, 300}, {600, 600}, {1200, 600}};
  c.color = true;
  c.duplex = true;
  c.collate = true;
  c.max_copies = 99;
  c.default_paper = 9;
  c.default_resolution = {600, 600};
  c.default_extra = std::vector<std::uint8_t>(112, 0);
  return c;
}

TEST(DevMode, DefaultFromCapabilities) {
  Capabilities caps = OfficeCaps();
  DevMode m = MakeDefaultDevMode("Office printer with a very long name beyond 31 bytes", caps);
  EXPECT_EQ(m.DeviceName(), "Office printer with a very long");  // 31 bytes and a NUL
  EXPECT_EQ(m.dm.dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(m.dm.dmDriverExtra, 112);
  EXPECT_EQ(m.dm.dmPaperSize, 9);
  EXPECT_EQ(m.dm.dmPaperWidth, 2100);
  EXPECT_EQ(m.dm.dmPaperLength, 2970);
  EXPECT_EQ(m.FormName(), "A4");
  EXPECT_EQ(m.dm.dmPrintQuality, 600);
  EXPECT_EQ(m.dm.dmDuplex, DMDUP_SIMPLEX);
  EXPECT_EQ(m.dm.dmCopies, 1);
  EXPECT_TRUE(m.dm.dmFields & DM_DUPLEX);
  EXPECT_TRUE(m.dm.dmFields & DM_COLLATE);
  caps.duplex = false;
  caps.collate = false;
  DevMode plain = MakeDefaultDevMode("P", caps);
  EXPECT_FALSE(plain.dm.dmFields & DM_DUPLEX);
  EXPECT_FALSE(plain.dm.dmFields & DM_COLLATE);
}

TEST(DevMode, TextFieldsAreCutOnCharacterBoundaries) {
  char field[8];
  CopyFixedText("abcdef\xE3\x81\x82", field, sizeof field);  // "あ" would need bytes 6..8
  EXPECT_STREQ(field, "abcdef");
  CopyFixedText("ab", field, sizeof field);
  EXPECT_STREQ(field, "ab");
}

TEST(DevMode, BytesRoundTripAndPrivateBytesByOffset) {
  DevMode m = MakeDefaultDevMode("Q", OfficeCaps());
  ASSERT_TRUE(m.SetByte(0x104, 1));  // inside the driver's private part
  EXPECT_FALSE(m.SetByte(sizeof(DEVMODEA) + 112, 1));
  auto bytes = m.ToBytes();
  ASSERT_EQ(bytes.size(), sizeof(DEVMODEA) + 112);
  auto back = DevMode::FromBytes(bytes);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  std::uint8_t b = 0;
  ASSERT_TRUE(back->GetByte(0x104, b));
  EXPECT_EQ(b, 1);
  EXPECT_EQ(back->dm.dmPaperSize, 9);
  EXPECT_EQ(back->DeviceName(), "Q");
}

TEST(DevMode, FromBytesRejectsBadBlocks) {
  auto good = MakeDefaultDevMode("Q", OfficeCaps()).ToBytes();
  struct Case {
    const char* what;
    std::size_t keep;  // bytes of the block kept
    int dm_size;       // -1 leaves dmSize
    int extra;         // -1 leaves dmDriverExtra
    bool ok;
  } cases[] = {
      {"whole block", good.size(), -1, -1, true},
      {"header only", 20, -1, -1, false},
      {"private part cut", good.size() - 1, -1, -1, false},
      {"dmSize too small", good.size(), 40, -1, false},
      {"extra beyond the block", good.size(), -1, 0xFFFF, false},
      {"older shorter public part", good.size(), 148, 0, true},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    if (c.dm_size >= 0) {
      bytes[offsetof(DEVMODEA, dmSize)] = static_cast<std::uint8_t>(c.dm_size & 0xFF);
      bytes[offsetof(DEVMODEA, dmSize) + 1] = static_cast<std::uint8_t>(c.dm_size >> 8);
    }
    if (c.extra >= 0) {
      bytes[offsetof(DEVMODEA, dmDriverExtra)] = static_cast<std::uint8_t>(c.extra & 0xFF);
      bytes[offsetof(DEVMODEA, dmDriverExtra) + 1] = static_cast<std::uint8_t>(c.extra >> 8);
    }
    bytes.resize(c.keep);
    EXPECT_EQ(DevMode::FromBytes(bytes).ok(), c.ok) << c.what;
  }
}

TEST(DevMode, MergeTakesSupportedFieldsOnly) {
  Capabilities caps = OfficeCaps();
  DevMode base = MakeDefaultDevMode("Office", caps);
  struct Case {
    const char* what;
    DWORD fields;
    void (*set)(DEVMODEA&);
    void (*check)(const DEVMODEA&);
  } cases[] = {
      {"offered paper takes its size", DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH,
       [](DEVMODEA& d) {
         d.dmPaperSize = 8;
         d.dmPaperWidth = 2100;
         d.dmPaperLength = 2970;
       },
       [](const DEVMODEA& d) {
         EXPECT_EQ(d.dmPaperSize, 8);
         EXPECT_EQ(d.dmPaperWidth, 2970);
         EXPECT_EQ(d.dmPaperLength, 4200);
         EXPECT_STREQ(d.dmFormName, "A3");
       }},
      {"unknown code with a size is custom", DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH,
       [](DEVMODEA& d) {
         d.dmPaperSize = 70;
         d.dmPaperWidth = 1050;
         d.dmPaperLength = 1480;
       },
       [](const DEVMODEA& d) {
         EXPECT_EQ(d.dmPaperSize, 256);
         EXPECT_EQ(d.dmPaperWidth, 1050);
       }},
      {"unknown code without size keeps the paper", DM_PAPERSIZE,
       [](DEVMODEA& d) {
         d.dmPaperSize = 70;
         d.dmPaperWidth = 0;
         d.dmPaperLength = 0;
       },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmPaperSize, 9); }},
      {"form name picks the paper", DM_FORMNAME,
       [](DEVMODEA& d) { CopyFixedText("B5 (JIS)", d.dmFormName, sizeof d.dmFormName); },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmPaperSize, 13); }},
      {"copies clamped", DM_COPIES, [](DEVMODEA& d) { d.dmCopies = 500; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmCopies, 99); }},
      {"zero copies become one", DM_COPIES, [](DEVMODEA& d) { d.dmCopies = 0; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmCopies, 1); }},
      {"bad orientation ignored", DM_ORIENTATION, [](DEVMODEA& d) { d.dmOrientation = 7; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmOrientation, DMORIENT_PORTRAIT); }},
      {"landscape taken", DM_ORIENTATION, [](DEVMODEA& d) { d.dmOrientation = 2; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmOrientation, DMORIENT_LANDSCAPE); }},
      {"duplex taken", DM_DUPLEX, [](DEVMODEA& d) { d.dmDuplex = 3; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmDuplex, DMDUP_HORIZONTAL); }},
      {"bad duplex is simplex", DM_DUPLEX, [](DEVMODEA& d) { d.dmDuplex = 9; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmDuplex, DMDUP_SIMPLEX); }},
      {"resolution snaps to nearest", DM_PRINTQUALITY | DM_YRESOLUTION,
       [](DEVMODEA& d) {
         d.dmPrintQuality = 700;
         d.dmYResolution = 700;
       },
       [](const DEVMODEA& d) {
         EXPECT_EQ(d.dmPrintQuality, 600);
         EXPECT_EQ(d.dmYResolution, 600);
       }},
      {"draft quality is the lowest", DM_PRINTQUALITY, [](DEVMODEA& d) { d.dmPrintQuality = DMRES_DRAFT; },
       [](const DEVMODEA& d) { EXPECT_EQ(d.dmPrintQuality, 300); }},
      {"high quality is the highest", DM_PRINTQUALITY, [](DEVMODEA& d) { d.dmPrintQuality = DMRES_HIGH; },
       [](const DEVMODEA& d) {
         EXPECT_EQ(d.dmPrintQuality, 1200);
         EXPECT_EQ(d.dmYResolution, 600);
       }},
      {"unflagged fields are not taken", 0,
       [](DEVMODEA& d) {
         d.dmCopies = 5;
         d.dmOrientation = 2;
       },
       [](const DEVMODEA& d) {
         EXPECT_EQ(d.dmCopies, 1);
         EXPECT_EQ(d.dmOrientation, 1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DevMode in = base;
    in.dm.dmFields = c.fields;
    c.set(in.dm);
    DevMode out = MergeDevMode(base, in, caps);
    c.check(out.dm);
    EXPECT_EQ(out.dm.dmFields, base.dm.dmFields);
    EXPECT_EQ(out.DeviceName(), "Office");
  }
}

TEST(DevMode, MergeFallsBackWhereThePrinterCannot) {
  Capabilities caps = OfficeCaps();
  caps.color = false;
  caps.duplex = false;
  caps.collate = false;
  DevMode base = MakeDefaultDevMode("Mono", caps);
  DevMode in = base;
  in.dm.dmFields = DM_COLOR | DM_DUPLEX | DM_COLLATE;
  in.dm.dmColor = DMCOLOR_COLOR;
  in.dm.dmDuplex = DMDUP_VERTICAL;
  in.dm.dmCollate = DMCOLLATE_TRUE;
  DevMode out = MergeDevMode(base, in, caps);
  EXPECT_EQ(out.dm.dmColor, DMCOLOR_MONOCHROME);
  EXPECT_EQ(out.dm.dmDuplex, DMDUP_SIMPLEX);
  EXPECT_EQ(out.dm.dmCollate, DMCOLLATE_FALSE);
}

TEST(DevMode, MergeTakesPrivatePartOnlyOfTheSameSize) {
  Capabilities caps = OfficeCaps();
  DevMode base = MakeDefaultDevMode("Q", caps);
  DevMode in = base;
  in.SetByte(0x104, 1);
  EXPECT_EQ(MergeDevMode(base, in, caps).extra[0x104 - sizeof(DEVMODEA)], 1);
  in.extra.resize(10);
  EXPECT_EQ(MergeDevMode(base, in, caps).extra.size(), 112u);
  EXPECT_EQ(MergeDevMode(base, in, caps).extra[0x104 - sizeof(DEVMODEA)], 0);
}

TEST(JobOptions, ResolvedFromTheMode) {
  Capabilities caps = OfficeCaps();
  DevMode m = MakeDefaultDevMode("Office", caps);
  m.dm.dmPaperSize = 8;
  m.dm.dmOrientation = 2;
  m.dm.dmCopies = 3;
  m.dm.dmCollate = 1;
  m.dm.dmDuplex = 2;
  m.dm.dmColor = DMCOLOR_COLOR;
  JobOptions o = ResolveJobOptions(m, caps);
  EXPECT_EQ(o.paper, 8);
  EXPECT_EQ(o.paper_name, "A3");
  EXPECT_EQ(o.paper_width, 2970);
  EXPECT_EQ(o.margin_top, 50);
  EXPECT_EQ(o.orientation, 2);
  EXPECT_EQ(o.copies, 3);
  EXPECT_TRUE(o.collate);
  EXPECT_EQ(o.duplex, 2);
  EXPECT_TRUE(o.color);
  EXPECT_EQ(o.resolution, (Resolution{600, 600}));
  // Zeroed sizes with an unknown code fall back to the default paper.
  m.dm.dmPaperSize = 0;
  m.dm.dmPaperWidth = 0;
  m.dm.dmPaperLength = 0;
  EXPECT_EQ(ResolveJobOptions(m, caps).paper, 9);
}

TEST(Geometry, PortraitAndLandscape) {
  JobOptions o;
  o.paper_width = 2100;
  o.paper_length = 2970;
  o.margin_left = 42;
  o.margin_top = 50;
  o.margin_right = 60;
  o.margin_bottom = 70;
  o.resolution = {600, 300};
  PageGeometry p = GeometryFor(o);
  EXPECT_EQ(p.logpixels_x, 600);
  EXPECT_EQ(p.logpixels_y, 300);
  EXPECT_EQ(p.physical_width, 2100 * 600 / 254);
  EXPECT_EQ(p.physical_height, 2970 * 300 / 254);
  EXPECT_EQ(p.offset_x, 42 * 600 / 254);
  EXPECT_EQ(p.offset_y, 50 * 300 / 254);
  EXPECT_EQ(p.horzres, p.physical_width - p.offset_x - 60 * 600 / 254);
  EXPECT_EQ(p.vertres, p.physical_height - p.offset_y - 70 * 300 / 254);
  EXPECT_EQ(p.horzsize_mm, (2100 - 42 - 60) / 10);
  o.orientation = DMORIENT_LANDSCAPE;
  PageGeometry l = GeometryFor(o);
  EXPECT_EQ(l.physical_width, 2970 * 600 / 254);
  EXPECT_EQ(l.physical_height, 2100 * 300 / 254);
  EXPECT_EQ(l.offset_x, 50 * 600 / 254);  // the portrait's top is now on the left
  EXPECT_EQ(l.offset_y, 60 * 300 / 254);  // and its right on top
}

TEST(DevNames, LayoutAndRoundTrip) {
  auto block = MakeDevNames("Drv", "Office", "IP_10.0.0.5");
  ASSERT_TRUE(block.ok());
  auto head = LoadRecord<DEVNAMES>(*block);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->wDriverOffset, 8);
  EXPECT_EQ(head->wDeviceOffset, 9 + 3);
  EXPECT_EQ(head->wOutputOffset, 12 + 6 + 1);
  EXPECT_EQ(head->wDefault, 0);
  EXPECT_EQ(block->size(), 19u + 11 + 1);
  auto back = ParseDevNames(*block);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->driver, "Drv");
  EXPECT_EQ(back->device, "Office");
  EXPECT_EQ(back->output, "IP_10.0.0.5");
  EXPECT_FALSE(MakeDevNames(std::string("a\0b", 3), "x", "y").ok());
  EXPECT_FALSE(MakeDevNames(std::string(70000, 'd'), "x", "y").ok());
}

TEST(DevNames, ParseRejectsBadOffsetsAndMissingTerminators) {
  auto good = *MakeDevNames("Drv", "Office", "Port");
  struct Case {
    const char* what;
    std::size_t keep;
    int field;  // DEVNAMES word to overwrite, -1 none
    std::uint16_t value;
  } cases[] = {
      {"short record", 6, -1, 0},
      {"output name not terminated", good.size() - 1, -1, 0},
      {"device offset past the end", good.size(), 1, 500},
      {"driver offset inside the record", good.size(), 0, 2},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    if (c.field >= 0) {
      bytes[c.field * 2] = static_cast<std::uint8_t>(c.value & 0xFF);
      bytes[c.field * 2 + 1] = static_cast<std::uint8_t>(c.value >> 8);
    }
    bytes.resize(c.keep);
    EXPECT_FALSE(ParseDevNames(bytes).ok()) << c.what;
  }
}

// The size a self-describing PWG name carries, in 0.1 mm.
bool SizeFromPwg(const std::string& pwg, double& w, double& h) {
  auto us = pwg.rfind('_');
  if (us == std::string::npos) return false;
  std::string dims = pwg.substr(us + 1);
  double scale = 0;
  if (dims.size() > 2 && dims.substr(dims.size() - 2) == "mm") scale = 10;
  if (dims.size() > 2 && dims.substr(dims.size() - 2) == "in") scale = 254;
  if (scale == 0) return false;
  auto x = dims.find('x');
  w = std::atof(dims.substr(0, x).c_str()) * scale;
  h = std::atof(dims.substr(x + 1).c_str()) * scale;
  return true;
}

TEST(Media, TableIsConsistent) {
  std::set<int> codes;
  std::set<std::string> names;
  for (const auto& m : MediaTable()) {
    SCOPED_TRACE(m.pwg);
    EXPECT_TRUE(codes.insert(m.code).second);
    EXPECT_TRUE(names.insert(m.pwg).second);
    double w = 0, h = 0;
    ASSERT_TRUE(SizeFromPwg(m.pwg, w, h));
    EXPECT_LE(std::abs(w - m.width), 10);
    EXPECT_LE(std::abs(h - m.length), 10);
    EXPECT_LE(m.width, m.length);
    EXPECT_EQ(MediaByCode(m.code), &m);
    EXPECT_EQ(MediaByPwg(m.pwg), &m);
  }
  EXPECT_EQ(MediaBySize(2100, 2970)->code, 9);
  EXPECT_EQ(MediaBySize(2159, 2794)->code, 1);
  EXPECT_EQ(MediaBySize(1100, 2200)->code, 27);  // DL before its twin PRC #5
  EXPECT_EQ(MediaBySize(1234, 2345), nullptr);
  EXPECT_EQ(MediaByCode(0), nullptr);
  EXPECT_EQ(MediaByPwg("iso_a4"), nullptr);
}

}  // namespace
}  // namespace zv::spool
