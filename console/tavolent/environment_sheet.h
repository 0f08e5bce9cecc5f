// The environment settings sheet (limits and general pages) and the pieces the first-run
// wizard repeats: the limit fields and the three printer lists with their move buttons.
// Thin views over console/core/environment.h; controls carry their ids as object names
// ("e1047" for edit 1047, "b6" for button 6) and the checks' field names.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <vector>

#include "console/core/environment.h"
#include "console/rules/messages.h"

class QCheckBox;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;

namespace zv::console {

struct ConsoleContext;

// The three printer lists: this machine's unmanaged printers on top, the managed colour
// and monochrome printers below, and the four buttons that move the selected printers.
class PrinterListsBox : public QWidget {
 public:
  // Takes the lists to show and the parent.
  PrinterListsBox(const PrinterLists& lists, QWidget* parent = nullptr);
  // Give the managed printers as the lists now hold them, top to bottom, with Ptype set by
  // their list (colour 1, monochrome 0).
  std::vector<engine::PrinterRecord> Color() const;
  std::vector<engine::PrinterRecord> Mono() const;
  // Gives whether a printer was moved or a managed one was no longer installed.
  bool modified() const { return modified_; }
  // Takes a source list id (1005, 1006, 1001) and a target; moves the source's selected
  // printers to the top of the target, as the arrow buttons do.
  void Move(QTreeWidget* from, QTreeWidget* to);
  // Give the lists: connected (1005), colour (1006), monochrome (1001).
  QTreeWidget* connected() const { return lists_[0]; }
  QTreeWidget* color() const { return lists_[1]; }
  QTreeWidget* mono() const { return lists_[2]; }

 private:
  void Enable();
  QTreeWidget* lists_[3];
  QPushButton* buttons_[4];
  bool modified_ = false;
};

// The general page "全般" (template 112): the note, the printer lists and, in the sheet, the
// buttons "保存フォルダの変更(&F)..." (4) and "印刷ログの削除(&R)..." (5). The first-run
// wizard's printer page is this page without the buttons.
class CEnvironGenericPage : public QWidget {
 public:
  // Takes the printer lists, whether to show the buttons and what they run (no storage
  // action: its button is disabled).
  CEnvironGenericPage(const PrinterLists& lists, bool buttons, std::function<void()> storage,
                      std::function<void()> log_deletion, QWidget* parent = nullptr);
  // Gives the printer lists.
  PrinterListsBox* printers() const { return printers_; }

 private:
  PrinterListsBox* printers_;
};

// The limit fields: which parts a page shows.
enum LimitParts : int {
  kPartLimits = 1,    // the two default limits
  kPartPeriod = 2,    // the period choice and days
  kPartActions = 4,   // the three over-limit actions and the mail button
  kPartCrossing = 8,  // the crossing rule
  kPartNotices = 16,  // the two client notices
  kPartAll = 31,
};

// A page of limit fields over EnvironmentValues with the sheet's enabling rules.
class CEnvironLimitPage : public QWidget {
 public:
  // Takes the sink, the values to show, the parts and the parent.
  CEnvironLimitPage(MessageSink& sink, const EnvironmentValues& values, int parts, QWidget* parent = nullptr);
  // Gives the shown values over the ones the fields were given (parts not shown keep theirs).
  EnvironmentValues value() const;
  // Runs the leaving checks of the shown parts (limits, days, then the mail settings); a
  // failure shows its message, focuses its field and gives false.
  bool Leave();
  // Opens the mail settings dialog; its values are kept on OK.
  void EditMail();

 private:
  void Enable();
  MessageSink& sink_;
  EnvironmentValues values_;
  int parts_;
  QSpinBox *mono_ = nullptr, *color_ = nullptr, *days_ = nullptr;
  QRadioButton* period_[5] = {};
  QRadioButton* crossing_[2] = {};
  QCheckBox *mail_user_ = nullptr, *mail_admin_ = nullptr, *refuse_ = nullptr;
  QCheckBox *on_completion_ = nullptr, *on_error_ = nullptr;
  QPushButton* mail_ = nullptr;
};

// The environment settings sheet "環境設定".
class CEnvironSheet : public QDialog {
 public:
  // Takes the context, the values and managed printers read when it opens, this machine's
  // candidate printers, the start page (0 limits, 1 general) and the storage-folder dialog
  // (button 4 is disabled without one).
  CEnvironSheet(const ConsoleContext& ctx, const EnvironmentValues& values,
                const std::vector<engine::PrinterRecord>& managed, const std::vector<std::string>& candidates,
                int start_page, std::function<void(QWidget*)> storage_dialog, QWidget* parent = nullptr);
  // Gives what OK hands back: before and after values, the old and new printers and the
  // general page's modified flag.
  EnvironmentEdit edit() const;
  // Gives the tab widget (page 0 limits, 1 general), the limit fields and the lists.
  QTabWidget* tabs() const { return tabs_; }
  CEnvironLimitPage* limits() const { return limits_; }
  PrinterListsBox* printers() const { return printers_; }
  // Closes with OK once the current page may be left.
  void accept() override;
  // What the print-log deletion dialog of the general page runs after a deletion.
  std::function<void()> log_deleted;

 private:
  bool LeavePage(int index);
  const ConsoleContext& ctx_;
  EnvironmentValues before_;
  std::vector<engine::PrinterRecord> managed_;
  QTabWidget* tabs_;
  CEnvironLimitPage* limits_;
  PrinterListsBox* printers_;
  int current_ = 0;
  bool switching_ = false;
};

// Takes the context, the start page, the storage-folder dialog, what runs after a print-log
// deletion and the owner; runs the environment settings command: reads the values and the
// managed printers (message 40 when they cannot be read), runs the sheet and stores its
// result (ApplyEnvironment). Gives the outcome (nothing done on Cancel).
EnvironmentOutcome RunEnvironmentSettings(const ConsoleContext& ctx, int start_page,
                                          const std::function<void(QWidget*)>& storage_dialog,
                                          const std::function<void()>& log_deleted, QWidget* owner);

}  // namespace zv::console
