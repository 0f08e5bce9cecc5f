#include "driver/dromu/sheets/property_sheets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zv::driver::sheets {
namespace {

constexpr const char* kPrinter = "Zelvora";

// A platform whose printer data "Permission" cannot be written.
class NoPermissionPlatform : public MemoryPlatform {
 public:
  bool SetPrinterData(PrinterHandle h, std::string_view name, const PrinterValue& v) override {
    if (name == "Permission") return false;
    return MemoryPlatform::SetPrinterData(h, name, v);
  }
};

struct Fixture {
  std::unique_ptr<MemoryPlatform> platform;
  std::unique_ptr<dromu::MemoryQueries> queries;
  std::unique_ptr<gastrelo::Resources> res;
  PrinterHandle handle = 0;
  explicit Fixture(bool writable = true) {
    platform = writable ? std::make_unique<MemoryPlatform>() : std::make_unique<NoPermissionPlatform>();
    queries = std::make_unique<dromu::MemoryQueries>(*platform);
    platform->printers[kPrinter];
    queries->printers[kPrinter];
    handle = platform->OpenPrinter(kPrinter);
    auto r = gastrelo::Resources::Load();
    EXPECT_TRUE(r.ok());
    if (r.ok()) res = std::move(*r);
  }
  dromu::Host host() { return {*platform, *queries}; }
};

TEST(PropertySheets, DocumentSheetWritesTheEditedModeOnOk) {
  Fixture f;
  ASSERT_TRUE(f.res);
  struct Case {
    long page;
    std::uint32_t flags;
    bool written;
    bool enabled;
  };
  const Case cases[] = {{1, dromu::kDmCopy, true, true},
                        {0, dromu::kDmCopy, false, true},
                        {1, dromu::kDmPrompt, false, true},
                        {1, dromu::kDmCopy | dromu::kDmNoPermission, true, false}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(564, 0xEE);
    bool enabled = false;
    const long r = RunDocumentSheet(f.host(), f.handle, out, {}, c.flags, *f.res, [&](PaperPageModel& m) {
      enabled = m.enabled();
      m.SelectPaper(2);  // A3 (ignored without permission)
      m.EditMargin(0, "12.34");
      return c.page;
    });
    EXPECT_EQ(r, c.page);
    EXPECT_EQ(enabled, c.enabled);
    EXPECT_EQ(out != std::vector<std::uint8_t>(564, 0xEE), c.written);
    if (!c.written) continue;
    PRIVDEVMODE got;
    std::memcpy(&got, out.data(), sizeof got);
    EXPECT_EQ(got.dm.dmPaperSize, c.enabled ? 8 : 9);
    EXPECT_EQ(got.priv.margin_left, c.enabled ? 123 : 50);
    EXPECT_EQ(got.dm.dmFields & win::DM_FORMNAME, 0u);
    EXPECT_EQ(FieldText(got.dm.dmFormName, 32), "");
  }
  // An output too small is refused.
  std::vector<std::uint8_t> small(100);
  EXPECT_EQ(RunDocumentSheet(f.host(), f.handle, small, {}, dromu::kDmCopy, *f.res, [](PaperPageModel&) { return 1L; }),
            -1);
}

TEST(PropertySheets, PrinterSheetSavesTheRecordWithPermissionOnly) {
  for (bool writable : {true, false}) {
    Fixture f(writable);
    ASSERT_TRUE(f.res);
    bool enabled = !writable;
    EXPECT_TRUE(RunPrinterSheet(f.host(), f.handle, *f.res, [&](PaperPageModel& m) {
      enabled = m.enabled();
      return 1L;
    }));
    EXPECT_EQ(enabled, writable);
    const auto& values = f.platform->printers[kPrinter];
    EXPECT_EQ(values.count("PrinterData") == 1, writable) << writable;
    EXPECT_FALSE(RunPrinterSheet(f.host(), f.handle, *f.res, [](PaperPageModel&) { return 0L; }));
  }
}

TEST(PropertySheets, DocumentEntryPointWithoutSheetClearsTheFormName) {
  Fixture f;
  ASSERT_TRUE(f.res);
  struct Case {
    std::uint32_t flags;
    std::size_t out_size;
    long want;
    bool written;
  };
  const Case cases[] = {{dromu::kDmCopy, 564, 1, true},
                        {dromu::kDmCopy | dromu::kDmPrompt, 564, 1, true},
                        {0, 564, 564, false},
                        {dromu::kDmCopy, 0, 564, false}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.out_size, 0xEE);
    DocumentPropertyHeader h{f.handle, kPrinter, out, {}, c.flags};
    EXPECT_EQ(DrvDocumentPropertySheets(f.host(), nullptr, h), c.want) << c.flags;
    EXPECT_EQ(out != std::vector<std::uint8_t>(c.out_size, 0xEE), c.written) << c.flags;
    if (!c.written) continue;
    PRIVDEVMODE got;
    std::memcpy(&got, out.data(), sizeof got);
    EXPECT_EQ(got.dm.dmSize, 220);
    EXPECT_EQ(got.dm.dmFields & win::DM_FORMNAME, 0u);
    EXPECT_EQ(FieldText(got.dm.dmFormName, 32), "");
  }
  // With a sheet the page runs with the header's permission.
  bool enabled = true;
  SheetInfo sheet{*f.res, [&](PaperPageModel& m) {
                    enabled = m.enabled();
                    return 0L;
                  }};
  std::vector<std::uint8_t> out(564);
  DocumentPropertyHeader h{f.handle, kPrinter, out, {}, dromu::kDmCopy | dromu::kDmNoPermission};
  EXPECT_EQ(DrvDocumentPropertySheets(f.host(), &sheet, h), 0);
  EXPECT_FALSE(enabled);
}

TEST(PropertySheets, DeviceEntryPointsTakeThePermission) {
  struct Case {
    std::uint32_t flags;
    bool enabled, saved;
  };
  const Case cases[] = {{0, true, true}, {kDeviceNoPermission, false, false}};
  for (const Case& c : cases) {
    Fixture f;
    ASSERT_TRUE(f.res);
    bool enabled = !c.enabled;
    SheetInfo sheet{*f.res, [&](PaperPageModel& m) {
                      enabled = m.enabled();
                      return 1L;
                    }};
    EXPECT_EQ(DrvDevicePropertySheets(f.host(), &sheet, {f.handle, c.flags}), 1);
    EXPECT_EQ(enabled, c.enabled);
    EXPECT_EQ(f.platform->printers[kPrinter].count("PrinterData") == 1, c.saved);
    EXPECT_EQ(DrvDevicePropertySheets(f.host(), nullptr, {f.handle, c.flags}), -1);
  }
  Fixture f;
  ASSERT_TRUE(f.res);
  SheetInfo ok{*f.res, [](PaperPageModel&) { return 1L; }}, cancel{*f.res, [](PaperPageModel&) { return 0L; }};
  EXPECT_TRUE(PrinterProperties(f.host(), f.handle, ok));
  EXPECT_FALSE(PrinterProperties(f.host(), f.handle, cancel));
  EXPECT_EQ(DrvDevicePropertySheets(f.host(), &ok, {f.handle + 100, 0}), -1);  // no such printer
}

}  // namespace
}  // namespace zv::driver::sheets
