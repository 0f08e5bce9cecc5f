#include "driver/brastow/port_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/lasterror/last_error.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::driver::brastow {
namespace {

QApplication& App() { return zv::testing::QtApp(); }

void Save(QWidget& w, const char* name) { w.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/" + name)); }

TEST(PortDialogs, LptTimeoutPutsBackTheLastGoodValue) {
  App();
  testing::TempRoot root;
  PortRegistry registry((root.path() / "registry").string());
  PortUiHooks ui = QtPortUiHooks(nullptr, [](QDialog& d) {
    auto& lpt = dynamic_cast<LptTimeoutDialog&>(d);
    d.show();
    EXPECT_EQ(lpt.edit()->text(), "90");
    EXPECT_EQ(lpt.edit()->maxLength(), 6);
    struct Case {
      const char* typed;
      const char* shown;
      bool selected;
    };
    // Seven digits cannot be typed (the edit holds six), so the range's top is reached by 0.
    const Case cases[] = {{"0", "90", true}, {"45", "45", false},         {"x", "45", true},
                          {"0", "45", true}, {"999999", "999999", false}, {"7", "7", false}};
    for (const Case& c : cases) {
      lpt.edit()->selectAll();
      QTest::keyClicks(lpt.edit(), c.typed);
      EXPECT_EQ(lpt.edit()->text(), c.shown) << c.typed;
      EXPECT_EQ(lpt.edit()->hasSelectedText(), c.selected) << c.typed;
    }
    Save(d, "driver_port_lpt_timeout_dialog.png");
    lpt.ok()->click();
  });
  ASSERT_TRUE(ConfigurePort(registry, "", 0, "LPT1:", ui));
  EXPECT_EQ(registry.Timeout(), 7u);
}

TEST(PortDialogs, SerialSettingsAndNothingToConfigure) {
  App();
  testing::TempRoot root;
  PortRegistry registry((root.path() / "registry").string());
  bool confirm = true;
  QString message, caption;
  PortUiHooks ui = QtPortUiHooks(nullptr, [&](QDialog& d) {
    d.show();
    if (auto* box = dynamic_cast<QMessageBox*>(&d)) {
      message = box->text();
      caption = box->windowTitle();
      Save(d, "driver_port_nothing_to_configure.png");
      box->accept();
      return;
    }
    auto& comm = dynamic_cast<CommSettingsDialog&>(d);
    if (confirm) EXPECT_EQ(comm.baud()->currentText(), "9600");  // a fresh record shows the defaults
    else EXPECT_EQ(comm.baud()->currentText(), "19200");
    comm.baud()->setCurrentIndex(comm.baud()->findText("19200"));
    comm.parity()->setCurrentIndex(2);
    comm.flow()->setCurrentIndex(1);
    // The serial settings are our own window: Japanese throughout but for the port's name
    // and the flow control's "Xon / Xoff".
    EXPECT_EQ(testing::LatinTexts(&d, {"COM", "Xon", "Xoff", "OK"}), std::vector<std::string>{});
    Save(d, "driver_port_serial_dialog.png");
    if (confirm) comm.ok()->click();
    else d.reject();
  });
  ASSERT_TRUE(ConfigurePort(registry, "", 0, "COM2:", ui));
  std::vector<std::uint8_t> rec(kCommConfigSize);
  std::uint32_t needed = 0, status = 0;
  std::uint32_t error = 0;
  XcvHandle h = registry.Open(XcvTarget("", "XcvPort", "COM2:"), 1, &error);
  ASSERT_NE(h, 0u);
  const std::uint8_t name[] = {'C', 0, 'O', 0, 'M', 0, '2', 0, 0, 0};
  ASSERT_TRUE(registry.Data(h, "GetDefaultCommConfig", name, rec, &needed, &status));
  registry.Close(h);
  ASSERT_EQ(status, 0u);
  auto saved = ReadCommSettings(rec);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->baud, 19200u);
  EXPECT_EQ(saved->parity, 2);
  EXPECT_EQ(saved->flow, FlowControl::kHardware);

  confirm = false;
  ZvSetLastError(0);
  EXPECT_FALSE(ConfigurePort(registry, "", 0, "COM2:", ui));
  EXPECT_EQ(ZvGetLastError(), kErrorCancelled);

  ZvSetLastError(0);
  EXPECT_FALSE(ConfigurePort(registry, "", 0, "OLVIPORT :", ui));
  EXPECT_EQ(ZvGetLastError(), kErrorCancelled);
  EXPECT_EQ(message, "There is nothing to configure for this port.");
  EXPECT_EQ(caption, "Wexlan Printer Port");
}

}  // namespace
}  // namespace zv::driver::brastow
