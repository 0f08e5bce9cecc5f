#include "monitor/welmoric/monitor_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "client/config.h"
#include "client/handover.h"
#include "client/prompt.h"
#include "engine/hevrasto/share_files.h"
#include "platform/process/process.h"
#include "platform/sync/guard.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/qt/qt_pump.h"

namespace zv::monitor {
namespace {

namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Artifact(const std::string& name) {
  std::string dir = zv::testing::BinDir() + "/../artifacts";
  fs::create_directories(dir);
  return dir + "/" + name;
}

std::vector<ResultPopup*> Popups() {
  std::vector<ResultPopup*> out;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = dynamic_cast<ResultPopup*>(w); p && p->isVisible()) out.push_back(p);
  return out;
}

class WelmoricTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = &zv::testing::QtApp(); }
  void SetUp() override {
    share_ = root_.str() + "/server-share";
    fs::create_directories(share_ + "/PrintInfo");
    fs::create_directories(share_ + "/Result");
    ASSERT_TRUE(client::JoinServer(share_, "SRV", "Zelvora", root_.str() + "/app").ok());
    pump_ = std::make_unique<winmsg::QtMessagePump>();
  }
  void Request(int slot, const std::string& body) {
    char name[32];
    std::snprintf(name, sizeof name, "order%02d.lst", slot);
    Write(share_ + "/PrintInfo/" + name, "[RequestInfo]\r\n" + body);
  }
  std::string Answer(const std::string& name, const std::string& text) {
    std::string p = share_ + "/Result/" + name;
    Write(p, text);
    return p;
  }
  static QApplication* app_;
  zv::testing::TempRoot root_;
  std::string share_;
  std::unique_ptr<winmsg::QtMessagePump> pump_;
};
QApplication* WelmoricTest::app_ = nullptr;

TEST_F(WelmoricTest, ListsRequestsShowsAnswersAndPauses) {
  Request(1,
          "JobName=見積書.pdf\r\nAccountName=alice\r\nDeviceName=Office-A4\r\nJobPages=3\r\nPaperSize=9\r\n"
          "ThumbnailCount=0\r\nCopies=1\r\n");
  Request(2,
          "JobName=週報.xlsx\r\nAccountName=bob\r\nDeviceName=Office-A3\r\nJobPages=12\r\nPaperSize=8\r\n"
          "ThumbnailCount=2\r\nCopies=2\r\n");
  Request(3,
          "JobName=案内状.docx\r\nAccountName=carol\r\nDeviceName=Office-A4\r\nJobPages=1\r\nPaperSize=-1\r\n"
          "ThumbnailCount=1\r\nCopies=30\r\n");
  std::vector<QString> notices;
  CMainFrame w([&](const QString& t) { notices.push_back(t); });
  ASSERT_TRUE(w.ok());
  // Offscreen there is no tray: said once, monitoring goes on with the list hidden until
  // someone opens it (a second start does).
  EXPECT_FALSE(w.has_tray());
  EXPECT_EQ(notices, std::vector<QString>{QString::fromUtf8(kNoTrayText)});
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.monitoring());
  w.ShowMonitor();
  w.WaitIdle();  // the list is read on the worker
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Zelvora Server - \\\\SRV"));
  ASSERT_EQ(w.view()->rowCount(), 3);
  EXPECT_EQ(w.count_text(), QString::fromUtf8("キューに3個のドキュメント"));
  EXPECT_EQ(w.view()->item(1, 5)->text(), "A3");
  EXPECT_EQ(w.view()->item(1, 6)->text(), QString::fromUtf8("4分割"));
  EXPECT_EQ(w.view()->item(2, 5)->text(), QString::fromUtf8("文書の設定用紙"));
  // At the default place with no widths stored: every column whole in the window, and each
  // cell's text on one line within its column.
  w.resize(w.size());
  QApplication::processEvents();
  const QTableWidget* view = w.view();
  EXPECT_FALSE(view->wordWrap());
  EXPECT_LE(view->horizontalHeader()->sectionViewportPosition(kColumnCount - 1) + view->columnWidth(kColumnCount - 1),
            view->viewport()->width());
  for (int row = 0; row < view->rowCount(); ++row)
    for (int col = 0; col < kColumnCount; ++col)
      EXPECT_LE(view->fontMetrics().horizontalAdvance(view->item(row, col)->text()), view->columnWidth(col) - 8)
          << row << "," << col << " " << view->item(row, col)->text().toStdString();
  EXPECT_EQ(zv::testing::LatinTexts(&w, {"Zelvora", "Server", "SRV"}), std::vector<std::string>{});
  EXPECT_TRUE(w.grab().save(QString::fromStdString(Artifact("welmoric-three-requests.png"))));

  // The client hands over three answer names; a bad name is not queued.
  std::string machine = client::CurrentMachineName(), account = client::CurrentUserName();
  std::string two_line = "order01-" + account + "-" + machine + ".an2";
  std::string silent = "order02-" + account + "-" + machine + ".an2";
  std::string waiting = "order03-" + account + "-" + machine + ".an2";
  client::RecordingPrompt prompt;
  for (const std::string& n : {two_line, silent, waiting, std::string("../../escape.an2")})
    EXPECT_TRUE(client::NotifyMonitor(n, &prompt).ok() || n.find("..") != std::string::npos);
  EXPECT_TRUE(prompt.shown.empty());
  ASSERT_EQ(w.queue().size(), 3u);

  std::string p1 = Answer(two_line,
                          "[PrintResult]\r\nResult=4\r\n[ErrorMessage]\r\nTitle=印刷制限\r\n"
                          "Message=今月の印刷枚数の上限を超えました。##KAIGYOU_POS##管理者に連絡してください。\r\n");
  std::string p2 = Answer(silent, "[PrintResult]\r\nResult=0\r\n[NormalMessage]\r\nTitle=印刷実行\r\n");
  std::string p3 = Answer(waiting, "[PrintResult]\r\nResult=\r\n");
  w.OnTimer();
  w.WaitIdle();
  std::vector<ResultPopup*> popups = Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0]->windowTitle(), QString::fromUtf8("印刷制限"));
  auto* label = popups[0]->findChild<QLabel*>("1003");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString::fromUtf8("今月の印刷枚数の上限を超えました。\n管理者に連絡してください。[4]"));
  EXPECT_TRUE(popups[0]->grab().save(QString::fromStdString(Artifact("welmoric-result-popup.png"))));
  EXPECT_FALSE(fs::exists(p2));  // result 0 without a message: no popup, copy removed
  EXPECT_TRUE(fs::exists(p3));   // an empty result still waits
  ASSERT_EQ(w.queue().size(), 1u);
  EXPECT_EQ(fs::path(w.queue().paths()[0]).filename(), waiting);
  popups[0]->findChild<QPushButton*>("1")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(fs::exists(p1));  // closing the popup removes the copy it read

  // Paused: the list is empty and nothing is polled.
  w.TogglePause();
  EXPECT_EQ(w.state_text(), QString::fromUtf8(kPausedText));
  EXPECT_EQ(w.view()->rowCount(), 0);
  EXPECT_EQ(w.count_text(), QString::fromUtf8("キューに0個のドキュメント"));
  w.TogglePause();
  w.WaitIdle();
  EXPECT_EQ(w.state_text(), QString::fromUtf8(kMonitoringText));
  EXPECT_EQ(w.view()->rowCount(), 3);
}

