#include "driver/gastrelo/gastrelo.h"

#include <gtest/gtest.h>

#include "driver/settings/devmode.h"
#include "platform/testing/temp_root.h"

namespace zv::driver::gastrelo {
namespace {

TEST(Gastrelo, LoadsFromTheInstallFolderOnly) {
  auto r = Resources::Load();
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ((*r)->String(kPageTabName), "用紙設定");
  EXPECT_EQ((*r)->DialogTitle(kUserSizeDialog), "ユーザー定義サイズ");
  EXPECT_EQ((*r)->DialogText(kPaperPage, kIdPaperLabel), "用紙サイズ(&Z):");
  EXPECT_EQ((*r)->DialogText(kUserSizeDialog, kIdCancel), "ｷｬﾝｾﾙ");
  EXPECT_FALSE((*r)->String(999).has_value());
  EXPECT_FALSE((*r)->DialogTitle(999).has_value());
  // Every paper and resolution of the tables has its text, the same as the tables'.
  for (const auto& p : Papers()) EXPECT_EQ((*r)->String(p.name_id), p.name) << p.name_id;
  for (const auto& e : ResolutionTable()) EXPECT_EQ((*r)->String(e.label_id), e.label) << e.label_id;

  testing::TempRoot root;
  EXPECT_EQ(Resources::Load("relative/lib").status().code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Resources::Load(root.str()).status().code(), Status::Code::kNotFound);
}

}  // namespace
}  // namespace zv::driver::gastrelo
