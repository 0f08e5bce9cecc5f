// The checks the console's dialogs run on OK (or on leaving a page), in the dialogs' order:
// the first failure names its message-table entry (-1: none, the field is only focused),
// the filled text and the field to focus. Lengths are counted in bytes of the Japanese
// code page (CP932), as the database columns were sized.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv::console {

struct Verdict {
  bool ok = true;
  int message = -1;   // entry of the message table, -1 for none
  std::string text;   // the entry, filled
  std::string focus;  // field to focus, empty for none
};

// Takes UTF-8 text; gives its length in CP932 bytes (characters CP932 lacks count as two).
size_t Cp932Length(const std::string& text);

// Limit page of the environment sheet and the wizard: limits 1..32767 (colour first),
// period days 1..999 (days below 1 only matter for choice 4), and the mail settings when a
// mail flag is ticked. Fields: "color", "mono", "days".
struct LimitPageInput {
  int64_t color = 20, mono = 50;
  int32_t period_choice = 3;
  int64_t days = 0;
  bool mail_user = false, mail_admin = false;
  std::string smtp_server;
  int64_t smtp_port = 25;
  std::string admin_address, sender_address;
};
Verdict CheckLimitPage(const LimitPageInput& in);

// A group's name as the group dialog and the tree's in-place edit check it: not empty, at
// most 255 bytes, no other group's name in any letter case. Field: "name".
Verdict CheckGroupName(const std::string& name, const std::vector<std::string>& other_names);

// Group dialog: the name, then the limits. Fields: "name", "color", "mono".
Verdict CheckGroupDialog(const std::string& name, int64_t mono, int64_t color,
                         const std::vector<std::string>& other_names);

// A registered user as the user dialog's duplicate check sees it.
struct KnownUser {
  std::string account;
  std::string user_name;
};

// An account as the user dialog and the list's in-place edit check it: not empty, at most
// 128 bytes (the user name and mail come between in the dialog), no other user's account in
// any letter case (`original_account` skipped when not empty). Field: "account".
Verdict CheckAccountLength(const std::string& account);
Verdict CheckAccountTaken(const std::string& account, const std::string& original_account,
                          const std::vector<KnownUser>& users);

// User dialog. `original_account` is skipped in the duplicate check (properties mode; empty
// when registering). Limits are checked for kind 3 only. Fields: "group", "account",
// "username", "mail", "color", "mono".
struct UserDialogInput {
  int32_t gid = 0;
  std::string account, user_name, mail;
  int32_t count_shubetsu = 1;
  int64_t mono = 50, color = 20;
  std::string original_account;
};
Verdict CheckUserDialog(const UserDialogInput& in, const std::vector<KnownUser>& users);

// Lock dialog: the entry must equal the current password exactly. Field: "password".
Verdict CheckLockEntry(const std::string& entry, const std::string& current, bool lock_mode);

// Password dialog: 1..127 CP932 bytes, single-byte characters only, confirmed. Fields:
// "password", "confirm".
Verdict CheckNewPassword(const std::string& password, const std::string& confirm);

// Mail settings dialog. Fields: "server", "port", "admin", "sender".
Verdict CheckMailSettings(const std::string& server, int64_t port, const std::string& admin, const std::string& sender);

// Period dialog: choice 1 needs 1..999 days, choice 2 two dates within 2000/01/01 to
// 2099/12/31 in order, any other choice 1..99 months. Fields: "days", "from", "to", "months".
Verdict CheckPeriodDialog(int32_t choice, int64_t months, int64_t days, int32_t from, int32_t to);

}  // namespace zv::console
