// The console's graph window: a top-level frame (CChartFrame) with its menu and tool bar,
// holding one view (CChartView) that draws a CChartDoc with Qt Charts. The 3-D types draw as
// their flat kinds and keep their codes. Texts are drawn in the IPAPGothic face.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QWidget>
#include <functional>
#include <memory>

#include "console/graph/chart_doc.h"

class QAction;
class QActionGroup;
class QChart;
class QChartView;
class QPageLayout;
class QPrinter;
class QRadioButton;
class QSpinBox;
class QDateEdit;

namespace zv::console {

class CConsoleSettings;

// Takes a command and its prompt text, the status-bar prompt and the tool tip joined by
// "\n"; gives the command both halves, the tool tip also as its tool bar button's text.
void SetCommandPrompt(QAction* action, const QString& prompt);

// Command ids of the graph window's menu and tool bar.
enum ChartCommand : int {
  kCmdStandard = 32780,
  kCmdThisMonth = 32781,
  kCmdThisWeek = 32782,
  kCmdChosenPeriod = 32784,
  kCmdExit = 32804,
  kCmdPrint = 32805,
  kCmdPageSetup = 32806,
  kCmdLine = 32807,
  kCmdLine3D = 32808,
  kCmdBar = 32809,
  kCmdBar3D = 32810,
};

// The view: a chart filled from the document at each update.
class CChartView : public QWidget {
 public:
  // Takes the document (which must outlive the view) and the parent.
  explicit CChartView(CChartDoc& doc, QWidget* parent = nullptr);
  // Fills the chart from the document's data and graph type, and shows it.
  void Update();
  QChart* Chart() const { return chart_; }
  QChartView* ChartView() const { return view_; }
  // Takes a printer; draws the chart on one page scaled to fit. Gives false when the
  // printer could not be started.
  bool PrintTo(QPrinter& printer);

 private:
  CChartDoc& doc_;
  QChart* chart_;
  QChartView* view_;
};

// The chosen-period dialog: past N months, past N days or a date range.
class ChartPeriodDialog : public QDialog {
 public:
  // Takes the period to start from and the parent.
  ChartPeriodDialog(const ChartPeriod& period, QWidget* parent = nullptr);
  // Gives the period as chosen (kind 4).
  ChartPeriod Chosen() const;
  QRadioButton* months_choice;
  QRadioButton* days_choice;
  QRadioButton* range_choice;
  QSpinBox* months;
  QSpinBox* days;
  QDateEdit* first_day;
  QDateEdit* last_day;
};

class CChartFrame : public QMainWindow {
 public:
  // Takes the document, the settings store (placement and graph type; may be null), the
  // sink for messages 22 and 46 and the main window (for the first placement and the
  // minimum size; may be null). The window takes the saved "Graph" placement, or the main
  // window's rectangle moved down and shortened by one caption height when all four are 0.
  CChartFrame(CChartDoc& doc, CConsoleSettings* settings, MessageSink& sink, QWidget* main_window = nullptr);
  ~CChartFrame() override;

  // Takes user rows; hands them to the document; on failure shows message 46 and gives false.
  bool SetItems(const std::vector<engine::UserRecord>& users);
  // Runs a command by id as the menu and tool bar do.
  void RunCommand(int id);
  // Gives the action of a command id (null when none).
  QAction* Action(int id) const;
  CChartView* View() const { return view_; }
  QPrinter& Printer() { return *printer_; }
  // Replaces the chosen-period dialog (tests): the function takes the document's period
  // and gives true with the chosen one on OK.
  void SetPeriodChooser(std::function<bool(ChartPeriod*)> chooser) { chooser_ = std::move(chooser); }
  // Replaces the print dialog (tests): gives true to print to Printer() as it is set up.
  void SetPrintConfirm(std::function<bool(QPrinter&)> confirm) { confirm_print_ = std::move(confirm); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void Recalculate();
  void UpdateChecks();
  void SavePlacement();

  CChartDoc& doc_;
  CConsoleSettings* settings_;
  MessageSink& sink_;
  QWidget* main_window_;
  CChartView* view_;
  std::unique_ptr<QPrinter> printer_;
  std::map<int, QAction*> actions_;
  std::function<bool(ChartPeriod*)> chooser_;
  std::function<bool(QPrinter&)> confirm_print_;
};

}  // namespace zv::console
