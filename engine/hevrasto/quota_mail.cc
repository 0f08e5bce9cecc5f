#include "engine/hevrasto/quota_mail.h"

#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "engine/core/event_writer.h"
#include "engine/rules/event_table.h"
#include "engine/rules/quota_period.h"
#include "platform/codepage/codepage.h"

namespace zv::engine {
namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[512];
  snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Length in ANSI (CP932) bytes, the measure of the rule line.
size_t AnsiLength(const std::string& utf8) {
  auto a = codepage::Utf8ToCp932(utf8, codepage::OnError::kSubstitute);
  return a.ok() ? a->size() : utf8.size();
}

MailClock Now() {
  time_t t = time(nullptr);
  struct tm lt {};
  localtime_r(&t, &lt);
  return MailClock{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min};
}

}  // namespace

std::string PeriodText(int32_t index, int32_t days, int32_t limit_date, int32_t week_flag) {
  switch (index) {
    case kPeriodDay:
      return "1日";
    case kPeriodWeek:
      return Format("1週間（%s）", week_flag == 1 ? "月曜～日曜" : "日曜～土曜");
    case kPeriodMonth:
      return "1ヶ月";
    case kPeriodDays:
      return Format("%d日間（%d月%d日まで）", days, (limit_date / 100) % 100, limit_date % 100);
    default:
      return "無期限";
  }
}

QuotaNotice ComposeQuotaNotice(const EngineSettings& s, const CRequestResult& r, const std::string& account,
                               const UserRecord& user, const MailClock& now) {
  QuotaNotice n;
  if ((!s.MailUser && !s.MailAdmin) || r.PageCount < 0) return n;
  n.mono_reached = r.MaxPages > 0 && r.PageCount >= r.MaxPages;
  n.color_reached = r.MaxPages_Color > 0 && r.PageCount_Color >= r.MaxPages_Color;
  if (!n.mono_reached && !n.color_reached) return n;
  n.send = true;
  n.subject =
      Format("%s [%d/%02d/%02d %02d:%02d]", "印刷枚数制限の通知", now.year, now.month, now.day, now.hour, now.minute);
  std::string heading = Format("%s 自動配信サービス", "Zelvora");
  std::string sign1 = Format("%s 管理者", "Zelvora");
  std::string sign2 = Format("E-Mail：%s", s.AdminMailAddress.c_str());
  size_t longest = std::max({AnsiLength(heading), AnsiLength(sign1), AnsiLength(sign2)});
  std::string rule(longest + 5, '-');
  auto& b = n.body_lines;
  b = {rule, heading, rule, ""};
  if (n.color_reached) b.push_back("◎カラー印刷可能枚数を超えています。");
  if (n.mono_reached) b.push_back("◎モノクロ印刷可能枚数を超えています。");
  b.push_back("");
  if (user.UserName.empty()) {
    b.push_back("依頼者　　　　　　　　　　：" + account);
  } else {
    b.push_back("依頼者　　　　　　　　　　：" + account + "（" + user.UserName + "）");
  }
  b.push_back("メールアドレス　　　　　　：" + user.Mail);
  if (n.color_reached) b.push_back(Format("印刷可能枚数（カラー）　　：%d 枚", r.MaxPages_Color));
  if (n.mono_reached) b.push_back(Format("印刷可能枚数（モノクロ）　：%d 枚", r.MaxPages));
  b.push_back("印刷制限の範囲　　　　　　：" + PeriodText(r.CheckRange, r.LimitDays, r.LimitDate, s.WeekFlag));
  if (n.color_reached) b.push_back(Format("合計印刷枚数（カラー）　　：%d 枚", r.PageCount_Color));
  if (n.mono_reached) b.push_back(Format("合計印刷枚数（モノクロ）　：%d 枚", r.PageCount));
  b.insert(b.end(), {"", rule, sign1, sign2, rule});
  return n;
}

bool GetLocalHostName(std::string* out) {
  char name[260] = {0};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return false;
  *out = name;
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &res) == 0 && res) {
    if (res->ai_canonname && res->ai_canonname[0]) *out = res->ai_canonname;
    freeaddrinfo(res);
  }
  return true;
}

bool QuotaMailer::ConnectMailServer(const EngineSettings& s, int* error) {
  int zero = 0;
  *error = 0;
  if (s.SMTPServer.empty()) {
    std::string extra = "[SMTPｻｰﾊﾞが指定されていない]";
    // A refused entry still reaches syslog (eventlog::Report sends it there too).
    (void)WriteEventLog(source_, kEvMailConnectFailed, &extra, &zero);
    return false;
  }
  std::string domain;
  if (!GetLocalHostName(&domain)) domain = "localhost";
  int port = static_cast<uint16_t>(s.SMTPPort);
  int rc = smtp_.Connect(s.SMTPServer, port, domain);
  if (rc == 0) return true;
  *error = rc;
  std::string extra = Format("[ServerName:%s Port:%d SmtpOCX Error:%d]", s.SMTPServer.c_str(), port, rc);
  (void)WriteEventLog(source_, kEvMailConnectFailed, &extra, &zero);
  return false;
}

bool QuotaMailer::SendMail(const EngineSettings& s, const std::string& to, const std::string& subject,
                           const std::vector<std::string>& body, int* error) {
  int zero = 0;
  *error = 0;
  auto fail = [&](const std::string& text) {
    (void)WriteEventLog(source_, kEvMailSendFailed, &text, &zero);
    return false;
  };
  std::string domain;
  if (!GetLocalHostName(&domain)) return fail(" ﾎｽﾄ名取得に失敗");
  if (s.SenderMailAddress.empty()) return fail(" 送信元ﾒｰﾙｱﾄﾞﾚｽが指定されていない");
  if (to.empty()) return fail(" 宛先ｱﾄﾞﾚｽが指定されていない");
  if (subject.empty()) return fail(" ﾒｰﾙﾀｲﾄﾙが指定されていない");
  if (body.empty()) return fail(" ﾒｰﾙ本文が指定されていない");
  mail::MailMessage m{s.SenderMailAddress,
                      to,
                      subject,
                      body,
                      {"X-Mailer: SMTPCtl Custom Control Module", "Content-Type: text/plain; charset=\"iso-2022-jp\""}};
  int rc = smtp_.State();
  if (rc == 0) rc = smtp_.Send(m);
  if (rc == 0) return true;
  *error = rc;
  return fail(
      Format(" SmtpOCX Error:%d\r\n Domain:%s\r\n From:%s\r\n", rc, domain.c_str(), s.SenderMailAddress.c_str()) +
      Format(" To:%s\r\n Subject:%s", to.c_str(), subject.c_str()));
}

void QuotaMailer::SendQuotaMail(const EngineSettings& s, const CRequestResult& r, const std::string& account,
                                const UserRecord& user) {
  QuotaNotice n = ComposeQuotaNotice(s, r, account, user, Now());
  if (!n.send) return;
  int error = 0;
  // One connection for both mails; a failed mail is reported in its event and does not
  // keep the other from being sent.
  if (!ConnectMailServer(s, &error)) return;
  if (s.MailUser) SendMail(s, user.Mail, n.subject, n.body_lines, &error);
  if (s.MailAdmin) SendMail(s, s.AdminMailAddress, n.subject, n.body_lines, &error);
  Disconnect();
}

}  // namespace zv::engine
