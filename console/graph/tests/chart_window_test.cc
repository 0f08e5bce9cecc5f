#include "console/graph/chart_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QPrinter>
#include <QStyle>
#include <fstream>

#include "console/core/registry_config.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

constexpr int32_t kToday = 20260415;  // a Wednesday

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t) override {
    shown.push_back(text);
    return kIdOk;
  }
  std::vector<std::string> shown;
};

// A print log held in memory: pages by (UID, day).
class MemorySource : public GraphSource {
 public:
  bool SumByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                    std::map<std::pair<int32_t, int32_t>, int64_t>* out) override {
    ++queries;
    if (fail) return false;
    out->clear();
    for (const auto& [key, pages] : log)
      if (key.second >= first && key.second <= last && std::count(uids.begin(), uids.end(), key.first))
        (*out)[key] = pages;
    return true;
  }
  bool EarliestDay(const std::vector<int32_t>&, int32_t* day) override {
    *day = log.empty() ? 0 : 20260301;
    return !fail;
  }
  std::map<std::pair<int32_t, int32_t>, int64_t> log = {
      {{1, 20260413}, 4}, {{1, 20260415}, 5}, {{2, 20260414}, 6}, {{3, 20260416}, 2}, {{2, 20260408}, 3}};
  int queries = 0;
  bool fail = false;
};

std::vector<engine::UserRecord> Users(int n) {
  std::vector<engine::UserRecord> users;
  for (int i = 1; i <= n; ++i) {
    engine::UserRecord u;
    u.UID = i;
    u.Account = "利用者" + std::to_string(i);
    users.push_back(u);
  }
  return users;
}

class ChartWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zv::testing::QtApp(); }
  ChartWindowTest() : doc_(source_, sink_, [] { return GraphEnvironment{kToday, 0, 3, 0, {}}; }) {}

  zv::testing::TempRoot root_;
  MemorySource source_;
  RecordingSink sink_;
  CChartDoc doc_;
};

QStringList Categories(QChart* chart) {
  for (QAbstractAxis* a : chart->axes(Qt::Horizontal))
    if (auto* c = qobject_cast<QCategoryAxis*>(a)) return c->categoriesLabels();
  return {};
}

TEST_F(ChartWindowTest, DrawsEachTypeAndSwitchesBetweenThem) {
  CConsoleSettings settings;
  doc_.LoadSettings(&settings);
  CChartFrame frame(doc_, &settings, sink_);
  frame.resize(900, 600);
  doc_.SetPeriod(2, 0, 1);
  ASSERT_TRUE(frame.SetItems(Users(3)));
  frame.show();
  QChart* chart = frame.View()->Chart();
  EXPECT_EQ(Categories(chart), (QStringList{"04/12", "04/13", "04/14", "04/15", "04/16", "04/17", "04/18"}));
  EXPECT_EQ(chart->title(), "印刷枚数 (今週)<br>2026/04/12(日)～2026/04/18(土)");
  EXPECT_TRUE(frame.Action(kCmdThisWeek)->isChecked());

  struct Case {
    int command;
    int32_t type;
    const char* shot;
  };
  const Case cases[] = {{kCmdBar, kGraphBar, "graph-bar.png"},
                        {kCmdBar3D, kGraphBar3D, "graph-bar-3d.png"},
                        {kCmdLine3D, kGraphLine3D, "graph-line-3d.png"},
                        {kCmdLine, kGraphLine, "graph-line.png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shot);
    frame.RunCommand(c.command);
    EXPECT_EQ(doc_.GraphType(), c.type);
    EXPECT_TRUE(frame.Action(c.command)->isChecked());
    CConsoleSettings stored;
    EXPECT_EQ(stored.GetGraphType(), c.type);
    const QList<QAbstractSeries*> series = chart->series();
    if (c.type == kGraphBar || c.type == kGraphBar3D) {
      ASSERT_EQ(series.size(), 1);
      auto* bars = qobject_cast<QBarSeries*>(series[0]);
      ASSERT_NE(bars, nullptr);
      ASSERT_EQ(bars->count(), 3);
      EXPECT_EQ(bars->barSets()[0]->count(), 7);
      EXPECT_EQ(bars->barSets()[1]->at(2), 6);
      EXPECT_EQ(bars->barSets()[2]->label(), "利用者3");
    } else {
      ASSERT_EQ(series.size(), 3);
      auto* line = qobject_cast<QLineSeries*>(series[0]);
      ASSERT_NE(line, nullptr);
      EXPECT_EQ(line->count(), 7);
      EXPECT_EQ(line->at(3).y(), 5);
      EXPECT_EQ(series[2]->name(), "利用者3");
    }
    EXPECT_EQ(Categories(chart).size(), 7);
    QApplication::processEvents();
    EXPECT_TRUE(frame.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + c.shot)));
  }
}

