// The frame's job list and page edits offscreen: the job rows with their page counts after
// page edits, the job list following the preview, the reduction line, rotation and job
// files, and the page-edit menu with the request following every edit.
#include "client/app/tests/frame_fixture.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QPainter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <utility>

#include "client/app/job_list_page.h"
#include "client/request_file.h"
#include "platform/testing/artifacts.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/viewer_doc.h"

namespace zv::client::app {
namespace {

// Saves the frame with an open menu on it; the menu may reach past the frame, so the
// picture holds both.
void SaveWithMenu(QWidget& frame, QMenu& popup, const char* picture) {
  const QRect menu_rect(frame.mapFromGlobal(popup.pos()), popup.size());
  const QRect all = frame.rect().united(menu_rect);
  QPixmap shot(all.size());
  shot.fill(Qt::darkGray);
  QPainter p(&shot);
  p.drawPixmap(-all.topLeft(), frame.grab());
  p.drawPixmap(menu_rect.topLeft() - all.topLeft(), popup.grab());
  p.end();
  shot.save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + picture));
}

TEST_F(FrameTest, JobRowsFollowPageEditsSoLaterDeletesHitTheRightPages) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 2), "/n", "A"})));
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQb.tmp", 3), "B"), 1);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQc.tmp", 1), "C"), 1);
  auto* tree = f->findChild<QTreeWidget*>("1010");

  f->PickPage(-1);  // a pick of nothing is ignored
  EXPECT_EQ(f->selected_page(), -1);
  f->PickPage(1);                                   // A's last page
  EXPECT_TRUE(MenuCommand(*f, kCmdBlankAfter));      // A grows to 3
  f->PickPage(3);                                   // B's first page
  EXPECT_TRUE(MenuCommand(*f, kCmdDeletePage));      // B shrinks to 2
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"B", 2}, {"C", 1}}));

  // Moving C up puts its one page before B's two.
  tree->setCurrentItem(tree->topLevelItem(2));
  f->job_page()->MoveSelectedJob(true);
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"C", 1}, {"B", 2}}));
  EXPECT_EQ(f->document().GetAllPage(), 6);
  tree->setCurrentItem(tree->topLevelItem(0));
  f->job_page()->MoveSelectedJob(false);
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"C", 1}, {"A", 3}, {"B", 2}}));

  // Deleting A removes exactly its three pages.
  tree->setCurrentItem(tree->topLevelItem(1));
  f->job_page()->DeleteSelectedJob();
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"C", 1}, {"B", 2}}));
  EXPECT_EQ(f->document().GetAllPage(), 3);
  EXPECT_EQ(f->findChild<QLineEdit*>("1014")->text(), "3");
}

