#include "driver/dromu/cups_queries.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/spool/testing/private_cupsd.h"

namespace zv::driver::dromu {
namespace {

TEST(DromuCups, InitialisePassesTheQueueThroughToTheBackend) {
  if (spool::testing::PrivateCupsd::skipped()) GTEST_SKIP() << "needs root";
  auto cupsd = spool::testing::PrivateCupsd::StartWithOwnServerBin({{"Zelvora"}});
  ASSERT_TRUE(cupsd->ok()) << cupsd->error();
  MemoryPlatform platform;
  platform.printers["Zelvora"];
  CupsQueries queries([&](PrinterHandle h) { return platform.PrinterName(h); }, cupsd->serverbin());
  Host host{platform, queries};

  // Without the backend the print processor is missing and cannot be added: nothing changes.
  EXPECT_TRUE(DrvPrinterEvent(host, "Zelvora", kEventInitialize, 0));
  PrinterHandle h = platform.OpenPrinter("Zelvora");
  auto info = queries.GetPrinter(h);
  ASSERT_TRUE(info.has_value());
  EXPECT_TRUE(info->print_processor.empty());

  const auto backend = cupsd->serverbin() / "backend" / "zelvora";
  // A new file, never one written through whatever stands at that name.
  ::unlink(backend.c_str());
  std::ofstream(backend) << "#!/bin/sh\nexit 0\n";
  ::chmod(backend.c_str(), 0700);
  EXPECT_TRUE(DrvPrinterEvent(host, "Zelvora", kEventInitialize, 0));
  info = queries.GetPrinter(h);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->print_processor, kPrintProcessor);
  EXPECT_EQ(queries.GetPrinter(0), std::nullopt);
  platform.ClosePrinter(h);
}

}  // namespace
}  // namespace zv::driver::dromu
