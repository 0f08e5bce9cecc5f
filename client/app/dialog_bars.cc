// The main window's bottom bar (103) and left bar (105): their controls and the settings
// panel's pages.
#include "client/app/dialog_bars.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "client/app/focus_button.h"
#include "client/app/job_list_page.h"
#include "client/app/settings_pages.h"

namespace zv::client::app {

CommandBar::CommandBar(QWidget* parent) : QWidget(parent) {
  QWidget* bottom = this;
  bottom->setObjectName("103");
  auto* bl = new QHBoxLayout(bottom);
  // Print and Cancel keep to the bar's right end however wide it is: Cancel 20 pixels from
  // the end, Print 10 pixels to its left, both centred in the bar's height.
  bl->setContentsMargins(4, 2, 20, 2);
  // The print queue and printer properties commands: enabled where the machine serves
  // them (the frame's UpdatePrinterCommands).
  queue_ = _CButton::Make(bottom, 1000, QString::fromUtf8("プリンタ(&P)"));
  properties_ = _CButton::Make(bottom, 1072, QString::fromUtf8("プロパティ(&R)"));
  print_ = _CButton::Make(bottom, 1002, QString::fromUtf8("印刷"));
  print_->setDefault(true);
  cancel_ = _CButton::Make(bottom, 1003, QString::fromUtf8("キャンセル"));
  help_ = _CButton::Make(bottom, 1004, QString::fromUtf8("ヘルプ"));
  bl->addWidget(queue_);
  bl->addWidget(properties_);
  bl->addWidget(help_);
  bl->addStretch(1);
  auto* right = new QHBoxLayout;
  right->setSpacing(10);
  right->addWidget(print_, 0, Qt::AlignVCenter);
  right->addWidget(cancel_, 0, Qt::AlignVCenter);
  bl->addLayout(right);
}

PrinterBar::PrinterBar(CMainFrame* frame, Prompt* prompt, QWidget* parent) : QWidget(parent) {
  QWidget* left = this;
  left->setObjectName("105");
  auto* lv = new QVBoxLayout(left);
  lv->setContentsMargins(4, 4, 4, 4);
  auto* plabel = new QLabel(QString::fromUtf8("プリンタ(&D):"), left);
  printer_combo_ = new QComboBox(left);
  printer_combo_->setObjectName(Id(1068));
  plabel->setBuddy(printer_combo_);
  auto* slabel = new QLabel(QString::fromUtf8("用紙サイズ(&S):"), left);
  paper_combo_ = new QComboBox(left);
  paper_combo_->setObjectName(Id(1071));
  slabel->setBuddy(paper_combo_);
  rate_line_ = new QLabel(QString::fromUtf8("削減率: 0.0%  印刷枚数:0 総ﾍﾟｰｼﾞ数:0"), left);
  rate_line_->setObjectName(Id(1067));
  tabs_ = new QTabWidget(left);
  tabs_->setObjectName(Id(1005));
  layout_ = new _CLayout(tabs_);
  header_ = new _CPrtHdr(prompt, tabs_);
  copies_ = new _CPrtSet(tabs_);
  tabs_->addTab(layout_, QString::fromUtf8("レイアウト"));
  tabs_->addTab(header_, QString::fromUtf8("ヘッダ"));
  tabs_->addTab(copies_, QString::fromUtf8("部数"));
  layout_->set_prompt(prompt);
  jobs_ = new _CPrtList(frame, tabs_);
  tabs_->addTab(jobs_, QString::fromUtf8("ジョブ"));
  lv->addWidget(plabel);
  lv->addWidget(printer_combo_);
  lv->addWidget(slabel);
  lv->addWidget(paper_combo_);
  lv->addWidget(rate_line_);
  lv->addWidget(tabs_, 1);
}

}  // namespace zv::client::app
