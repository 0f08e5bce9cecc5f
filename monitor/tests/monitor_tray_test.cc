#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>

#include "client/config.h"
#include "monitor/welmoric/monitor_window.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::monitor {
namespace {

TEST(WelmoricTray, DocksWithItsTooltipAndMenu) {
  zv::testing::QtApp();
  zv::testing::TempRoot root;
  std::filesystem::create_directories(root.str() + "/share/PrintInfo");
  ASSERT_TRUE(client::JoinServer(root.str() + "/share", "SRV", "Zelvora", root.str() + "/app").ok());
  // The tray host may take a moment to claim the tray.
  QElapsedTimer t;
  t.start();
  while (!QSystemTrayIcon::isSystemTrayAvailable() && t.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());

  std::vector<QString> notices;
  MonitorWindow w([&](const QString& s) { notices.push_back(s); });
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
  std::string dir = zv::testing::BinDir() + "/../artifacts";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(w.tray_menu()->grab().save(QString::fromStdString(dir + "/welmoric-tray-menu.png")));
  w.tray_menu()->hide();

  // The menu's open entry shows the window.
  w.tray_menu()->actions().front()->trigger();
  EXPECT_TRUE(w.isVisible());
}

}  // namespace
}  // namespace zv::monitor
