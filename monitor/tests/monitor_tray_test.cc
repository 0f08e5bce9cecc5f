// The monitor's tray icon on a private X server (with_tray.sh): the test starts and stops the
// tray host (trayer) itself, so it sees a desktop without a tray, a tray appearing and a tray
// restarted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <functional>
#include <optional>

#include "client/config.h"
#include "monitor/welmoric/monitor_window.h"
#include "platform/process/process.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::monitor {
namespace {

// Runs the event loop until `done` holds, at most `ms`; gives whether it held.
bool WaitFor(const std::function<bool()>& done, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  return done();
}

// A tray host for the life of the object; the tray is claimed once the constructor returns.
class TrayHost {
 public:
  TrayHost() {
    process::StartOptions o;
    o.argv = {"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100", "--height", "24"};
    o.output_file = "/dev/null";
    auto p = process::Start(o);
    EXPECT_TRUE(p.ok()) << p.status().ToString();
    if (p.ok()) process_ = std::move(*p);
    EXPECT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
  }
  ~TrayHost() {
    if (!process_) return;
    (void)process_->Kill(15);
    (void)process_->Wait(10000);
    EXPECT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
  }

 private:
  std::optional<process::Process> process_;
};

class WelmoricTray : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::testing::QtApp();
    std::filesystem::create_directories(root_.str() + "/share/PrintInfo");
    ASSERT_TRUE(client::JoinServer(root_.str() + "/share", "SRV", "Zelvora", root_.str() + "/app").ok());
  }
  // The icon sits in a tray: shown and given a place by the tray host.
  static bool Docked(CMainFrame& w) {
    return w.tray() != nullptr && w.tray()->isVisible() && !w.tray()->geometry().isEmpty();
  }
  zv::testing::TempRoot root_;
};

TEST_F(WelmoricTray, DocksWithItsTooltipAndMenu) {
  TrayHost tray;
  std::vector<QString> notices;
  CMainFrame w([&](const QString& s) { notices.push_back(s); });
  ASSERT_TRUE(w.ok());
  ASSERT_TRUE(w.has_tray());
  EXPECT_TRUE(notices.empty());
  EXPECT_FALSE(w.isVisible());  // hidden at start, reached through the tray
  EXPECT_TRUE(w.tray()->isVisible());
  EXPECT_EQ(w.tray()->toolTip(), "Zelvora Spooler");
  QStringList items;
  for (QAction* a : w.tray_menu()->actions()) items << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items, (QStringList{QString::fromUtf8("スプーラを開く(&S)"), QString::fromUtf8("スプーラを閉じる(&H)"), "-",
                                QString::fromUtf8("監視を一時停止(&T)")}));

  // Pausing ticks the menu's pause entry when the menu opens.
  w.TogglePause();
  w.tray_menu()->popup(QPoint(700, 30));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
  EXPECT_TRUE(w.tray_menu()->actions().back()->isChecked());
  EXPECT_TRUE(w.tray_menu()->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/welmoric-tray-menu.png")));
  w.tray_menu()->hide();

  // The menu's open entry shows the window.
  w.tray_menu()->actions().front()->trigger();
  EXPECT_TRUE(w.isVisible());
}

// A desktop without a tray: the notice once, the list window stays hidden and monitoring
// runs; the icon is made when a tray appears, and made again when the tray is restarted.
TEST_F(WelmoricTray, MakesItsIconWhenATrayAppearsAndAgainAfterARestart) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  std::vector<QString> notices;
  CMainFrame w([&](const QString& s) { notices.push_back(s); });
  ASSERT_TRUE(w.ok());
  EXPECT_FALSE(w.has_tray());
  EXPECT_EQ(notices, std::vector<QString>{QString::fromUtf8(kNoTrayText)});
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.monitoring());
  {
    TrayHost tray;
    EXPECT_TRUE(WaitFor([&] { return Docked(w); }));
  }
  // The tray is gone; a new one takes the icon again.
  TrayHost again;
  EXPECT_TRUE(WaitFor([&] { return Docked(w); }));
  EXPECT_EQ(notices.size(), 1u);  // no further notice
  EXPECT_FALSE(w.isVisible());
  // The list window opens from the tray's menu.
  w.tray_menu()->actions().front()->trigger();
  EXPECT_TRUE(w.isVisible());
  w.WaitIdle();
  EXPECT_TRUE(w.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/welmoric-list.png")));
}

}  // namespace
}  // namespace zv::monitor
