#include "client/printer_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "client/qt/status_popup.h"
#include "platform/snmp/testing/snmpd.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

using snmp::testing::Agent;
using snmp::testing::Object;

constexpr char kConsole[] = ".1.3.6.1.2.1.43.16.5.1.2.1.";
constexpr char kCode[] = ".1.3.6.1.2.1.43.18.1.1.7.1.";
constexpr char kDesc[] = ".1.3.6.1.2.1.43.18.1.1.8.1.";

std::vector<Object> Table(std::vector<std::string> console, std::vector<std::pair<int, std::string>> alerts) {
  std::vector<Object> t;
  for (size_t i = 0; i < console.size(); ++i) t.push_back({kConsole + std::to_string(i + 1), "string", console[i]});
  for (size_t i = 0; i < alerts.size(); ++i) {
    t.push_back({kCode + std::to_string(i + 1), "integer", std::to_string(alerts[i].first)});
    t.push_back({kDesc + std::to_string(i + 1), "string", alerts[i].second});
  }
  return t;
}

class PrinterStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto a = Agent::Start(root_.str() + "/snmpd", kSnmpCommunity);
    ASSERT_TRUE(a.ok()) << a.status().ToString();
    agent_ = std::move(*a);
  }
  zv::testing::TempRoot root_;
  std::unique_ptr<Agent> agent_;
};

TEST_F(PrinterStatusTest, StatusTextsOfThePrinterStates) {
  struct Case {
    const char* name;
    std::vector<Object> table;
    std::string popup;
  } cases[] = {
      {"ready, no alerts: console lines and an empty line", Table({"READY", "ONLINE"}, {}), "READY\r\nONLINE\r\n\r\n"},
      {"jam replaces the console text", Table({"READY"}, {{8, "紙づまり"}}), "紙づまり\r\n\r\n"},
      {"toner low goes under the heading", Table({"READY"}, {{1104, "トナー残量少"}}),
       "READY\r\n\r\n<その他情報>\r\nトナー残量少"},
      {"serious and warning alerts mixed, other codes ignored",
       Table({"READY", "ONLINE"},
             {{807, "用紙残量少"}, {3, "カバーオープン"}, {5, "ドア"}, {1101, "トナー切れ"}, {1105, "インク残量少"}}),
       "カバーオープン\r\nトナー切れ\r\n\r\n<その他情報>\r\n用紙残量少\r\nインク残量少"},
      {"CP932 descriptions are decoded", Table({}, {{808, "\x97\x70\x8e\x86\x90\xd8\x82\xea"}}), "用紙切れ\r\n\r\n"},
      {"a value longer than 255 characters is skipped", Table({std::string(256, 'x'), "READY"}, {}), "READY\r\n\r\n"},
      {"nothing at all", Table({}, {}), "\r\n\r\n"},
  };
  // The next column's object right after the console rows ends the console column.
  cases[0].table.push_back({".1.3.6.1.2.1.43.16.5.1.3.1.1", "string", "FOREIGN"});
  for (Case& c : cases) {
    ASSERT_TRUE(agent_->Serve(c.table).ok());
    StatusOutcome o = RunStatusQuery(agent_->address());
    EXPECT_EQ(o.kind, StatusOutcome::kShown) << c.name;
    EXPECT_EQ(o.popup_text, c.popup) << c.name;
  }
}

TEST(PrinterStatusTexts, PiecesPastTheLimitAreDropped) {
  StatusColumns cols;
  cols.console = {std::string(300, 'a'), std::string(300, 'b'), "READY"};
  StatusTexts t = ComposeStatusTexts(cols);
  EXPECT_EQ(t.main, std::string(300, 'a') + "\r\nREADY");
  cols = {};
  cols.codes = {"8", "8"};
  cols.descriptions = {std::string(250, 'x')};  // a missing description counts as empty
  EXPECT_EQ(ComposeStatusTexts(cols).main, std::string(250, 'x') + "\r\n");
}

