#include "console/rules/validators.h"

#include <cstdio>

#include "console/rules/messages.h"
#include "engine/rules/quota_period.h"
#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"

namespace zv::console {
namespace {

Verdict Fail(int message, std::string focus, std::string text = {}) {
  Verdict v;
  v.ok = false;
  v.message = message;
  v.focus = std::move(focus);
  v.text = message >= 0 && text.empty() ? GetAppMessage(message, nullptr) : std::move(text);
  return v;
}

Verdict FailBounds(int message, std::string focus, int lower, int upper) {
  return Fail(message, std::move(focus), FormatBoundsMessage(message, lower, upper));
}

bool InLimit(int64_t v) { return v >= 1 && v <= 32767; }

std::string DateText(int32_t ymd) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", ymd / 10000, ymd / 100 % 100, ymd % 100);
  return buf;
}

size_t CharacterCount(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

constexpr int32_t kEarliestDate = 20000101;
constexpr int32_t kLatestDate = 20991231;

}  // namespace

size_t Cp932Length(const std::string& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (i + len > text.size()) len = text.size() - i;
    auto b = codepage::Utf8ToCp932(text.substr(i, len));
    n += b.ok() ? b->size() : 2;
    i += len;
  }
  return n;
}

Verdict CheckLimitPage(const LimitPageInput& in) {
  if (!InLimit(in.color)) return FailBounds(9, "color", 1, 32767);
  if (!InLimit(in.mono)) return FailBounds(9, "mono", 1, 32767);
  if ((in.period_choice == 4 && in.days < 1) || in.days > 999) return FailBounds(14, "days", 1, 999);
  if ((in.mail_user || in.mail_admin) &&
      (in.smtp_server.empty() || in.smtp_port < 1 || in.admin_address.empty() || in.sender_address.empty())) {
    return Fail(21, "");
  }
  return {};
}

Verdict CheckGroupName(const std::string& name, const std::vector<std::string>& other_names) {
  if (name.empty()) return Fail(-1, "name");
  if (Cp932Length(name) > 255) return FailBounds(15, "name", 1, 255);
  for (const auto& other : other_names) {
    if (EqualsNoCase(name, other)) return Fail(6, "name");
  }
  return {};
}

Verdict CheckGroupDialog(const std::string& name, int64_t mono, int64_t color,
                         const std::vector<std::string>& other_names) {
  if (Verdict v = CheckGroupName(name, other_names); !v.ok) return v;
  if (!InLimit(color)) return FailBounds(9, "color", 1, 32767);
  if (!InLimit(mono)) return FailBounds(9, "mono", 1, 32767);
  return {};
}

Verdict CheckAccountLength(const std::string& account) {
  if (account.empty()) return Fail(-1, "account");
  if (Cp932Length(account) > 128) return FailBounds(15, "account", 1, 128);
  return {};
}

Verdict CheckAccountTaken(const std::string& account, const std::string& original_account,
                          const std::vector<KnownUser>& users) {
  for (const auto& u : users) {
    if (!original_account.empty() && u.account == original_account) continue;
    if (EqualsNoCase(account, u.account)) return Fail(7, "account", FormatTextMessage(7, u.user_name));
  }
  return {};
}

Verdict CheckUserDialog(const UserDialogInput& in, const std::vector<KnownUser>& users) {
  if (in.gid == 0) return Fail(5, "group");
  if (Verdict v = CheckAccountLength(in.account); !v.ok) return v;
  if (Cp932Length(in.user_name) >= 256) return FailBounds(15, "username", 1, 255);
  if (Cp932Length(in.mail) >= 256) return FailBounds(15, "mail", 1, 255);
  if (Verdict v = CheckAccountTaken(in.account, in.original_account, users); !v.ok) return v;
  if (in.count_shubetsu == 3) {
    if (!InLimit(in.color)) return FailBounds(9, "color", 1, 32767);
    if (!InLimit(in.mono)) return FailBounds(9, "mono", 1, 32767);
  }
  return {};
}

Verdict CheckLockEntry(const std::string& entry, const std::string& current, bool lock_mode) {
  if (entry.empty()) return Fail(-1, "password");
  if (entry == current) return {};
  return Fail(lock_mode ? 16 : 17, "password");
}

Verdict CheckNewPassword(const std::string& password, const std::string& confirm) {
  if (password.empty()) return Fail(-1, "password");
  if (Cp932Length(password) >= 128) return FailBounds(15, "password", 1, 127);
  // Every character must be a single byte in the Japanese code page.
  if (Cp932Length(password) != CharacterCount(password)) return Fail(18, "password");
  if (confirm.empty()) return Fail(-1, "confirm");
  if (confirm != password) return Fail(19, "confirm");
  return {};
}

Verdict CheckMailSettings(const std::string& server, int64_t port, const std::string& admin,
                          const std::string& sender) {
  if (server.empty()) return Fail(-1, "server");
  if (Cp932Length(server) >= 256) return FailBounds(15, "server", 1, 255);
  if (port <= 0) return Fail(-1, "port");
  if (std::to_string(port).size() >= 5) return FailBounds(15, "port", 1, 4);
  if (admin.empty()) return Fail(-1, "admin");
  if (Cp932Length(admin) >= 256) return FailBounds(15, "admin", 1, 255);
  if (sender.empty()) return Fail(-1, "sender");
  if (Cp932Length(sender) >= 256) return FailBounds(15, "sender", 1, 255);
  return {};
}

Verdict CheckPeriodDialog(int32_t choice, int64_t months, int64_t days, int32_t from, int32_t to) {
  if (choice == 1) {
    if (days < 1 || days > 999) return FailBounds(11, "days", 1, 999);
    return {};
  }
  if (choice == 2) {
    const std::string range = FormatTextMessage(12, DateText(kEarliestDate), DateText(kLatestDate));
    auto in_range = [](int32_t d) { return engine::IsValidDate(d) && d >= kEarliestDate && d <= kLatestDate; };
    if (!in_range(from)) return Fail(12, "from", range);
    if (!in_range(to)) return Fail(12, "to", range);
    if (to < from) return Fail(13, "to");
    return {};
  }
  if (months < 1 || months > 99) return FailBounds(10, "months", 1, 99);
  return {};
}

}  // namespace zv::console
