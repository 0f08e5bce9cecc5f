// The properties command's sheets for a project queue on a real (private) CUPS scheduler:
// the driver's printer sheet opens over the queue, titled with its name, and cannot change
// the administrator's settings.
#include "client/app/driver_sheets.h"

#include <gtest/gtest.h>

#include "driver/dromu/sheets/paper_page.h"
#include "platform/spool/testing/private_cupsd.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/qt_app.h"

namespace zv::client::app {
namespace {

TEST(DriverSheets, TheVirtualPrintersSheetOpensOverItsQueue) {
  zv::testing::QtApp();
  if (spool::testing::PrivateCupsd::skipped()) GTEST_SKIP() << "needs root for cupsd";
  auto cupsd = spool::testing::PrivateCupsd::Start({{"Zelvora"}});
  ASSERT_TRUE(cupsd->ok()) << cupsd->error();
  QString title;
  bool shown = false;
  const Status s = OpenDriverSheets("Zelvora", [&](driver::sheets::SheetDialog& d) {
    d.show();
    shown = true;
    title = d.windowTitle();
    d.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_printer_properties.png"));
    d.reject();
  });
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_TRUE(shown);
  EXPECT_EQ(title, "Zelvora");
  // A queue the scheduler does not have gives no sheet.
  EXPECT_FALSE(OpenDriverSheets("Zelvora-Raster", [](driver::sheets::SheetDialog& d) { d.reject(); }).ok());
}

}  // namespace
}  // namespace zv::client::app
