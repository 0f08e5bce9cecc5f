#include "client/app/page_edit.h"

#include <gtest/gtest.h>

#include <vector>

#include "client/client_doc.h"
#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/testing/temp_root.h"
#include "viewer/page.h"

namespace zv::client::app {
namespace {

constexpr int kAll[] = {kCmdCutPage,     kCmdCopyPage,   kCmdPasteBefore, kCmdPasteAfter,  kCmdDeletePage,
                        kCmdBlankBefore, kCmdBlankAfter, kCmdRotateRight, kCmdRotateLeft};

class PageEditTest : public ::testing::Test {
 protected:
  // A document of jobs A (2 pages) and B (3 pages).
  void SetUp() override {
    const std::string path = root_.str() + "/WXQedit.tmp";
    ASSERT_TRUE(jobdoc::WriteDocumentData(jobdoc::sample::MakeDocument(5, 2, false), jobdoc::DocumentWriteMode::kUnpacked,
                                          path)
                    .ok());
    ASSERT_TRUE(doc_.OnOpenDocument(path, "A", &prompt_));
    jobs_.Add("A", 2);
    jobs_.Add("B", 3);
  }
  std::vector<int> Counts() const {
    std::vector<int> v;
    for (const auto& r : jobs_.rows()) v.push_back(r.pages);
    return v;
  }
  // The page's metafile bytes, which tell the pages apart.
  std::vector<std::uint8_t> Bytes(int page) {
    auto data = doc_.viewer().page(page)->GetPageData();
    std::vector<std::uint8_t> v(data.begin(), data.end());
    doc_.viewer().page(page)->ReleasePageData();
    return v;
  }

  zv::testing::TempRoot root_;
  RecordingPrompt prompt_;
  COstraneDoc doc_;
  JobList jobs_;
  PageEditor editor_{&doc_.viewer(), &jobs_};
};

TEST_F(PageEditTest, MenuLinesAreTheMenusOwnTexts) {
  std::vector<std::pair<int, std::string>> lines;
  for (const PageMenuLine& l : kPageEditMenu)
    lines.emplace_back(l.id, std::string(l.level, '>') + (l.text ? l.text : "-"));
  EXPECT_EQ(lines, (std::vector<std::pair<int, std::string>>{{32771, "ページ切り取り(&X)"},
                                                             {32772, "ページコピー(&C)"},
                                                             {32773, "前のページへ貼り付け(&P)"},
                                                             {32774, "後ろのページへ貼り付け(&Q)"},
                                                             {0, "-"},
                                                             {32776, "ページ削除(&D)"},
                                                             {0, "-"},
                                                             {0, "空白ページ(&B)"},
                                                             {32778, ">前のページへ挿入(&N)"},
                                                             {32779, ">後ろのページへ挿入(&M)"},
                                                             {0, "-"},
                                                             {0, "ページの回転(&T)"},
                                                             {32806, ">右90度回転(&R)"},
                                                             {32805, ">左90度回転(&L)"}}));
}

TEST_F(PageEditTest, EnablingFollowsSelectionHeldPageBlankPagesAndRuns) {
  auto enabled = [this](const PageEditState& s) {
    std::vector<int> on;
    for (int id : kAll)
      if (editor_.Enabled(id, s)) on.push_back(id);
    return on;
  };
  const std::vector<int> no_paste_no_turn = {kCmdCutPage, kCmdCopyPage, kCmdDeletePage, kCmdBlankBefore,
                                             kCmdBlankAfter};
  EXPECT_EQ(enabled({false, -1, 2}), std::vector<int>{});
  EXPECT_EQ(enabled({false, 5, 2}), std::vector<int>{}) << "beyond the pages";
  EXPECT_EQ(enabled({false, 0, 2}), no_paste_no_turn) << "the first page does not turn, nothing is held";
  EXPECT_EQ(enabled({false, 1, 1}), no_paste_no_turn) << "one page per sheet does not turn";

  ASSERT_TRUE(editor_.Run(kCmdCopyPage, {false, 1, 2}));
  EXPECT_EQ(editor_.held_page(), 1);
  EXPECT_EQ(enabled({false, 1, 2}), std::vector<int>(std::begin(kAll), std::end(kAll)));
  EXPECT_EQ(enabled({true, 1, 2}), std::vector<int>{}) << "a run greys every item";

  // A blank page can be deleted, not cut, copied or turned.
  ASSERT_EQ(editor_.Run(kCmdBlankAfter, {false, 1, 2}), 1);
  EXPECT_EQ(enabled({false, 2, 2}),
            (std::vector<int>{kCmdPasteBefore, kCmdPasteAfter, kCmdDeletePage, kCmdBlankBefore, kCmdBlankAfter}));

  // A turned page offers only the way back and the other turn.
  ASSERT_EQ(editor_.Run(kCmdRotateRight, {false, 3, 2}), 3);
  EXPECT_EQ(doc_.viewer().page(3)->GetRotation(), viewer::kTurnClockwise);
  EXPECT_FALSE(editor_.Enabled(kCmdRotateRight, {false, 3, 2}));
  ASSERT_EQ(editor_.Run(kCmdRotateLeft, {false, 3, 2}), 3);
  EXPECT_EQ(doc_.viewer().page(3)->GetRotation(), viewer::kUpright);
  EXPECT_FALSE(editor_.Run(kCmdRotateLeft, {true, 3, 2})) << "nothing runs during a run";
}

TEST_F(PageEditTest, EditsMovePagesAndTheJobRowsFollow) {
  const auto a2 = Bytes(1), b1 = Bytes(2), b3 = Bytes(4);
  struct Step {
    int command, selected;
    std::optional<int> after;
    std::vector<int> counts;
  } steps[] = {
      {kCmdPasteAfter, 0, std::nullopt, {2, 3}},  // nothing held yet
      {kCmdCutPage, 1, -1, {1, 3}},               // A's second page is held and gone
      {kCmdPasteBefore, 1, 2, {1, 4}},            // before B's first page: B's own
      {kCmdPasteAfter, 4, 4, {1, 5}},             // after B's last page
      {kCmdBlankBefore, 0, 1, {2, 5}},            // before A's only page: A's own
      {kCmdDeletePage, 0, -1, {1, 5}},            // the blank page again
      {kCmdDeletePage, 0, -1, {5}},               // A's last page takes its row
  };
  for (const auto& s : steps) {
    EXPECT_EQ(editor_.Run(s.command, {false, s.selected, 2}), s.after) << s.command << " at " << s.selected;
    EXPECT_EQ(Counts(), s.counts) << s.command << " at " << s.selected;
    EXPECT_EQ(jobs_.TotalPages(), doc_.GetAllPage()) << s.command << " at " << s.selected;
  }
  // B now: the cut page, its first page, two pages, its last page and the cut page again.
  EXPECT_EQ(Bytes(0), a2);
  EXPECT_EQ(Bytes(1), b1);
  EXPECT_EQ(Bytes(3), b3);
  EXPECT_EQ(Bytes(4), a2);
}

}  // namespace
}  // namespace zv::client::app
