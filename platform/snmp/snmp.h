// SNMP manager calls standing in for the manager interface the client uses to ask printers
// for their state: open a session to an agent, get-next requests, object identifiers in
// numeric form and prefix comparison, and the text of a returned value. Backed by net-snmp
// (SNMPv1, its single-session interface, so sessions of different threads never meet).
//
// Object identifiers are numeric only (".1.3.6.1.2.1.43.16.5.1.2"): no MIB files are read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::snmp {

using Oid = std::vector<std::uint32_t>;

// Longest octet string kept from a reply (bytes); the rest is cut before decoding.
inline constexpr std::size_t kMaxValueBytes = 1024;
// The error status an agent gives for "no such name" (the end of the table under SNMPv1).
inline constexpr long kNoSuchName = 2;

// Takes an identifier in dotted numeric form (a leading dot allowed); gives its words.
// InvalidArgument for anything else (names, empty words, words above 2^32 - 1, more than
// 128 words, fewer than 2).
Result<Oid> ParseOid(std::string_view text);
// Gives the dotted numeric form with a leading dot.
std::string OidToText(const Oid& oid);
// True when `oid` begins with every word of `prefix`.
bool OidHasPrefix(const Oid& oid, const Oid& prefix);

// A value as it came back, and its text.
struct Value {
  enum class Kind { kNull, kInteger, kUnsigned, kCounter64, kOctets, kOid, kIpAddress, kOther };
  Kind kind = Kind::kNull;
  std::int64_t number = 0;  // integers, counters, gauges, time ticks
  std::uint32_t high = 0;   // 64-bit counters: high word (number holds the low word)
  std::string bytes;        // octet strings, opaque, bit strings, IP addresses (raw)
  Oid oid;                  // object identifiers
};

// Takes a value; gives its text: numbers as decimal (a 64-bit counter as its high word's
// decimal followed by its low word's), an object identifier as its first word, an IP
// address as its four bytes in dotted form, octet strings up to their first NUL decoded as
// UTF-8 when they are valid UTF-8 and as CP932 otherwise (bytes CP932 cannot map become
// "?"); any other type "Unknown Type...".
std::string ValueToText(const Value& value);

// What one get-next request gave.
struct GetNextReply {
  long error_status = 0;  // 0: no error; kNoSuchName at the end of the agent's objects
  Oid oid;                // the object returned (the one asked for when there was an error)
  Value value;
};

class Session {
 public:
  ~Session();
  Session(Session&&) noexcept;
  Session& operator=(Session&&) noexcept;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Takes the agent's address ("host" or "host:port", UDP, port 161 by default), the
  // community, the time-out of one try and the number of retries; gives an open session.
  // InvalidArgument for an empty address or community; IOError when the session cannot be
  // made (an address that does not resolve). No packet is sent here.
  static Result<Session> Open(std::string_view agent, std::string_view community, std::chrono::milliseconds timeout,
                              int retries);

  // Takes an object identifier; sends one get-next request and waits for the answer
  // (time-out x (retries + 1) at most). Gives the reply; Timeout when the agent did not
  // answer, IOError when the request could not be sent or the answer was unusable.
  Result<GetNextReply> GetNext(const Oid& oid);

  // Closes the session; IOError when the library reports a failure. Also done by the
  // destructor.
  Status Close();

 private:
  Session() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zv::snmp