TEST_F(FrameTest, JobListFollowsThePreviewTakesArrowKeysAndAsksBeforeDeleting) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQj1.tmp", 3), "/n", "A"})));
  WaitPrinters(*f);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQj2.tmp", 5), "B"), 1);
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQj3.tmp", 1), "C"), 1);
  auto* tree = f->findChild<QTreeWidget*>("1010");
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(3);

  // The row holding the preview's page: A 0-2, B 3-7, C 8; past the end, the last row.
  for (auto [page, row] : std::vector<std::pair<int, int>>{{0, 0}, {2, 0}, {3, 1}, {7, 1}, {8, 2}, {20, 2}}) {
    f->job_page()->SetJobPos(page);
    EXPECT_EQ(f->job_page()->selected_job_row(), row) << page;
  }
  // A page picked in the view selects its job.
  auto* view = f->findChild<viewer::CViewerView*>();
  emit view->hostMessage(viewer::kMsgPageChanged, 1, 4);
  EXPECT_EQ(f->job_page()->selected_job_row(), 1);
  EXPECT_EQ(f->selected_page(), 4);

  // Arrow and page keys move one row and stop at the ends.
  tree->setFocus();
  struct Key {
    Qt::Key key;
    int row;
  } keys[] = {{Qt::Key_Up, 0},   {Qt::Key_Up, 0},   {Qt::Key_PageDown, 1},
              {Qt::Key_Down, 2}, {Qt::Key_Down, 2}, {Qt::Key_PageUp, 1}};
  for (const auto& k : keys) {
    QTest::keyClick(tree, k.key);
    EXPECT_EQ(f->job_page()->selected_job_row(), k.row) << k.key;
  }
  EXPECT_EQ(view->GetCurrentPage(), 3);  // B's first page, one page per sheet

  // No keeps the job; Yes deletes it and the row after takes its place.
  prompt_.answer = PromptAnswer::kNo;
  f->job_page()->DeleteSelectedJob();
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text, "選択したジョブを削除しますか？");
  EXPECT_EQ(prompt_.shown.back().title, "ジョブ編集");
  EXPECT_EQ(Rows(*f).size(), 3u);
  prompt_.answer = PromptAnswer::kYes;
  f->job_page()->DeleteSelectedJob();
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}, {"C", 1}}));
  EXPECT_EQ(f->job_page()->selected_job_row(), 1);
  // The page view hears of a deletion first (0x405) only when it takes every page.
  QSignalSpy notices(view, &viewer::CViewerView::documentNotice);
  auto resets = [&] {
    int n = 0;
    for (const auto& args : notices) n += args.at(0).toUInt() == viewer::kNoticeReset ? 1 : 0;
    return n;
  };
  f->job_page()->DeleteSelectedJob();  // the last row goes: the one before is selected
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 3}}));
  EXPECT_EQ(f->job_page()->selected_job_row(), 0);
  EXPECT_EQ(resets(), 0);
  f->job_page()->DeleteSelectedJob();
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{}));
  EXPECT_EQ(f->document().GetAllPage(), 0);
  EXPECT_EQ(resets(), 1);
}

TEST_F(FrameTest, ReductionLineCountsTheDocumentWheneverItChanges) {
  WritePrinters({"P"});
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.thumbnail = 1;  // 2 pages per sheet
    s.real_count = 30;
    s.original_count = 40;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(StartArgs{}));  // the window exists before any job
  auto* line = f->findChild<QLabel*>("1067");
  EXPECT_EQ(line->text().toStdString(), "削減率:25.0%  印刷枚数:30 総ﾍﾟｰｼﾞ数:40");
  WaitPrinters(*f);
  struct Step {
    std::function<void()> act;
    const char* line;
  } steps[] = {
      {[&] { ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQn1.tmp", 10), "A"), 1); },
       "削減率:30.0%  印刷枚数:35 総ﾍﾟｰｼﾞ数:50"},
      {[&] { f->layout_page()->ChoosePages(4); }, "削減率:34.0%  印刷枚数:33 総ﾍﾟｰｼﾞ数:50"},
      {[&] { ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQn2.tmp", 3), "B"), 1); },
       "削減率:35.8%  印刷枚数:34 総ﾍﾟｰｼﾞ数:53"},
      {[&] {
         f->PickPage(0);
         EXPECT_TRUE(MenuCommand(*f, kCmdDeletePage));
       },
       "削減率:36.5%  印刷枚数:33 総ﾍﾟｰｼﾞ数:52"},
      {[&] { f->ClearReductionRate(); }, "削減率:75.0%  印刷枚数:3 総ﾍﾟｰｼﾞ数:12"},
  };
  for (const auto& step : steps) {
    step.act();
    EXPECT_EQ(line->text().toStdString(), step.line);
  }
}

TEST_F(FrameTest, RotationCommandsAndJobFiles) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQr.tmp", 3), "/n", "R"})));
  auto rotation = [&](int page) { return f->document().viewer().page(page)->GetRotation(); };
  // One page per sheet: no rotation.
  f->PickPage(1);
  EXPECT_FALSE(MenuCommand(*f, kCmdRotateRight));
  EXPECT_EQ(rotation(1), 0);
  f->layout_page()->ChoosePages(2);
  struct Case {
    int page, command;
    bool allowed;
    std::uint16_t after;
  } cases[] = {
      {0, 32806, false, 0},  // the first page
      {1, 32806, true, 1},   // upright -> clockwise
      {1, 32806, false, 1},  // already clockwise
      {1, 32805, true, 0},   // turned -> upright
      {1, 32805, true, 16},  // upright -> counter-clockwise
      {2, 32805, true, 16},
  };
  for (const auto& c : cases) {
    f->PickPage(c.page);
    EXPECT_EQ(MenuCommand(*f, c.command), c.allowed) << c.page << " " << c.command;
    EXPECT_EQ(rotation(c.page), c.after) << c.page << " " << c.command;
  }
  EXPECT_EQ(f->BuildOrder().rotations, (std::vector<std::uint16_t>{0, 16, 16}));

  // A saved job reads back appended, named after its file.
  const std::string saved = root_.str() + "/saved job.prc";
  ASSERT_TRUE(f->job_page()->SaveJob(saved));
  ASSERT_TRUE(f->job_page()->OpenSavedJob(saved));
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"R", 3}, {"saved job", 3}}));
  EXPECT_EQ(f->document().GetAllPage(), 6);
  EXPECT_TRUE(fsys::exists(saved));  // a job file is never deleted after reading
}

