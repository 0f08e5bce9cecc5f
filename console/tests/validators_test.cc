#include "console/rules/validators.h"

#include <gtest/gtest.h>

#include <functional>

namespace zv::console {
namespace {

struct Case {
  const char* what;
  std::function<Verdict()> check;
  int message;  // -2: passes
  const char* focus;
};

void RunCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    Verdict v = c.check();
    if (c.message == -2) {
      EXPECT_TRUE(v.ok) << c.what << ": " << v.message;
      continue;
    }
    EXPECT_FALSE(v.ok) << c.what;
    EXPECT_EQ(v.message, c.message) << c.what;
    EXPECT_EQ(v.focus, c.focus) << c.what;
  }
}

std::string Kana(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "あ";
  return s;
}

UserDialogInput NewUser(const std::string& account) {
  UserDialogInput in;
  in.gid = 1;
  in.account = account;
  return in;
}

TEST(Validators, Cp932Lengths) {
  EXPECT_EQ(Cp932Length("abc"), 3u);
  EXPECT_EQ(Cp932Length("あいう"), 6u);
  EXPECT_EQ(Cp932Length("ｱｲ"), 2u);  // half-width katakana are single bytes
  EXPECT_EQ(Cp932Length("😀"), 2u);   // not in the code page: counted as two
}

TEST(Validators, LimitPage) {
  auto page = [](auto edit) {
    return [edit] {
      LimitPageInput in;
      edit(in);
      return CheckLimitPage(in);
    };
  };
  RunCases({
      {"defaults", page([](auto&) {}), -2, ""},
      {"colour 0", page([](auto& in) { in.color = 0; }), 9, "color"},
      {"mono 32768", page([](auto& in) { in.mono = 32768; }), 9, "mono"},
      {"bounds pass", page([](auto& in) {
         in.mono = 32767;
         in.color = 1;
       }),
       -2, ""},
      {"N days without days", page([](auto& in) { in.period_choice = 4; }), 14, "days"},
      {"month with 1000 days", page([](auto& in) { in.days = 1000; }), 14, "days"},
      {"mail with port 0", page([](auto& in) {
         in.mail_user = true;
         in.smtp_server = "mx";
         in.smtp_port = 0;
         in.admin_address = in.sender_address = "a@b";
       }),
       21, ""},
  });
  LimitPageInput no_colour;
  no_colour.color = 0;
  EXPECT_EQ(CheckLimitPage(no_colour).text, "印刷可能枚数の指定に誤りがあります。\n範囲：  1 ～ 32767");
}

TEST(Validators, GroupAndUserDialogs) {
  const std::vector<KnownUser> users{{"Tanaka", "田中"}, {"sato", "佐藤"}};
  auto user = [&](auto edit) {
    return [edit, &users] {
      UserDialogInput in = NewUser("new");
      edit(in);
      return CheckUserDialog(in, users);
    };
  };
  RunCases({
      {"group ok", [] { return CheckGroupDialog("g", 50, 20, {"h"}); }, -2, ""},
      {"group empty", [] { return CheckGroupDialog("", 50, 20, {}); }, -1, "name"},
      {"group 255 bytes", [] { return CheckGroupDialog(std::string(255, 'g'), 50, 20, {}); }, -2, ""},
      {"group 256 bytes", [] { return CheckGroupDialog(Kana(128), 50, 20, {}); }, 15, "name"},
      {"group other case", [] { return CheckGroupDialog("Sales", 50, 20, {"sALES"}); }, 6, "name"},
      {"group colour", [] { return CheckGroupDialog("g", 50, 0, {}); }, 9, "color"},
      {"group mono", [] { return CheckGroupDialog("g", 32768, 20, {}); }, 9, "mono"},
      {"user ok", user([](auto&) {}), -2, ""},
      {"no group", user([](auto& in) { in.gid = 0; }), 5, "group"},
      {"no account", user([](auto& in) { in.account.clear(); }), -1, "account"},
      {"account 128", user([](auto& in) { in.account = Kana(64); }), -2, ""},
      {"account 129", user([](auto& in) { in.account = Kana(64) + "a"; }), 15, "account"},
      {"name 256", user([](auto& in) { in.user_name = std::string(256, 'n'); }), 15, "username"},
      {"mail 256", user([](auto& in) { in.mail = std::string(256, 'm'); }), 15, "mail"},
      {"taken account", user([](auto& in) { in.account = "tanaka"; }), 7, "account"},
      {"own account kept", user([](auto& in) { in.account = in.original_account = "Tanaka"; }), -2, ""},
      {"own limits checked", user([](auto& in) {
         in.count_shubetsu = 3;
         in.color = 0;
       }),
       9, "color"},
      {"other kinds unchecked", user([](auto& in) { in.color = 0; }), -2, ""},
  });
  EXPECT_EQ(CheckUserDialog(NewUser("TANAKA"), users).text,
            "このアカウントのユーザが既に登録されています。\nユーザ名：田中");
  EXPECT_EQ(CheckUserDialog(NewUser(Kana(65)), users).text,
            "入力可能文字数を超えています。\n範囲：(半角文字で)  1 ～ 128文字");
}