TEST_F(ChartWindowTest, PeriodCommandsRecalculateOnlyOnChange) {
  CChartFrame frame(doc_, nullptr, sink_);
  doc_.SetPeriod(1, 0, 1);
  ASSERT_TRUE(frame.SetItems(Users(2)));
  EXPECT_EQ(Categories(frame.View()->Chart()).size(), 5);  // the weeks of April 2026
  const int queries = source_.queries;
  frame.RunCommand(kCmdThisMonth);  // the current period again: nothing
  EXPECT_EQ(source_.queries, queries);

  int asked = 0;
  frame.SetPeriodChooser([&](ChartPeriod* p) {
    ++asked;
    EXPECT_EQ(p->kind, asked == 1 ? 1 : 4);
    *p = {4, 2, 1, 20260410, 20260415};
    return asked == 1;  // OK the first time, Cancel the second
  });
  frame.RunCommand(kCmdChosenPeriod);
  EXPECT_EQ(Categories(frame.View()->Chart()), (QStringList{"04/10", "04/11", "04/12", "04/13", "04/14", "04/15"}));
  EXPECT_TRUE(frame.Action(kCmdChosenPeriod)->isChecked());
  frame.RunCommand(kCmdChosenPeriod);  // chosen again: the dialog opens again; Cancel keeps all
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(doc_.Period().start, 20260410);

  // A failed recalculation shows message 46 and keeps the graph.
  source_.fail = true;
  frame.RunCommand(kCmdThisWeek);
  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0], GetAppMessage(46, nullptr));
  EXPECT_EQ(Categories(frame.View()->Chart()).size(), 6);
  EXPECT_FALSE(frame.SetItems(Users(1)));
  EXPECT_EQ(sink_.shown.size(), 2u);
}

TEST_F(ChartWindowTest, PrintsToAPdfFile) {
  CChartFrame frame(doc_, nullptr, sink_);
  frame.resize(800, 500);
  doc_.SetPeriod(2, 0, 1);
  ASSERT_TRUE(frame.SetItems(Users(2)));
  const std::string pdf = (root_.path() / "graph.pdf").string();
  frame.Printer().setOutputFormat(QPrinter::PdfFormat);
  frame.Printer().setOutputFileName(QString::fromStdString(pdf));
  frame.SetPrintConfirm([](QPrinter&) { return true; });
  frame.RunCommand(kCmdPrint);
  std::ifstream in(pdf, std::ios::binary);
  std::string head(5, '\0');
  ASSERT_TRUE(in.read(head.data(), 5));
  EXPECT_EQ(head, "%PDF-");
}

TEST_F(ChartWindowTest, PlacementComesFromTheMainWindowAndIsSavedOnClose) {
  QWidget main;
  main.setGeometry(100, 120, 800, 600);
  main.setMinimumSize(300, 200);
  {
    CConsoleSettings settings;
    auto* frame = new CChartFrame(doc_, &settings, sink_, &main);
    const int caption = frame->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    EXPECT_EQ(frame->geometry(), QRect(100, 120 + caption, 800, 600 - caption));
    EXPECT_EQ(frame->minimumSize(), QSize(300, 200));
    frame->setGeometry(40, 50, 640, 480);
    frame->RunCommand(kCmdExit);
    delete frame;
  }
  CConsoleSettings settings;
  EXPECT_EQ(settings.GetGraphRect(), (CConsoleSettings::Rect{40, 50, 680, 530}));
  CChartFrame again(doc_, &settings, sink_, &main);
  EXPECT_EQ(again.geometry(), QRect(40, 50, 640, 480));
}

TEST_F(ChartWindowTest, LabelsEveryTenthOfThePointsAndKeepsRepeatedDays) {
  CChartFrame frame(doc_, nullptr, sink_);
  struct Case {
    int days;
    int labels;
    const char* first;
    const char* last;
  };
  // 730 days label every 73rd point: points 0 and 365 are both 04/16, 292 and 657 02/02.
  const Case cases[] = {{9, 9, "04/07", "04/15"}, {25, 13, "03/22", "04/15"}, {730, 10, "04/16", "02/02\u200b"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.days);
    doc_.SetPeriod(4, 1, c.days);
    ASSERT_TRUE(frame.SetItems(Users(1)));
    const QStringList labels = Categories(frame.View()->Chart());
    ASSERT_EQ(labels.size(), c.labels);
    EXPECT_EQ(labels.front(), c.first);
    EXPECT_EQ(labels.back(), c.last);
    if (c.days == 730) {
      EXPECT_EQ(labels[5], QString("04/16") + QChar(0x200B));
    }
  }
}

TEST_F(ChartWindowTest, PeriodDialogExchangesTheChosenPeriod) {
  struct Case {
    ChartPeriod given;
    ChartPeriod chosen;
  };
  const Case cases[] = {
      {{4, 0, 6}, {4, 0, 6, 0, 0}},
      {{4, 1, 45}, {4, 1, 45, 0, 0}},
      {{4, 2, 1, 20260301, 20260331}, {4, 2, 1, 20260301, 20260331}},
      {{1, 0, 1}, {4, 0, 1, 0, 0}},  // from this month: past 1 month
  };
  for (const Case& c : cases) {
    ChartPeriodDialog dialog(c.given);
    const ChartPeriod p = dialog.Chosen();
    EXPECT_EQ(p.kind, c.chosen.kind);
    EXPECT_EQ(p.selector, c.chosen.selector);
    EXPECT_EQ(p.before, c.chosen.before);
    if (c.chosen.selector == 2) {
      EXPECT_EQ(p.start, c.chosen.start);
      EXPECT_EQ(p.end, c.chosen.end);
    }
  }
}

}  // namespace
}  // namespace zv::console