TEST_F(FrameTest, PageEditMenuEditsThePagesAndTheRequestFollows) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQe1.tmp", 2), "/n", "A"})));
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQe2.tmp", 3), "B"), 1);
  EXPECT_EQ(f->minimumSize(), QSize(590, 485));

  // The menu as shown: every line, submenu commands under their submenu's title.
  std::unique_ptr<QMenu> menu(f->BuildPageEditMenu(nullptr));
  EXPECT_EQ(menu->title().toStdString(), "ページ編集メニュー");
  std::vector<std::pair<std::string, std::string>> lines;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      lines.emplace_back("-", "");
    } else if (a->menu() != nullptr) {
      for (QAction* sub : a->menu()->actions())
        lines.emplace_back(a->text().toStdString() + "/" + sub->text().toStdString(), sub->objectName().toStdString());
    } else {
      lines.emplace_back(a->text().toStdString(), a->objectName().toStdString());
    }
  }
  EXPECT_EQ(lines, (std::vector<std::pair<std::string, std::string>>{
                       {"ページ切り取り(&X)", "32771"},
                       {"ページコピー(&C)", "32772"},
                       {"前のページへ貼り付け(&P)", "32773"},
                       {"後ろのページへ貼り付け(&Q)", "32774"},
                       {"-", ""},
                       {"ページ削除(&D)", "32776"},
                       {"-", ""},
                       {"空白ページ(&B)/前のページへ挿入(&N)", "32778"},
                       {"空白ページ(&B)/後ろのページへ挿入(&M)", "32779"},
                       {"-", ""},
                       {"ページの回転(&T)/右90度回転(&R)", "32806"},
                       {"ページの回転(&T)/左90度回転(&L)", "32805"},
                   }));

  // Each edit through the menu's own items: the rows, the total and the request follow.
  f->layout_page()->ChoosePages(2);
  auto line_of = [&](const std::string& key) {
    const std::string text = ComposeRequestText(f->BuildOrder());
    const size_t at = text.find("\n" + key + "=");
    return at == std::string::npos ? std::string() : text.substr(at + key.size() + 2, text.find('\n', at + 1) - at - key.size() - 2);
  };
  EXPECT_EQ(line_of("JobPages"), "2,3");
  struct Step {
    int page, command;
    std::vector<std::pair<std::string, int>> rows;
    const char* rotate;
  } steps[] = {
      {1, kCmdCutPage, {{"A", 1}, {"B", 3}}, "0,0,0,0"},
      {3, kCmdPasteAfter, {{"A", 1}, {"B", 4}}, "0,0,0,0,0"},
      {0, kCmdBlankBefore, {{"A", 2}, {"B", 4}}, "0,0,0,0,0,0"},
      {2, kCmdRotateRight, {{"A", 2}, {"B", 4}}, "0,0,1,0,0,0"},
      {0, kCmdDeletePage, {{"A", 1}, {"B", 4}}, "0,1,0,0,0"},
  };
  for (const auto& s : steps) {
    f->PickPage(s.page);
    std::unique_ptr<QMenu> m(f->BuildPageEditMenu(nullptr));
    emit m->aboutToShow();
    QAction* item = m->findChild<QAction*>(QString::number(s.command));
    ASSERT_NE(item, nullptr) << s.command;
    ASSERT_TRUE(item->isEnabled()) << s.command;
    item->trigger();
    EXPECT_EQ(Rows(*f), s.rows) << s.command;
    int total = 0;
    std::string pages;
    for (const auto& [name, n] : s.rows) {
      total += n;
      pages += (pages.empty() ? "" : ",") + std::to_string(n);
    }
    EXPECT_EQ(f->findChild<QLineEdit*>("1014")->text().toInt(), total) << s.command;
    EXPECT_EQ(f->document().GetAllPage(), total) << s.command;
    EXPECT_EQ(line_of("JobPages"), pages) << s.command;
    EXPECT_EQ(line_of("Rotate"), s.rotate) << s.command;
  }

  // A right click on the pages selects the page under the cursor (and keeps it selected
  // when it was) and opens the menu there; on the view's scroll strip no menu opens.
  f->layout_page()->ChoosePages(1);
  f->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  PreviewDrawn(*f);
  auto* host = f->findChild<QWidget*>("view");
  auto* view = f->findChild<viewer::CViewerView*>();
  ASSERT_NE(view, nullptr);
  win::RECT area{};
  view->GetPageArea(&area);
  const QPoint centre((area.left + area.right) / 2, (area.top + area.bottom) / 2);
  // Takes a point of the view and a picture's name; gives whether the menu opened (and
  // saves the frame with the open menu on it). The check runs until the click is over:
  // the click's own message pump may run it before the menu is there.
  auto right_click = [&](QPoint at, const char* picture) {
    bool opened = false, clicking = true;
    std::function<void()> look = [&] {
      if (!clicking) return;
      QMenu* popup = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMenu*>(w); m != nullptr && m->isVisible() && m->objectName() == "139") popup = m;
      if (popup == nullptr) {
        QTimer::singleShot(0, f.get(), look);
        return;
      }
      opened = true;
      if (picture != nullptr) SaveWithMenu(*f, *popup, picture);
      popup->close();
    };
    QTimer::singleShot(0, f.get(), look);
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, host->mapToGlobal(at));
    QApplication::sendEvent(host, &e);
    clicking = false;
    return opened;
  };
  EXPECT_TRUE(right_click(centre, "ostrane_page_edit_menu.png"));
  const int picked = f->selected_page();
  EXPECT_GE(picked, 0);
  EXPECT_TRUE(right_click(centre, nullptr));
  EXPECT_EQ(f->selected_page(), picked);
  ASSERT_LT(area.right, host->width());
  EXPECT_FALSE(right_click(QPoint(host->width() - 2, centre.y()), nullptr));
  QCoreApplication::processEvents();  // the check of the click without a menu ends
}

