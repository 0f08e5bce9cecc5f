// The console's small dialogs: the settings lock and the password, the mail settings, the
// display period, the thumbnail print, and the group and user dialogs. Each runs the
// headless check of console/rules on OK and shows a failure through the console's message
// sink; fields carry their control ids as object names ("e1004" for edit 1004).
#pragma once

#include <QDialog>
#include <QSpinBox>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "console/rules/messages.h"
#include "console/rules/validators.h"
#include "engine/db/zvm_database.h"
#include "engine/rules/check_rules.h"

class QIcon;
class QLineEdit;
class QLabel;
class QRadioButton;
class QDateEdit;
class QCheckBox;
class QComboBox;
class QPushButton;
class QButtonGroup;

namespace zv::console {

// Gives the face the console draws Japanese text in (the IPA P Gothic family).
QFont ConsoleFont();

// Gives the console's icon (the main frame's and the about box's, big and small).
QIcon ConsoleIcon();

// Shows the console's messages in modal message boxes of the table's styles (the question,
// exclamation and stop icons), owned by a window when one is given.
class QtMessageSink : public MessageSink {
 public:
  // Takes the owner window (may be null).
  explicit QtMessageSink(QWidget* owner = nullptr) : owner_(owner) {}
  void set_owner(QWidget* owner) { owner_ = owner; }
  // Takes the text and the style; gives kIdYes or kIdNo for a question, else kIdOk.
  int Show(const std::string& text, uint32_t style) override;

 private:
  QWidget* owner_;
};

// The about box (template 100): the console's title, version and icon, and OK.
class AboutDialog : public QDialog {
 public:
  // Takes the parent.
  explicit AboutDialog(QWidget* parent = nullptr);
};

// Takes a dialog or page, the sink and a verdict; shows the verdict's message (when it
// names one), focuses the field whose "field" property is the verdict's focus, and gives
// verdict.ok.
bool ApplyVerdict(QWidget* dialog, MessageSink& sink, const Verdict& verdict);

// Settings lock (template 170): takes the mode (lock when true) and the current password;
// OK only for the exact password.
class CSettingsLockDlg : public QDialog {
 public:
  // Takes the sink, the mode and the current password; builds the dialog.
  CSettingsLockDlg(MessageSink& sink, bool lock_mode, std::string current, QWidget* parent = nullptr);
  // Gives the password edit (1004).
  QLineEdit* entry() const { return entry_; }
  // Closes with OK only for the exact password; else message 16 or 17 (none when empty).
  void accept() override;

 private:
  MessageSink& sink_;
  bool lock_mode_;
  std::string current_;
  QLineEdit* entry_;
};

// Password (template 169): takes the preset password; password() gives the checked entry.
class CPasswordDlg : public QDialog {
 public:
  // Takes the sink and the preset password; the confirmation starts empty.
  CPasswordDlg(MessageSink& sink, const std::string& preset, QWidget* parent = nullptr);
  // Gives the entered password.
  std::string password() const;
  // Give the password (1003) and confirmation (1004) edits.
  QLineEdit* entry() const { return password_; }
  QLineEdit* confirm() const { return confirm_; }
  // Closes with OK once CheckNewPassword passes; else shows its message and stays.
  void accept() override;

 private:
  MessageSink& sink_;
  QLineEdit* password_;
  QLineEdit* confirm_;
};

// Mail settings (template 179): server, port, administrator's and sender's addresses.
struct MailSettings {
  std::string server;
  int64_t port = 25;
  std::string admin, sender;
};
class CMailSettingsDlg : public QDialog {
 public:
  // Takes the sink and the preset values.
  CMailSettingsDlg(MessageSink& sink, const MailSettings& preset, QWidget* parent = nullptr);
  // Gives the entered values.
  MailSettings value() const;
  // Closes with OK once CheckMailSettings passes.
  void accept() override;

 private:
  MessageSink& sink_;
  QLineEdit *server_, *port_, *admin_, *sender_;
};

// Display period (template 173): choice 0 past months, 1 past days, 2 date range; dates as
// yyyymmdd (0: today in the pickers).
struct PeriodChoice {
  int32_t choice = 0;
  int32_t months = 1, days = 1;
  int32_t from = 0, to = 0;
};
class CPeriodDlg : public QDialog {
 public:
  // Takes the sink, the preset and today (shown by a picker whose date is 0).
  CPeriodDlg(MessageSink& sink, const PeriodChoice& preset, int32_t today, QWidget* parent = nullptr);
  // Gives the choice, both counts and both dates.
  PeriodChoice value() const;
  // Closes with OK once CheckPeriodDialog passes.
  void accept() override;

 private:
  void Enable();
  MessageSink& sink_;
  QRadioButton *months_radio_, *days_radio_, *range_radio_;
  QSpinBox *months_, *days_;
  QDateEdit *from_, *to_;
};

// Thumbnail print (template 171): takes and gives the stored "ThumbnailCount" (0 off,
// 1 two pages, 2 four pages, 3 eight pages per sheet; 3 or more reads as eight).
class CThumbnailPrintDlg : public QDialog {
 public:
  // Takes the stored count.
  CThumbnailPrintDlg(int32_t count, QWidget* parent = nullptr);
  // Gives the count to store.
  int32_t value() const;