TEST(Validators, LockPasswordMailAndPeriod) {
  RunCases({
      {"lock empty", [] { return CheckLockEntry("", "pw", true); }, -1, "password"},
      {"lock right", [] { return CheckLockEntry("pw", "pw", true); }, -2, ""},
      {"unlock other case", [] { return CheckLockEntry("PW", "pw", false); }, 17, "password"},
      {"lock wrong", [] { return CheckLockEntry("x", "pw", true); }, 16, "password"},
      {"password 127", [] { return CheckNewPassword(std::string(127, 'p'), std::string(127, 'p')); }, -2, ""},
      {"password 128", [] { return CheckNewPassword(std::string(128, 'p'), ""); }, 15, "password"},
      {"double-byte", [] { return CheckNewPassword("abあ", "abあ"); }, 18, "password"},
      {"half-width kana", [] { return CheckNewPassword("abｱ", "abｱ"); }, -2, ""},  // single bytes
      {"no confirmation", [] { return CheckNewPassword("abc", ""); }, -1, "confirm"},
      {"confirmation differs", [] { return CheckNewPassword("abc", "abC"); }, 19, "confirm"},
      {"mail ok", [] { return CheckMailSettings("mx", 9999, "a@b", "c@d"); }, -2, ""},
      {"port 10000", [] { return CheckMailSettings("mx", 10000, "a@b", "c@d"); }, 15, "port"},
      {"port 0", [] { return CheckMailSettings("mx", 0, "a@b", "c@d"); }, -1, "port"},
      {"no server", [] { return CheckMailSettings("", 25, "a@b", "c@d"); }, -1, "server"},
      {"long admin", [] { return CheckMailSettings("mx", 25, std::string(256, 'a'), "c@d"); }, 15, "admin"},
      {"no sender", [] { return CheckMailSettings("mx", 25, "a@b", ""); }, -1, "sender"},
      {"100 months", [] { return CheckPeriodDialog(0, 100, 1, 0, 0); }, 10, "months"},
      {"99 months", [] { return CheckPeriodDialog(0, 99, 0, 0, 0); }, -2, ""},
      {"1000 days", [] { return CheckPeriodDialog(1, 1, 1000, 0, 0); }, 11, "days"},
      {"range reversed", [] { return CheckPeriodDialog(2, 1, 1, 20040301, 20040229); }, 13, "to"},
      {"range early", [] { return CheckPeriodDialog(2, 1, 1, 19991231, 20040229); }, 12, "from"},
      {"range late", [] { return CheckPeriodDialog(2, 1, 1, 20040301, 21000101); }, 12, "to"},
      {"range ok", [] { return CheckPeriodDialog(2, 1, 1, 20040229, 20040229); }, -2, ""},
  });
  EXPECT_EQ(CheckPeriodDialog(2, 1, 1, 0, 0).text, "日付の指定に誤りがあります。\n範囲：2000/01/01 ～ 2099/12/31");
}

}  // namespace
}  // namespace zv::console