// The pages with the keyboard alone: F6 puts the focus on the page view, Shift or Ctrl with
// the arrows picks the page after or before, Space lets the picked page go and picks again;
// the menu key and Shift+F10 open the page-edit menu at the picked page, whose access keys
// run its commands.
TEST_F(FrameTest, PagesArePickedAndEditedWithKeysAlone) {
  WritePrinters({"P"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQk1.tmp", 2), "/n", "A"})));
  ASSERT_EQ(SendJob(*f, Capture(tmp_, "WXQk2.tmp", 3), "B"), 1);
  f->show();
  f->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
  PreviewDrawn(*f);
  auto* host = f->findChild<QWidget*>("view");
  QTest::keyClick(f.get(), Qt::Key_F6);
  ASSERT_EQ(QApplication::focusWidget(), host);
  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int picked;
  } keys[] = {
      {Qt::Key_Right, Qt::ShiftModifier, 0},    // none picked: the page at the top
      {Qt::Key_Down, Qt::ShiftModifier, 1},     // the page after
      {Qt::Key_Right, Qt::ControlModifier, 2},  // into the second job
      {Qt::Key_Left, Qt::ShiftModifier, 1},     // the page before
      {Qt::Key_Space, Qt::NoModifier, -1},      // let go
      {Qt::Key_Space, Qt::NoModifier, 0},       // picked again at the top
      {Qt::Key_Right, Qt::ShiftModifier, 1},    // and on
      {Qt::Key_Right, Qt::ShiftModifier, 2},    // to the second job's first page
  };
  for (const Key& k : keys) {
    QTest::keyClick(host, k.key, k.mods);
    QApplication::processEvents();  // the view tells the frame by a posted message
    EXPECT_EQ(f->selected_page(), k.picked) << k.key;
  }
  // The job row follows the picked page as it follows a click.
  auto* list = f->findChild<QTreeWidget*>("1010");
  EXPECT_EQ(list->indexOfTopLevelItem(list->currentItem()), 1);

  // Takes the key that opens the menu, the keys pressed in it and a picture's name; gives
  // whether the menu opened at the picked page.
  auto menu_by = [&](std::function<void()> trigger, std::vector<Qt::Key> in_menu, const char* picture) {
    bool opened = false, pressing = true;
    std::function<void()> look = [&] {
      if (!pressing) return;
      QMenu* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (popup == nullptr || popup->objectName() != "139") {
        QTimer::singleShot(0, f.get(), look);
        return;
      }
      opened = true;
      if (picture != nullptr) SaveWithMenu(*f, *popup, picture);
      for (Qt::Key k : in_menu) QTest::keyClick(popup, k);
    };
    QTimer::singleShot(0, f.get(), look);
    trigger();
    pressing = false;
    return opened;
  };
  auto keys_to_view = [&](Qt::Key key, Qt::KeyboardModifiers mods) {
    return [&, key, mods] { QTest::keyClick(host, key, mods); };
  };
  // The menu key opens the menu; Escape closes it and nothing changes.
  EXPECT_TRUE(menu_by(keys_to_view(Qt::Key_Menu, Qt::NoModifier), {Qt::Key_Escape}, "ostrane_page_menu_keys.png"));
  EXPECT_EQ(f->document().GetAllPage(), 5);
  EXPECT_EQ(f->selected_page(), 2);
  // Shift+F10 and the item's access key: ページ削除(&D) deletes the picked page.
  EXPECT_TRUE(menu_by(keys_to_view(Qt::Key_F10, Qt::ShiftModifier), {Qt::Key_D}, nullptr));
  QApplication::processEvents();
  EXPECT_EQ(f->document().GetAllPage(), 4);
  EXPECT_EQ(Rows(*f), (std::vector<std::pair<std::string, int>>{{"A", 2}, {"B", 2}}));
  // A desktop platform turns the menu key into a menu event of its own, pointing at the
  // view's middle: the menu opens at the picked page all the same (the page stays picked),
  // and the key press that follows opens no second menu.
  for (int i = 0; i < 4 && f->selected_page() != 3; ++i) {
    QTest::keyClick(host, Qt::Key_Right, Qt::ShiftModifier);
    QApplication::processEvents();
  }
  ASSERT_EQ(f->selected_page(), 3);
  EXPECT_TRUE(menu_by(
      [&] {
        QContextMenuEvent e(QContextMenuEvent::Keyboard, QPoint(host->width() / 2, 4), host->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(host, &e);
      },
      {Qt::Key_Escape}, nullptr));
  EXPECT_EQ(f->selected_page(), 3);
  EXPECT_FALSE(menu_by(keys_to_view(Qt::Key_Menu, Qt::NoModifier), {Qt::Key_Escape}, nullptr));
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace zv::client::app