TEST_F(WelmoricTest, ShowsOnlyItsRequestsAnswerAndSaysWhenNoneCame) {
  std::vector<QString> notices;
  CMainFrame w([&](const QString& t) { notices.push_back(t); });
  ASSERT_TRUE(w.ok());
  w.queue().set_no_answer_grace(std::chrono::milliseconds(0));
  const std::string machine = client::CurrentMachineName(), account = client::CurrentUserName();
  const std::string mine = "0123456789abcdef01234567", other = "fedcba9876543210fedcba98";
  const std::string copy = "order04-" + account + "-" + machine + ".an2";
  Write(share_ + "/PrintInfo/order04.lst", share::SealRequestText("[RequestInfo]\n", mine));
  client::RecordingPrompt prompt;
  ASSERT_TRUE(client::NotifyMonitor(copy, &prompt, std::chrono::milliseconds(5000), mine).ok());
  ASSERT_EQ(w.queue().size(), 1u);
  // The copy a request of this slot left before the slots wrapped: passed over, kept.
  const std::string stale = Answer(copy, "[PrintResult]\r\nResult=0\r\nRequestID=" + other +
                                             "\r\n\r\n[NormalMessage]\r\nTitle=t\r\nMessage=old\r\n");
  w.OnTimer();
  w.WaitIdle();
  EXPECT_TRUE(Popups().empty());
  EXPECT_EQ(w.queue().size(), 1u);
  // The engine took the request and wrote no answer: said once, and the wait goes on.
  fs::remove(share_ + "/PrintInfo/order04.lst");
  for (int tick = 0; tick < 2; ++tick) {
    w.OnTimer();
    w.WaitIdle();
  }
  std::vector<ResultPopup*> popups = Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0]->windowTitle(), QString::fromUtf8(client::kNoAnswerTitle));
  auto* label = popups[0]->findChild<QLabel*>("1003");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString::fromUtf8(client::kNoAnswerText));
  EXPECT_TRUE(popups[0]->grab().save(QString::fromStdString(Artifact("welmoric-no-answer.png"))));
  popups[0]->findChild<QPushButton*>("1")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(fs::exists(stale));
  EXPECT_EQ(w.queue().size(), 1u);
  // Its own answer comes after all: shown.
  Answer(copy, "[PrintResult]\r\nResult=2\r\nRequestID=" + mine +
                   "\r\n\r\n[ErrorMessage]\r\nTitle=Zelvoraサーバ\r\nMessage=own\r\n");
  w.OnTimer();
  w.WaitIdle();
  popups = Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0]->findChild<QLabel*>("1003")->text(), QString::fromUtf8("own[2]"));
  EXPECT_EQ(w.queue().size(), 0u);
  popups[0]->findChild<QPushButton*>("1")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(WelmoricTest, ASecondInstanceOpensTheFirstOnesWindow) {
  auto guard = sync::NamedGuard::TryAcquire(kAppTitle);
  ASSERT_TRUE(guard.ok());
  CMainFrame w(nullptr);
  ASSERT_TRUE(w.ok());
  w.HideMonitor();
  ASSERT_FALSE(w.isVisible());
  process::StartOptions o;
  o.argv = {zv::testing::BinPath("welmoric")};
  o.env = {"QT_QPA_PLATFORM=offscreen"};
  auto second = process::Start(o);
  ASSERT_TRUE(second.ok()) << second.status().ToString();
  QElapsedTimer t;
  t.start();
  while (second->Running() && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  auto code = second->Wait(1000);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(w.isVisible());
}

}  // namespace
}  // namespace zv::monitor
