// The main window's two dialog bars. The bottom bar (template 103, bar 104) holds the
// command buttons: the printer's queue (1000) and properties (1072) at the left, print
// (1002), cancel (1003) and help (1004) kept at the right end as the bar widens. The left
// bar (template 105, bar 106) holds the printer list (1068), the paper list (1071), the
// reduction-rate line (1067) and the tab control (1005) with the four pages of the settings
// panel: layout, header and footer, copies and printer, job list. The bars build their
// controls; the frame connects them to its commands.
#pragma once

#include <QWidget>

#include "client/prompt.h"

class QComboBox;
class QLabel;
class QTabWidget;

namespace zv::client::app {

class CMainFrame;
class _CButton;
class _CLayout;
class _CPrtHdr;
class _CPrtList;
class _CPrtSet;

class CommandBar : public QWidget {
  Q_OBJECT

 public:
  // Takes the parent; builds the buttons, print (1002) the default one.
  explicit CommandBar(QWidget* parent);

  // Give the bar's buttons.
  _CButton* queue_button() const { return queue_; }
  _CButton* properties_button() const { return properties_; }
  _CButton* print_button() const { return print_; }
  _CButton* cancel_button() const { return cancel_; }
  _CButton* help_button() const { return help_; }

 private:
  _CButton* queue_ = nullptr;
  _CButton* properties_ = nullptr;
  _CButton* print_ = nullptr;
  _CButton* cancel_ = nullptr;
  _CButton* help_ = nullptr;
};

class PrinterBar : public QWidget {
  Q_OBJECT

 public:
  // Takes the frame (the job list page acts on its document and jobs), the prompt the
  // header page and the layout page's offset fields speak through, and the parent; builds
  // the lists, the line and the tab control with its four pages.
  PrinterBar(CMainFrame* frame, Prompt* prompt, QWidget* parent);

  // Give the bar's controls and the settings panel's pages.
  QComboBox* printer_combo() const { return printer_combo_; }
  QComboBox* paper_combo() const { return paper_combo_; }
  QLabel* rate_line() const { return rate_line_; }
  QTabWidget* tabs() const { return tabs_; }
  _CLayout* layout_page() const { return layout_; }
  _CPrtHdr* header_page() const { return header_; }
  _CPrtSet* copies_page() const { return copies_; }
  _CPrtList* job_page() const { return jobs_; }

 private:
  QComboBox* printer_combo_ = nullptr;
  QComboBox* paper_combo_ = nullptr;
  QLabel* rate_line_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  _CLayout* layout_ = nullptr;
  _CPrtHdr* header_ = nullptr;
  _CPrtSet* copies_ = nullptr;
  _CPrtList* jobs_ = nullptr;
};

}  // namespace zv::client::app
