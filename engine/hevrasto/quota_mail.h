// The quota notice: when a printed or refused request leaves its user at or over a page
// limit, a mail to the user, to the administrator or to both, as "LimitAction" says.
#pragma once

#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "engine/rules/settings.h"
#include "platform/mail/smtp.h"

namespace zv::engine {

// A local moment, as the notice shows it.
struct MailClock {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

// What a notice says; `send` is false when no notice is due.
struct QuotaNotice {
  bool send = false;
  bool color_reached = false;
  bool mono_reached = false;
  std::string subject;
  std::vector<std::string> body_lines;
};

// Takes the settings, the request's result (limits, pages used, period), the account and
// the user row, and the moment; gives the notice. None is due when neither mail flag is
// set, the pages used were not computed (negative) or no limit (above 0) is reached.
// The period line names Monday to Sunday weeks when WeekFlag is 1, the value that makes
// the period itself run from Monday.
QuotaNotice ComposeQuotaNotice(const EngineSettings& settings, const CRequestResult& result, const std::string& account,
                               const UserRecord& user, const MailClock& now);

// Gives the period text of a notice: "1日", "1週間（月曜～日曜）", "1ヶ月", "30日間（3月15日まで）"
// or "無期限".
std::string PeriodText(int32_t period_index, int32_t days, int32_t limit_date, int32_t week_flag);

// The engine's mail sender: the SMTP session and the checks and events around it.
class QuotaMailer {
 public:
  // Takes the event source the failures are written under.
  explicit QuotaMailer(const char* source) : source_(source) {}

  // Connects to "SMTPServer" and "SMTPPort" of the settings. False (event 23) when the
  // server is not set or cannot be reached.
  bool ConnectMailServer(const EngineSettings& settings, int* error);
  // Sends one mail; false (event 24 with the reason) when the host name, the sender, the
  // recipient, the subject or the body is missing, or the server refuses it.
  bool SendMail(const EngineSettings& settings, const std::string& to, const std::string& subject,
                const std::vector<std::string>& body, int* error);
  void Disconnect() { smtp_.Disconnect(); }

  // The whole notice of a request: composes it and sends it to the user and/or the
  // administrator. Every failure is written to the event log and otherwise ignored.
  void SendQuotaMail(const EngineSettings& settings, const CRequestResult& result, const std::string& account,
                     const UserRecord& user);

  mail::SmtpClient& smtp() { return smtp_; }

 private:
  const char* source_;
  mail::SmtpClient smtp_;
};

// Gives the local host's name as resolved (its canonical name, or the plain host name
// when it does not resolve); false when the host name cannot be had.
bool GetLocalHostName(std::string* out);

}  // namespace zv::engine