// A display that records, and a poster whose tasks the test runs.
struct Recorder : StatusDisplay {
  std::vector<std::string> shown;
  int hidden = 0;
  std::vector<std::string> messages;
  void ShowStatus(const std::string& t) override { shown.push_back(t); }
  void HideStatus() override { ++hidden; }
  void StatusMessage(const std::string& t) override { messages.push_back(t); }
};
struct Queue {
  std::mutex mu;
  std::deque<std::function<void()>> tasks;
  PrinterStatusService::Poster poster() {
    return [this](std::function<void()> f) {
      std::lock_guard<std::mutex> l(mu);
      tasks.push_back(std::move(f));
    };
  }
  // Runs tasks until the service is idle and nothing waits.
  void Drain(PrinterStatusService& s) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
      std::deque<std::function<void()>> now;
      {
        std::lock_guard<std::mutex> l(mu);
        now.swap(tasks);
      }
      for (auto& f : now) f();
      if (now.empty() && !s.busy()) {
        std::lock_guard<std::mutex> l(mu);
        if (tasks.empty()) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

TEST_F(PrinterStatusTest, OnlyTheSelectedPrintersResultIsShown) {
  ASSERT_TRUE(agent_->Serve(Table({"READY"}, {})).ok());
  Recorder display;
  Queue queue;
  PrinterStatusService service(queue.poster(), &display);
  // "localhost:<port>" and the dotted form are two printers on the same agent.
  service.OnPrinterSelected("localhost:" + std::to_string(agent_->port()));
  service.OnPrinterSelected(agent_->address());
  queue.Drain(service);
  EXPECT_EQ(display.hidden, 2);
  EXPECT_EQ(display.shown, std::vector<std::string>{"READY\r\n\r\n"});

  // Timer 4 asks again unless a print runs; the message mode shows the main text.
  service.OnTimer4(true);
  EXPECT_FALSE(service.busy());
  ASSERT_TRUE(agent_->Serve(Table({"READY"}, {{8, "紙づまり"}})).ok());
  service.OnTimer4(false);
  queue.Drain(service);
  EXPECT_EQ(display.shown.back(), "紙づまり\r\n\r\n");
  service.QueryPrinterStatus(agent_->address(), 1);
  queue.Drain(service);
  EXPECT_EQ(display.messages, std::vector<std::string>{"紙づまり"});

  // No address: the popup is cleared, nothing is asked.
  service.OnPrinterSelected("");
  EXPECT_EQ(display.shown.back(), "");
  EXPECT_FALSE(service.busy());
}

TEST_F(PrinterStatusTest, ADeadAgentFailsOnceAndStopsTheQueries) {
  ASSERT_TRUE(agent_->Serve(Table({"READY"}, {})).ok());
  Recorder display;
  Queue queue;
  StatusQueryOptions quick;
  quick.timeout = std::chrono::milliseconds(200);
  PrinterStatusService service(queue.poster(), &display, quick);
  service.OnStartUp("127.0.0.1:" + std::to_string(snmp::testing::FreeUdpPort()));
  queue.Drain(service);
  EXPECT_TRUE(service.failed());
  EXPECT_EQ(display.shown, std::vector<std::string>{kMibFailedText});
  // From now on nothing is asked, not even of a live agent.
  int before = agent_->Requests();
  EXPECT_FALSE(service.QueryPrinterStatus(agent_->address()));
  service.OnPrinterSelected(agent_->address());
  service.OnTimer4(false);
  queue.Drain(service);
  EXPECT_EQ(agent_->Requests(), before);
  EXPECT_EQ(display.shown.size(), 1u);

  // Without the SNMP library no query is ever made.
  PrinterStatusService none(queue.poster(), &display, {}, /*available=*/false);
  EXPECT_FALSE(none.QueryPrinterStatus(agent_->address()));
}

TEST(StatusPopupWidget, SizesToTheLinesAndHidesWhenEmpty) {
  zv::testing::QtApp();
  StatusPopup popup;
  popup.SetText(QString::fromUtf8("カバーオープン\r\nトナー切れ\r\n\r\n<その他情報>\r\n用紙残量少"));
  QSize two = popup.MeasuredSize();
  popup.ShowAt(QPoint(10, 20));
  EXPECT_TRUE(popup.isVisible());
  EXPECT_EQ(popup.pos(), QPoint(10, 20));
  popup.SetText("READY\r\n\r\n");
  EXPECT_LT(popup.MeasuredSize().height(), two.height());
  EXPECT_GT(popup.MeasuredSize().height(), QSize(popup.MeasuredSize()).height() / 2);
  popup.SetText("");
  popup.ShowAt(QPoint(10, 20));
  EXPECT_FALSE(popup.isVisible());

  popup.SetText(QString::fromUtf8("カバーオープン\r\nトナー切れ\r\n\r\n<その他情報>\r\n用紙残量少"));
  popup.ShowAt(QPoint(0, 0));
  std::string dir = zv::testing::BinDir() + "/../artifacts";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(popup.grab().save(QString::fromStdString(dir + "/printer-status-popup.png")));
}

}  // namespace
}  // namespace zv::client
