#include "driver/settings/ppd.h"

#include <gtest/gtest.h>

namespace zv::driver {
namespace {

bool Has(const std::string& text, const std::string& line) {
  return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(DriverPpd, GeneratedFromTheTables) {
  for (PpdQueue q : {PpdQueue::kPassThrough, PpdQueue::kRaster}) {
    const std::string ppd = GeneratePpd(q);
    const bool raster = q == PpdQueue::kRaster;
    SCOPED_TRACE(raster ? "raster" : "pass-through");
    const char* lines[] = {
        "*PageSize A4/A4: \"<</PageSize[595.28 841.89]/ImagingBBox null>>setpagedevice\"",
        "*PageSize Postcard/Postcard: \"<</PageSize[283.46 419.53]/ImagingBBox null>>setpagedevice\"",
        "*ImageableArea A4/A4: \"14.17 14.17 581.1 827.72\"",
        "*ImageableArea A1/A1: \"14.17 14.17 1669.61 2366.93\"",
        "*PaperDimension Legal/Legal: \"612.28 1009.13\"",
        "*DefaultResolution: 200dpi",
        "*Resolution 75dpi/75 dpi: \"<</HWResolution[75 75]>>setpagedevice\"",
        "*Resolution 600dpi/600 dpi: \"<</HWResolution[600 600]>>setpagedevice\"",
        "*DefaultZelvoraLeftMargin: 5mm",
        "*ZelvoraBottomMargin 30mm/30 mm: \"\"",
    };
    for (const char* l : lines) EXPECT_TRUE(Has(ppd, l)) << l;
    EXPECT_FALSE(Has(ppd, "*Resolution 800dpi/800 dpi: \"<</HWResolution[800 800]>>setpagedevice\""));
    EXPECT_EQ(ppd.find("User/"), std::string::npos);
    EXPECT_EQ(Has(ppd, "*cupsFilter2: \"application/pdf application/vnd.zelvora-raster 0 kelvad\""), raster);
    EXPECT_TRUE(Has(ppd, raster ? "*cupsFilter2: \"text/plain application/vnd.zelvora-raster 0 zelvora-texttoraster\""
                                : "*cupsFilter2: \"text/plain application/vnd.cups-pdf 0 zelvora-texttopdf\""));
    EXPECT_EQ(Has(ppd, "*NickName: \"Zelvora Printer (raster)\""), raster);
    EXPECT_EQ(PpdDefault(ppd, "Resolution"), "200dpi");
    EXPECT_EQ(PpdDefault(ppd, "ZelvoraTopMargin"), "5mm");
    EXPECT_EQ(PpdDefault(ppd, "Missing"), std::nullopt);
  }
  EXPECT_EQ(ParseMarginChoice("30mm"), 300);
  EXPECT_EQ(ParseMarginChoice("35mm"), std::nullopt);
  EXPECT_EQ(ParseResolutionChoice("600x600dpi"), 600);
  EXPECT_EQ(ParseResolutionChoice("800dpi"), std::nullopt);
}

}  // namespace
}  // namespace zv::driver
