#include "platform/snmp/snmp.h"

#include <gtest/gtest.h>

#include "platform/snmp/testing/snmpd.h"
#include "platform/testing/temp_root.h"

namespace zv::snmp {
namespace {

TEST(SnmpOid, ParsesNumericFormsOnly) {
  struct Case {
    const char* text;
    bool ok;
    size_t words;
  } cases[] = {
      {".1.3.6.1.2.1.43.16.5.1.2", true, 11},
      {"1.3.6", true, 3},
      {"1", false, 0},
      {"", false, 0},
      {"1..3", false, 0},
      {"1.3.", false, 0},
      {"printmib.prtAlert", false, 0},
      {"1.3.4294967296", false, 0},
      {"1.3.4294967295", true, 3},
  };
  for (const Case& c : cases) {
    Result<Oid> o = ParseOid(c.text);
    EXPECT_EQ(o.ok(), c.ok) << c.text;
    if (o.ok()) {
      EXPECT_EQ(o->size(), c.words) << c.text;
    }
  }
  EXPECT_TRUE(OidHasPrefix(*ParseOid("1.3.6.1"), *ParseOid("1.3.6")));
  EXPECT_FALSE(OidHasPrefix(*ParseOid("1.3"), *ParseOid("1.3.6")));
  EXPECT_FALSE(OidHasPrefix(*ParseOid("1.3.7.1"), *ParseOid("1.3.6")));
}

TEST(SnmpValue, TextOfEachKind) {
  auto octets = [](std::string b) {
    Value v;
    v.kind = Value::Kind::kOctets;
    v.bytes = std::move(b);
    return v;
  };
  auto make = [](Value::Kind k, int64_t n = 0, uint32_t high = 0) {
    Value v;
    v.kind = k;
    v.number = n;
    v.high = high;
    return v;
  };
  Value neg = make(Value::Kind::kInteger, -5), c64 = make(Value::Kind::kCounter64, 7, 1);
  Value id = make(Value::Kind::kOid), ip = make(Value::Kind::kIpAddress);
  id.oid = {1, 3, 6};
  ip.bytes = std::string("\x7f\x00\x00\x01", 4);
  struct Case {
    Value v;
    std::string text;
  } cases[] = {
      {neg, "-5"},
      {c64, "17"},
      {id, "1"},
      {ip, "127.0.0.1"},
      {octets("READY"), "READY"},
      {octets("用紙切れ"), "用紙切れ"},                          // valid UTF-8 stays
      {octets("\x97\x70\x8e\x86\x90\xd8\x82\xea"), "用紙切れ"},  // CP932 is decoded
      {octets(std::string("AB\0CD", 5)), "AB"},                  // cut at the first NUL
      {make(Value::Kind::kOther), "Unknown Type..."},
  };
  for (const Case& c : cases) EXPECT_EQ(ValueToText(c.v), c.text);
}

TEST(SnmpSession, WalksAnAgentAndStopsAtItsEnd) {
  zv::testing::TempRoot root;
  auto agent = snmp::testing::Agent::Start(root.str() + "/snmpd", "mervik");
  ASSERT_TRUE(agent.ok()) << agent.status().ToString();
  ASSERT_TRUE((*agent)
                  ->Serve({{".1.3.6.1.2.1.43.16.5.1.2.1.1", "string", "READY"},
                           {".1.3.6.1.2.1.43.18.1.1.7.1.1", "integer", "8"}})
                  .ok());
  Result<Session> s = Session::Open((*agent)->address(), "mervik", std::chrono::milliseconds(2000), 1);
  ASSERT_TRUE(s.ok());
  Result<GetNextReply> r = s->GetNext(*ParseOid(".1.3.6.1.2.1.43.16.5.1.2"));
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(r->error_status, 0);
  EXPECT_EQ(OidToText(r->oid), ".1.3.6.1.2.1.43.16.5.1.2.1.1");
  EXPECT_EQ(ValueToText(r->value), "READY");
  r = s->GetNext(r->oid);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(ValueToText(r->value), "8");
  r = s->GetNext(r->oid);
  ASSERT_TRUE(r.ok());
  // After the table the agent gives its next object outside it, or the end.
  EXPECT_TRUE(r->error_status == kNoSuchName || !OidHasPrefix(r->oid, *ParseOid(".1.3.6.1.2.1.43")));
  EXPECT_TRUE(s->Close().ok());

  // A wrong community gets no answer at all.
  Result<Session> wrong = Session::Open((*agent)->address(), "public", std::chrono::milliseconds(200), 0);
  ASSERT_TRUE(wrong.ok());
  EXPECT_FALSE(wrong->GetNext(*ParseOid(".1.3.6.1.2.1.43")).ok());
}

}  // namespace
}  // namespace zv::snmp