 private:
  void Enable();
  QCheckBox* on_;
  QRadioButton* pages_[3];
};

// A page-limit spin of the group and user dialogs: 1 to 32767, the range OK accepts. A stored
// number outside it (0 from an older database) is shown and kept as it is until the
// administrator types, steps or resets, so OK without a change does not rewrite it (and the
// limit check names it).
class LimitSpin : public QSpinBox {
 public:
  // Takes the stored number, the control id and the field name the checks focus.
  LimitSpin(int stored, const char* id, const char* field, QWidget* parent = nullptr);
  // Gives the kept stored number while it stands, else the spin's.
  int limit() const;
  // Drops a kept outside number: the spin shows its own position, the nearest of 1 and
  // 32767.
  void Reset();
  // A step from a kept outside number lands on the nearest limit.
  void stepBy(int steps) override;

 protected:
  QString textFromValue(int value) const override;

 private:
  std::optional<int> held_;
};

// Gives a group to register: no name yet, 50 monochrome and 20 colour pages.
engine::GroupRecord NewGroupRecord();
// Takes the group; gives a user to register in it: following the system defaults, with
// own limits of 100 monochrome and 100 colour pages ready for the user's own mode.
engine::UserRecord NewUserRecord(int32_t gid);

// Group properties: name and the two limits, checked against the other groups' names.
class CGroupPropertyDlg : public QDialog {
 public:
  // Takes the sink, the group (GID 0: a new one) and the other groups' names.
  CGroupPropertyDlg(MessageSink& sink, const engine::GroupRecord& preset, std::vector<std::string> other_names,
                    QWidget* parent = nullptr);
  // Gives the preset with the entered name and limits.
  engine::GroupRecord value() const;
  // Closes with OK once CheckGroupDialog passes.
  void accept() override;

 private:
  MessageSink& sink_;
  engine::GroupRecord record_;
  std::vector<std::string> others_;
  QLineEdit* name_;
  LimitSpin *mono_, *color_;
};

// User properties (template 174): account, user name, the group (its name in the read-only
// edit 1040, chosen with "グループの選択(&C)..."), mail, limit mode (radio buttons 1028, 1030,
// 1031, 1033 for modes 0 to 3) and the own limits, checked against the registered users
// (the preset's own account is skipped when it has a UID). Beside the system-default mode
// stand the system limits (monochrome 1038, colour 1044), beside the group mode the chosen
// group's (monochrome 1039, colour 1043).
class CUserPropertyDlg : public QDialog {
 public:
  // Takes the sink, the user (UID 0: a new one), the system limits in force, the groups
  // (the user's own is taken from them by its GID) and the users.
  CUserPropertyDlg(MessageSink& sink, const engine::UserRecord& preset, const engine::UserLimits& system,
                   const std::vector<engine::GroupRecord>& groups, std::vector<KnownUser> users,
                   QWidget* parent = nullptr);
  // Gives the preset with the entered fields.
  engine::UserRecord value() const;
  // Closes with OK once CheckUserDialog passes; a user's properties left as they were
  // (the group not chosen again) close as Cancel, so that nothing is stored.
  void accept() override;
  // Takes the group selection (given the current group; gives the chosen one, or nothing on
  // Cancel), which the button "グループの選択(&C)..." (4) runs.
  void SetGroupChooser(std::function<std::optional<engine::GroupRecord>(const engine::GroupRecord&)> chooser);
  // Takes the account picker (gives the picked account and full name, or nothing on
  // Cancel); shows the button "ドメインから選択(&D)..." (3), whose pick replaces the account
  // and user name fields.
  void SetAccountPicker(std::function<std::optional<std::pair<std::string, std::string>>()> picker);
  // While the own limits are disabled, swallows K and T (but in the account, user name and
  // mail edits) and Alt+K and Alt+T, so that the access keys of the disabled limit labels do
  // nothing. Gives whether the event was swallowed.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shows the chosen group's name and limits.
  void ShowGroup();
  // Gives the chosen limit mode (0 to 3).
  int Mode() const;
  MessageSink& sink_;
  engine::UserRecord record_;
  engine::GroupRecord group_record_;
  bool group_changed_ = false;
  std::vector<KnownUser> users_;
  QPushButton* choose_ = nullptr;
  QPushButton* pick_ = nullptr;
  std::function<std::optional<engine::GroupRecord>(const engine::GroupRecord&)> chooser_;
  std::function<std::optional<std::pair<std::string, std::string>>()> picker_;
  QLineEdit* group_;
  QButtonGroup* mode_;
  QLabel *group_mono_, *group_color_;
  QLineEdit *account_, *user_name_, *mail_;
  LimitSpin *mono_, *color_;
};

}  // namespace zv::console
