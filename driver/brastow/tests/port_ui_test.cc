#include "driver/brastow/port_ui.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/lasterror/last_error.h"
#include "platform/testing/temp_root.h"

namespace zv::driver::brastow {
namespace {

struct Fixture {
  testing::TempRoot root;
  PortRegistry registry{(root.path() / "registry").string()};
  std::string shown, caption;
  PortUiHooks ui;
  Fixture() {
    ui.message = [this](std::string_view t, std::string_view c) {
      shown = t;
      caption = c;
    };
  }
};

TEST(PortUi, TableAndTargets) {
  const MonitorUi* t = InitializePrintMonitorUI();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->size, 16u);
  EXPECT_EQ(t->add_port, &AddPort);
  EXPECT_EQ(XcvTarget("", "XcvMonitor", kMonitorName), ",XcvMonitor Wexlan Printer Port");
  EXPECT_EQ(XcvTarget("\\\\srv", "XcvPort", "OLVIPORT :"), "\\\\srv\\,XcvPort OLVIPORT :");
  struct Case {
    const char* port;
    bool com, lpt;
  };
  const Case cases[] = {{"COM1:", true, false}, {"com2:", true, false}, {"LPT1:", false, true},
                        {"lpt3:", false, true}, {"COM1", false, false}, {"OLVIPORT :", false, false},
                        {"COM:", true, false},  {"CO:", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsComPort(c.port), c.com) << c.port;
    EXPECT_EQ(IsLptPort(c.port), c.lpt) << c.port;
  }
}

TEST(PortUi, AddTwiceConfigureDelete) {
  Fixture f;
  std::optional<std::string> name;
  ASSERT_TRUE(AddPort(f.registry, "", 0, kMonitorName, &name));
  EXPECT_EQ(name, "OLVIPORT :");
  name = "stale";
  ASSERT_TRUE(AddPort(f.registry, "", 0, kMonitorName, &name));
  EXPECT_FALSE(name.has_value());
  EXPECT_EQ(f.registry.Ports(), std::vector<std::string>{"OLVIPORT :"});

  ZvSetLastError(0);
  EXPECT_FALSE(ConfigurePort(f.registry, "", 0, kPortName, f.ui));
  EXPECT_EQ(ZvGetLastError(), kErrorCancelled);
  EXPECT_EQ(f.shown, kNothingToConfigure);
  EXPECT_EQ(f.caption, kMonitorName);

  EXPECT_FALSE(DeletePort(f.registry, "", 0, "LPT1:"));
  EXPECT_EQ(ZvGetLastError(), kErrorNotSupported);
  EXPECT_TRUE(DeletePort(f.registry, "", 0, kPortName));
  EXPECT_TRUE(f.registry.Ports().empty());
  EXPECT_FALSE(DeletePort(f.registry, "", 0, kPortName));
  EXPECT_EQ(ZvGetLastError(), kErrorUnknownPort);

  // Another monitor or a remote server cannot be opened: the open's error comes back.
  ZvSetLastError(0);
  EXPECT_FALSE(AddPort(f.registry, "", 0, "Other Monitor", &name));
  EXPECT_EQ(ZvGetLastError(), 1801u);
  EXPECT_FALSE(AddPort(f.registry, "\\\\srv", 0, kMonitorName, &name));
  EXPECT_TRUE(f.registry.Ports().empty());
}

TEST(PortUi, LptTimeoutDialog) {
  struct Case {
    const char* typed;
    const char* shown;
    bool selected;
  };
  const Case cases[] = {{"45", "45", false}, {"0", "45", true},           {"1000000", "45", true}, {"", "45", true},
                        {"12a", "45", true}, {"999999", "999999", false}, {"1", "1", false},       {"-3", "1", true}};
  LptTimeoutModel model(45);
  for (const Case& c : cases) {
    EXPECT_EQ(model.Edit(c.typed), c.shown) << c.typed;
    EXPECT_EQ(model.selected(), c.selected) << c.typed;
  }

  Fixture f;
  f.ui.lpt_dialog = [](LptTimeoutModel& m) {
    EXPECT_EQ(m.text(), "90");
    m.Edit("120");
    return true;
  };
  ASSERT_TRUE(ConfigurePort(f.registry, "", 0, "LPT1:", f.ui));
  EXPECT_EQ(f.registry.Timeout(), 120u);
  f.ui.lpt_dialog = [](LptTimeoutModel& m) {
    m.Edit("7");
    return false;
  };
  ZvSetLastError(0);
  EXPECT_FALSE(ConfigurePort(f.registry, "", 0, "LPT1:", f.ui));
  EXPECT_EQ(ZvGetLastError(), kErrorCancelled);
  EXPECT_EQ(f.registry.Timeout(), 120u);
}

TEST(PortUi, SerialSettingsRoundTrip) {
  Fixture f;
  f.ui.comm_dialog = [](std::string_view port, std::vector<std::uint8_t>& config) {
    EXPECT_EQ(port, "COM1:");
    EXPECT_EQ(config.size(), kCommConfigSize);
    config[8] = 0x5A;
    return true;
  };
  ASSERT_TRUE(ConfigurePort(f.registry, "", 0, "COM1:", f.ui));
  f.ui.comm_dialog = [](std::string_view, std::vector<std::uint8_t>& config) {
    EXPECT_EQ(config.size(), kCommConfigSize);
    EXPECT_EQ(config[8], 0x5A);  // what was confirmed before
    return false;
  };
  EXPECT_FALSE(ConfigurePort(f.registry, "", 0, "COM1:", f.ui));
  EXPECT_EQ(ZvGetLastError(), kErrorCancelled);
}

TEST(PortUi, SerialSettingsInTheRecord) {
  std::vector<std::uint8_t> rec(kCommConfigSize, 0);
  rec[0] = kCommConfigSize;
  auto fresh = ReadCommSettings(rec);
  ASSERT_TRUE(fresh);  // a zeroed record shows the defaults
  EXPECT_EQ(fresh->baud, 9600u);
  EXPECT_EQ(fresh->data_bits, 8);
  rec[16] = 0x01;  // binary mode, kept across writes
  rec[40] = 0x77;  // beyond the control block, untouched
  struct Case {
    CommSettings s;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {{115200, 7, 2, 2, FlowControl::kXonXoff}, 0x1313},
      {{2400, 5, 0, 1, FlowControl::kHardware}, 0x202D},
      {{9600, 8, 4, 0, FlowControl::kNone}, 0x1013},
  };
  for (const Case& c : cases) {
    WriteCommSettings(c.s, rec);
    std::uint32_t flags;
    std::memcpy(&flags, rec.data() + 16, 4);
    EXPECT_EQ(flags, c.flags) << c.s.baud;
    auto back = ReadCommSettings(rec);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->baud, c.s.baud);
    EXPECT_EQ(back->data_bits, c.s.data_bits);
    EXPECT_EQ(back->parity, c.s.parity);
    EXPECT_EQ(back->stop_bits, c.s.stop_bits);
    EXPECT_EQ(back->flow, c.s.flow);
  }
  EXPECT_EQ(rec[40], 0x77);
  // Too short, by length or by its own size field: nothing to show.
  EXPECT_FALSE(ReadCommSettings(std::span(rec).first(35)));
  rec[0] = 20;
  EXPECT_FALSE(ReadCommSettings(rec));
}

}  // namespace
}  // namespace zv::driver::brastow
