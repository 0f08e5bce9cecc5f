#include "platform/mail/smtp.h"

#include <gtest/gtest.h>

#include "platform/mail/testing/smtp_server.h"
#include "platform/testing/temp_root.h"

namespace zv::mail {
namespace {

class SmtpTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    root_ = new zv::testing::TempRoot();
    auto s = testing::SmtpServer::Start(root_->str() + "/smtp");
    ASSERT_TRUE(s.ok()) << s.status().ToString();
    server_ = s->release();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  void SetUp() override { server_->Clear(); }

  static zv::testing::TempRoot* root_;
  static testing::SmtpServer* server_;
};
zv::testing::TempRoot* SmtpTest::root_ = nullptr;
testing::SmtpServer* SmtpTest::server_ = nullptr;

TEST_F(SmtpTest, SendsTwoMailsOverOneConnection) {
  SmtpClient c;
  EXPECT_EQ(c.State(), kNotConnected);
  ASSERT_EQ(c.Connect("127.0.0.1", server_->port(), "engine.example"), 0) << c.last_error();
  EXPECT_EQ(c.State(), 0);
  MailMessage m{"sender@example.org",
                "user@example.org",
                "印刷枚数制限の通知 [2026/03/15 09:05]",
                {"------", ".leading dot", "◎モノクロ印刷可能枚数を超えています。"},
                {"X-Mailer: SMTPCtl Custom Control Module", "Content-Type: text/plain; charset=\"iso-2022-jp\""}};
  ASSERT_EQ(c.Send(m), 0) << c.last_error();
  m.to = "admin@example.org";
  ASSERT_EQ(c.Send(m), 0) << c.last_error();
  c.Disconnect();
  EXPECT_EQ(c.State(), kNotConnected);
  auto mails = server_->WaitForMails(2, 5000);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[0].find("To: user@example.org"), std::string::npos);
  EXPECT_NE(mails[1].find("To: admin@example.org"), std::string::npos);
  EXPECT_NE(mails[0].find("X-Mailer: SMTPCtl Custom Control Module"), std::string::npos);
  EXPECT_NE(mails[0].find("Content-Type: text/plain; charset=\"iso-2022-jp\""), std::string::npos);
  EXPECT_NE(mails[0].find("\n.leading dot"), std::string::npos);  // dot-stuffing undone by the server
  EXPECT_NE(mails[0].find(Utf8ToIso2022Jp("◎モノクロ印刷可能枚数を超えています。")), std::string::npos);
}

TEST_F(SmtpTest, FailuresAreReportedAsCodes) {
  SmtpClient c;
  c.set_timeouts(std::chrono::milliseconds(2000), std::chrono::milliseconds(5000));
  EXPECT_NE(c.Connect("127.0.0.1", testing::FreeLocalPort(), "x"), 0);
  EXPECT_EQ(c.State(), kNotConnected);
  EXPECT_EQ(c.Send(MailMessage{"a@b", "c@d", "s", {"x"}, {}}), kNotConnected);
  EXPECT_NE(c.Connect("bad host/evil", 25, "x"), 0);
  EXPECT_NE(c.Connect("127.0.0.1", 0, "x"), 0);
  ASSERT_EQ(c.Connect("127.0.0.1", server_->port(), "x"), 0);
  EXPECT_EQ(c.Send(MailMessage{"a@b", "c@d\r\nBcc: e@f", "s", {"x"}, {}}), kBadMessage);
  EXPECT_TRUE(server_->Mails().empty());
}

}  // namespace
}  // namespace zv::mail
