#include "platform/gdi/handles/handles.h"

#include <gtest/gtest.h>

#include "platform/gdi/emf/builder.h"

namespace zv::gdi {
namespace {

TEST(MetafileHandles, KeepsBytesUntilDeletedAndRefusesNonMetafiles) {
  std::vector<std::uint8_t> page = emf::MetafileBuilder().Rectangle(1, 2, 30, 40).Build();
  std::vector<std::uint8_t> with_tail = page;
  with_tail.insert(with_tail.end(), 36, 0xAB);  // bytes after the metafile are not kept

  HENHMETAFILE a = SetEnhMetaFileBits(with_tail);
  HENHMETAFILE b = SetEnhMetaFileBits(page);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  auto held = GetEnhMetaFileBits(a);
  ASSERT_TRUE(held);
  EXPECT_EQ(*held, page);

  EXPECT_TRUE(DeleteEnhMetaFile(a));
  EXPECT_FALSE(DeleteEnhMetaFile(a));
  EXPECT_EQ(GetEnhMetaFileBits(a), nullptr);
  EXPECT_EQ(*held, page);  // a holder keeps its bytes after the delete
  EXPECT_TRUE(DeleteEnhMetaFile(b));

  std::vector<std::uint8_t> damaged = page;
  damaged[40] = 'X';  // signature
  EXPECT_EQ(SetEnhMetaFileBits(damaged), 0u);
  EXPECT_EQ(SetEnhMetaFileBits({}), 0u);
  EXPECT_EQ(GetEnhMetaFileBits(0), nullptr);
}

}  // namespace
}  // namespace zv::gdi
