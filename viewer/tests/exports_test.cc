// The exported functions of libvinteko, called through the shared library.
#include "viewer/exports.h"

#include <gtest/gtest.h>

#include "platform/gdi/surfaces.h"
#include "platform/testing/temp_root.h"
#include "viewer/tests/fixtures.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {
namespace {

TEST(ExportsTest, CreateLoadDrawAndDelete) {
  zv::testing::TempRoot root;
  CViewerDoc* doc = nullptr;
  ASSERT_EQ(CreateDoc(&doc), 1);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(D_TenpuCount(doc), 0);
  EXPECT_EQ(D_TenpuCount(nullptr), 0);
  EXPECT_EQ(V_DrivenThroughExports(), 0);
  jobdoc::DocumentImage d = testing::MakeDocument(1);
  d.attachments.push_back(jobdoc::Attachment{{}, "a.txt", {1, 2, 3}});
  const testing::Bytes image = testing::ImageOf(d);
  EXPECT_EQ(D_NewDocument(doc, image.data(), std::uint32_t(image.size()), 1), 1);
  EXPECT_EQ(V_DrivenThroughExports(), 1);
  EXPECT_EQ(D_TenpuCount(doc), 1);
  EXPECT_EQ(D_NewDocument(doc, nullptr, 10, 1), 0);
  EXPECT_EQ(D_Print(doc, nullptr), 0);
  ASSERT_EQ(D_NewDocument(doc, image.data(), std::uint32_t(image.size()), 1), 1);

  // Flag 0 on an A4 portrait page with the rectangle (0, 0, 200, 100): the page is drawn
  // 200 x 282 and the given rectangle framed.
  auto bmp = gdi::MemoryBitmap::Create(220, 300, 24, 96);
  ASSERT_TRUE(bmp.ok());
  gdi::DeviceContext& dc = (*bmp)->dc();
  dc.FillRgn(gdi::Region(win::RECT{0, 0, 220, 300}), gdi::Brush::Solid(0x808080));
  const win::RECT r{0, 0, 200, 100};
  V_Draw(doc, &dc, &r, 0);
  EXPECT_EQ((*bmp)->Pixel(100, 0), 0u) << "frame top";
  EXPECT_EQ((*bmp)->Pixel(199, 50), 0u) << "frame right";
  EXPECT_EQ((*bmp)->Pixel(100, 99), 0u) << "frame bottom";
  EXPECT_EQ((*bmp)->Pixel(100, 200), 0xFFFFFFu) << "the page goes on below the frame";
  EXPECT_EQ((*bmp)->Pixel(100, 284), 0x808080u) << "and ends at 282";
  V_Draw(nullptr, &dc, &r, 0);
  V_Draw(doc, &dc, nullptr, 0);
  EXPECT_EQ(DeleteDoc(doc), 1);
  EXPECT_EQ(DeleteDoc(nullptr), 1);
}

}  // namespace
}  // namespace zv::viewer
