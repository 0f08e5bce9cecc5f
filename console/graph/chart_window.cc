#include "console/graph/chart_window.h"

#include <QAction>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>

#include "console/core/registry_config.h"

namespace zv::console {
namespace {

QFont JapaneseFont(int points, bool bold = false) {
  QFont f("IPAPGothic", points);
  f.setBold(bold);
  return f;
}

QDate ToQDate(int32_t d) { return QDate(d / 10000, d / 100 % 100, d % 100); }
int32_t FromQDate(const QDate& d) { return d.year() * 10000 + d.month() * 100 + d.day(); }

}  // namespace

CChartView::CChartView(CChartDoc& doc, QWidget* parent) : QWidget(parent), doc_(doc), chart_(new QChart) {
  chart_->setBackgroundBrush(Qt::white);
  chart_->setTitleFont(JapaneseFont(12, true));
  chart_->legend()->setFont(JapaneseFont(9));
  chart_->legend()->setAlignment(Qt::AlignRight);
  view_ = new QChartView(chart_, this);
  view_->setRenderHint(QPainter::Antialiasing);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  view_->setVisible(false);
}

void CChartView::Update() {
  const ChartData& d = doc_.Data();
  chart_->removeAllSeries();
  for (QAbstractAxis* axis : chart_->axes()) {
    chart_->removeAxis(axis);
    delete axis;
  }
  chart_->setTitle(QString::fromStdString(d.title) + "<br>" + QString::fromStdString(d.period_text));

  // Every n-th point is labelled, n being a tenth of the points (every point below ten).
  // Labels repeat across years ("%m/%d") and an axis keeps only one of equal labels, so a
  // repeated label is told apart by trailing zero-width spaces.
  const int step = std::max(1, d.point_count / 10);
  auto* x = new QCategoryAxis;
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  std::map<std::string, int> seen;
  for (int p = 0; p < d.point_count; p += step) {
    QString label = QString::fromStdString(d.labels[p]);
    label += QString(seen[d.labels[p]]++, QChar(0x200B));
    x->append(label, p);
  }
  x->setRange(-0.5, std::max(0, d.point_count - 1) + 0.5);
  x->setTitleText(QString::fromStdString(d.unit_text));
  x->setTitleFont(JapaneseFont(9));
  x->setLabelsFont(JapaneseFont(8));
  if (d.point_count > 10) x->setLabelsAngle(-90);
  auto* y = new QValueAxis;
  y->setTitleText("（枚）");
  y->setTitleFont(JapaneseFont(9));
  y->setLabelsFont(JapaneseFont(8));
  y->setLabelFormat("%d");
  chart_->addAxis(x, Qt::AlignBottom);
  chart_->addAxis(y, Qt::AlignLeft);

  float top = 0;
  const int type = doc_.GraphType();
  const bool bars = type == kGraphBar || type == kGraphBar3D;
  QBarSeries* bar_series = bars ? new QBarSeries : nullptr;
  for (int s = 0; s < d.series_count; ++s) {
    const QString name = QString::fromStdString(d.names[s]);
    if (bars) {
      auto* set = new QBarSet(name);
      for (int p = 0; p < d.point_count; ++p) {
        *set << d.values[s][p];
        top = std::max(top, d.values[s][p]);
      }
      bar_series->append(set);
    } else {
      auto* line = new QLineSeries;
      line->setName(name);
      for (int p = 0; p < d.point_count; ++p) {
        line->append(p, d.values[s][p]);
        top = std::max(top, d.values[s][p]);
      }
      chart_->addSeries(line);
      line->attachAxis(x);
      line->attachAxis(y);
    }
  }
  if (bar_series) {
    chart_->addSeries(bar_series);
    bar_series->attachAxis(x);
    bar_series->attachAxis(y);
  }
  y->setRange(0, top > 0 ? top : 1);
  y->applyNiceNumbers();
  view_->setVisible(true);
}

bool CChartView::PrintTo(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRect page = painter.viewport();
  QSize size = view_->size();
  size.scale(page.size(), Qt::KeepAspectRatio);
  painter.setViewport(page.x(), page.y(), size.width(), size.height());
  painter.setWindow(view_->rect());
  view_->render(&painter);
  return painter.end();
}

ChartPeriodDialog::ChartPeriodDialog(const ChartPeriod& period, QWidget* parent) : QDialog(parent) {
  setWindowTitle("期間指定");
  setFont(JapaneseFont(9));
  auto* grid = new QGridLayout(this);
  months_choice = new QRadioButton("過去");
  days_choice = new QRadioButton("過去");
  range_choice = new QRadioButton("日付指定");
  months = new QSpinBox;
  months->setRange(1, 99);
  days = new QSpinBox;
  days->setRange(1, 9999);
  first_day = new QDateEdit;
  last_day = new QDateEdit;
  for (QDateEdit* e : {first_day, last_day}) {
    e->setDisplayFormat("yyyy/MM/dd");
    e->setCalendarPopup(true);
    e->setDate(QDate::currentDate());
  }
  grid->addWidget(months_choice, 0, 0);
  grid->addWidget(months, 0, 1);
  grid->addWidget(new QLabel("ヶ月間"), 0, 2);
  grid->addWidget(days_choice, 1, 0);
  grid->addWidget(days, 1, 1);
  grid->addWidget(new QLabel("日間"), 1, 2);
  grid->addWidget(range_choice, 2, 0);
  grid->addWidget(first_day, 2, 1);
  grid->addWidget(new QLabel("～"), 2, 2);
  grid->addWidget(last_day, 2, 3);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  grid->addWidget(buttons, 3, 0, 1, 4);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Sub-kind 1 takes N as its day count, 2 its two days, any other N as the month count.
  if (period.selector == 1) {
    days_choice->setChecked(true);
    days->setValue(period.before);
  } else if (period.selector == 2) {
    range_choice->setChecked(true);
    if (ToQDate(period.start).isValid()) first_day->setDate(ToQDate(period.start));
    if (ToQDate(period.end).isValid()) last_day->setDate(ToQDate(period.end));
  } else {
    months_choice->setChecked(true);
    months->setValue(period.before);
  }
}

ChartPeriod ChartPeriodDialog::Chosen() const {
  if (range_choice->isChecked()) return {4, 2, 1, FromQDate(first_day->date()), FromQDate(last_day->date())};
  if (days_choice->isChecked()) return {4, 1, days->value(), 0, 0};
  return {4, 0, months->value(), 0, 0};
}

CChartFrame::CChartFrame(CChartDoc& doc, CConsoleSettings* settings, MessageSink& sink, QWidget* main_window)
    : QMainWindow(main_window, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      doc_(doc),
      settings_(settings),
      sink_(sink),
      main_window_(main_window),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  setWindowTitle("グラフ表示");
  setFont(JapaneseFont(9));
  view_ = new CChartView(doc_, this);
  setCentralWidget(view_);
  BuildMenus();
  statusBar();

  // Placement: the saved one, else the main window's moved down and shortened by a caption.
  CConsoleSettings::Rect r;
  if (settings_) r = settings_->GetGraphRect();
  if (settings_ && !r.Empty() && r.right > r.left && r.bottom > r.top) {
    setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
  } else if (main_window_) {
    const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect m = main_window_->geometry();
    setGeometry(m.x(), m.y() + caption, m.width(), std::max(1, m.height() - caption));
  }
  if (main_window_ && main_window_->minimumWidth() >= 1 && main_window_->minimumHeight() >= 1) {
    setMinimumSize(main_window_->minimumSize());
  }
  doc_.SetUpdateHook([this] { view_->Update(); });
  UpdateChecks();
}

CChartFrame::~CChartFrame() {
  doc_.SetUpdateHook(nullptr);
  if (main_window_) {
    main_window_->raise();
    main_window_->show();
  }
}

void SetCommandPrompt(QAction* action, const QString& prompt) {
  const qsizetype split = prompt.indexOf('\n');
  action->setStatusTip(prompt.left(split));
  action->setToolTip(split < 0 ? QString() : prompt.mid(split + 1));
  // A tool bar button reads the short name, not the menu entry with its access key.
  if (split >= 0) action->setIconText(prompt.mid(split + 1));
}

void CChartFrame::BuildMenus() {
  struct Command {
    int id;
    const char* text;
    const char* prompt;
  };
  auto add = [&](QMenu* menu, const Command& c) {
    auto* a = menu->addAction(c.text);
    SetCommandPrompt(a, c.prompt);
    connect(a, &QAction::triggered, this, [this, id = c.id] { RunCommand(id); });
    actions_[c.id] = a;
  };
  QMenu* file = menuBar()->addMenu("ﾌｧｲﾙ(&F)");
  add(file, {kCmdPageSetup, "ﾍﾟｰｼﾞ設定(&U)...", "印刷ｵﾌﾟｼｮﾝの変更\nﾍﾟｰｼﾞ ﾚｲｱｳﾄの設定"});
  add(file, {kCmdPrint, "印刷(&P)...", "ｸﾞﾗﾌを印刷する\n印刷"});
  file->addSeparator();
  add(file, {kCmdExit, "終了(&X)", "ｸﾞﾗﾌ表示ｳｨﾝﾄﾞｳを閉じる\n終了"});
  QMenu* kind = menuBar()->addMenu("表示形式(&S)");
  add(kind, {kCmdLine, "折れ線ｸﾞﾗﾌ", "折れ線ｸﾞﾗﾌで表示する\n折れ線ｸﾞﾗﾌ"});
  add(kind, {kCmdLine3D, "3D折れ線ｸﾞﾗﾌ", "3D折れ線ｸﾞﾗﾌで表示する\n3D折れ線ｸﾞﾗﾌ"});
  add(kind, {kCmdBar, "棒ｸﾞﾗﾌ", "棒ｸﾞﾗﾌで表示する\n棒ｸﾞﾗﾌ"});
  add(kind, {kCmdBar3D, "3D棒ｸﾞﾗﾌ", "3D棒ｸﾞﾗﾌで表示する\n3D棒ｸﾞﾗﾌ"});
  QMenu* period = menuBar()->addMenu("期間(&T)");
  add(period, {kCmdStandard, "標準(&N)", "印刷制限範囲内の印刷枚数、印刷件数を表示\n標準"});
  add(period, {kCmdThisMonth, "今月(&M)", "今月分の印刷枚数、印刷件数を表示\n今月"});
  add(period, {kCmdThisWeek, "今週(&W)", "今週分の印刷枚数、印刷件数を表示\n今週"});
  add(period, {kCmdChosenPeriod, "期間指定(&O)...", "指定された期間の印刷枚数、印刷件数を表示\n期間指定"});
  for (int id : {kCmdLine, kCmdLine3D, kCmdBar, kCmdBar3D, kCmdStandard, kCmdThisMonth, kCmdThisWeek, kCmdChosenPeriod})
    actions_[id]->setCheckable(true);

  QToolBar* bar = addToolBar("グラフ");
  bar->setObjectName("GraphToolBar");
  bar->setIconSize(QSize(16, 16));
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (int id : {kCmdLine, kCmdLine3D, kCmdBar, kCmdBar3D}) bar->addAction(actions_[id]);
  bar->addSeparator();
  for (int id : {kCmdStandard, kCmdThisMonth, kCmdThisWeek, kCmdChosenPeriod}) bar->addAction(actions_[id]);
}

QAction* CChartFrame::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CChartFrame::UpdateChecks() {
  const int type = doc_.GraphType();
  const int kind = doc_.Period().kind;
  actions_[kCmdLine]->setChecked(type == kGraphLine);
  actions_[kCmdLine3D]->setChecked(type == kGraphLine3D);
  actions_[kCmdBar]->setChecked(type == kGraphBar);
  actions_[kCmdBar3D]->setChecked(type == kGraphBar3D);
  actions_[kCmdStandard]->setChecked(kind == 0);
  actions_[kCmdThisMonth]->setChecked(kind == 1);
  actions_[kCmdThisWeek]->setChecked(kind == 2);
  actions_[kCmdChosenPeriod]->setChecked(kind == 4);
}

bool CChartFrame::SetItems(const std::vector<engine::UserRecord>& users) {
  const bool ok = doc_.SetItems(users);
  if (!ok) ShowAppMessage(sink_, 46);
  UpdateChecks();
  return ok;
}

void CChartFrame::Recalculate() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = doc_.Recalculate();
  QApplication::restoreOverrideCursor();
  if (!ok) ShowAppMessage(sink_, 46);
}

