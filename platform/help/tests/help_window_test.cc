// The help window as a program uses it: opened, opened again (the earlier window closed, a
// new one shown), closed with its owner; the page's anchors followed in the window, every
// other link handed to the desktop's opener; a page that cannot be read named in the window.
#include "platform/help/help_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::help {
namespace {

std::vector<QWidget*> HelpWindows() {
  std::vector<QWidget*> out;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "zvHelpWindow" && w->isVisible()) out.push_back(w);
  return out;
}

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::testing::QtApp();
    page_ = root_.str() + "/help page.html";
    std::ofstream out(page_);
    out << "<html><head><title>テスト ヘルプ</title></head><body><h1>目次</h1>"
           "<p><a href=\"#end\">終わりへ</a> <a href=\"https://example.org/a b\">外へ</a> "
           "<a href=\"other.html\">別のページ</a> <a href=\"mailto:admin@example.jp\">メール</a></p>";
    for (int i = 0; i < 200; ++i) out << "<p>行 " << i << "</p>";
    out << "<h2 id=\"end\">終わり</h2></body></html>";
  }
  zv::testing::TempRoot root_;
  std::string page_;
  std::vector<std::vector<std::string>> opened_;
  Opener opener_ = [this](const std::vector<std::string>& argv) {
    opened_.push_back(argv);
    return true;
  };
};

TEST_F(HelpWindowTest, OpensAgainInANewWindowAndClosesWithItsOwner) {
  {
    HelpViewer viewer(opener_);
    EXPECT_EQ(viewer.window(), nullptr);
    viewer.Open(page_);
    QPointer<HelpWindow> first = viewer.window();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(HelpWindows(), std::vector<QWidget*>{first.data()});
    EXPECT_EQ(first->windowTitle(), "テスト ヘルプ");
    EXPECT_TRUE(first->browser()->toPlainText().contains("終わり"));
    EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));  // never keeps the program running

    // Opened again: the earlier window is gone and a new one shows the page.
    viewer.Open(page_);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(viewer.window(), nullptr);
    EXPECT_EQ(HelpWindows(), std::vector<QWidget*>{viewer.window()});

    // Closed by its user, the window goes; the next help opens a new one.
    QPointer<HelpWindow> second = viewer.window();
    second->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    EXPECT_EQ(viewer.window(), nullptr);
    viewer.Open(page_);
    EXPECT_EQ(HelpWindows().size(), 1u);
  }
  // The owner ended: no help window stays.
  EXPECT_EQ(HelpWindows(), std::vector<QWidget*>{});
  EXPECT_EQ(opened_, std::vector<std::vector<std::string>>{});
}

// Escape and Ctrl+W close the window, and the window that opened it is active again.
TEST_F(HelpWindowTest, EscapeAndCtrlWCloseItAndGiveTheFocusBack) {
  QWidget program;
  program.setObjectName("program");
  program.show();
  HelpViewer viewer(opener_);
  for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::CTRL | Qt::Key_W)}) {
    program.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&program));
    viewer.Open(page_);
    QPointer<HelpWindow> w = viewer.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.data()));
    QTest::keyClick(w->browser(), keys.key(), keys.keyboardModifiers());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull()) << keys.toCombined();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&program)) << keys.toCombined();
    EXPECT_EQ(QApplication::activeWindow(), &program);
  }
}

TEST_F(HelpWindowTest, AnchorsScrollTheWindowOtherLinksGoToTheOpener) {
  HelpViewer viewer(opener_);
  viewer.Open(page_);
  HelpWindow* w = viewer.window();
  ASSERT_NE(w, nullptr);
  QScrollBar* bar = w->browser()->verticalScrollBar();
  ASSERT_EQ(bar->value(), 0);
  emit w->browser()->anchorClicked(QUrl("#end"));
  EXPECT_GT(bar->value(), 0);
  EXPECT_EQ(opened_, std::vector<std::vector<std::string>>{});
  emit w->browser()->anchorClicked(QUrl(QUrl::fromLocalFile(QString::fromStdString(page_)).toString()));
  EXPECT_EQ(bar->value(), 0);  // the page itself: its top

  const std::vector<std::pair<const char*, std::string>> cases = {
      {"https://example.org/a b", "https://example.org/a%20b"},
      {"other.html", root_.str() + "/other.html"},
      {"mailto:admin@example.jp", "mailto:admin@example.jp"},
  };
  for (const auto& [link, want] : cases) {
    opened_.clear();
    emit w->browser()->anchorClicked(QUrl(link));
    EXPECT_EQ(opened_, (std::vector<std::vector<std::string>>{{"xdg-open", want}})) << link;
  }
  EXPECT_EQ(viewer.window(), w);  // still the same window
}

TEST_F(HelpWindowTest, APageThatCannotBeReadIsNamedInTheWindow) {
  HelpViewer viewer(opener_);
  for (const std::string& page : {root_.str() + "/none.html", root_.str()}) {
    viewer.Open(page);
    ASSERT_NE(viewer.window(), nullptr);
    const QString text = viewer.window()->browser()->toPlainText();
    EXPECT_TRUE(text.contains("ヘルプファイルを開けません。")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(page))) << text.toStdString();
    EXPECT_EQ(viewer.window()->windowTitle(), "ヘルプ");
  }
}

}  // namespace
}  // namespace zv::help