void CChartFrame::RunCommand(int id) {
  switch (id) {
    case kCmdLine:
    case kCmdLine3D:
    case kCmdBar:
    case kCmdBar3D:
      if (doc_.GraphType() != id - kCmdLine) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        doc_.SetGraphType(id - kCmdLine);
        view_->Update();
        QApplication::restoreOverrideCursor();
      }
      break;
    case kCmdStandard:
    case kCmdThisMonth:
    case kCmdThisWeek:
      if (doc_.Period().kind != id - kCmdStandard) {
        doc_.SetPeriod(id - kCmdStandard, 0, 1);
        Recalculate();
      }
      break;
    case kCmdChosenPeriod: {
      ChartPeriod chosen = doc_.Period();
      bool ok = false;
      if (chooser_) {
        ok = chooser_(&chosen);
      } else {
        ChartPeriodDialog dialog(chosen, this);
        ok = dialog.exec() == QDialog::Accepted;
        if (ok) chosen = dialog.Chosen();
      }
      if (ok) {
        if (chosen.selector == 2) {
          doc_.SetPeriodRange(4, 2, chosen.start, chosen.end);
        } else {
          doc_.SetPeriod(4, chosen.selector, chosen.before);
        }
        Recalculate();
      }
      break;
    }
    case kCmdPrint: {
      bool go = false;
      if (confirm_print_) {
        go = confirm_print_(*printer_);
      } else {
        QPrintDialog dialog(printer_.get(), this);
        go = dialog.exec() == QDialog::Accepted;
      }
      if (go) view_->PrintTo(*printer_);
      break;
    }
    case kCmdPageSetup: {
      QPageSetupDialog dialog(printer_.get(), this);
      dialog.exec();
      break;
    }
    case kCmdExit:
      close();
      break;
    default:
      break;
  }
  UpdateChecks();
}

void CChartFrame::SavePlacement() {
  if (!settings_) return;
  const QRect g = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  settings_->SetGraphRect({g.x(), g.y(), g.x() + g.width(), g.y() + g.height()});
  settings_->Save();
}

void CChartFrame::closeEvent(QCloseEvent* event) {
  SavePlacement();
  event->accept();
}

}  // namespace zv::console
