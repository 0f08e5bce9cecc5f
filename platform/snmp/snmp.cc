#include "platform/snmp/snmp.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <charconv>
#include <cstdlib>
#include <mutex>

#include "platform/codepage/codepage.h"

namespace zv::snmp {
namespace {

// Sets the library up once: no configuration files, no persistent state, no MIB files (the
// identifiers are numeric), no log output (failures come back as Status).
void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    // An empty module list loads no MIB file at all (set once, before any thread asks).
    if (getenv("MIBS") == nullptr) setenv("MIBS", "", 0);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 0);
    snmp_disable_log();
    init_snmp("zelvora");
  });
}

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

Value FromVariable(const netsnmp_variable_list* v) {
  Value out;
  switch (v->type) {
    case ASN_INTEGER:
      out.kind = Value::Kind::kInteger;
      out.number = v->val.integer ? static_cast<int32_t>(*v->val.integer) : 0;
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
      out.kind = Value::Kind::kUnsigned;
      out.number = v->val.integer ? static_cast<uint32_t>(*v->val.integer) : 0;
      break;
    case ASN_COUNTER64:
      out.kind = Value::Kind::kCounter64;
      if (v->val.counter64) {
        out.high = static_cast<uint32_t>(v->val.counter64->high);
        out.number = static_cast<uint32_t>(v->val.counter64->low);
      }
      break;
    case ASN_OCTET_STR:
    case ASN_BIT_STR:
    case ASN_OPAQUE:
    case ASN_IPADDRESS:
      out.kind = v->type == ASN_IPADDRESS ? Value::Kind::kIpAddress : Value::Kind::kOctets;
      if (v->val.string && v->val_len > 0)
        out.bytes.assign(reinterpret_cast<const char*>(v->val.string), std::min<size_t>(v->val_len, kMaxValueBytes));
      break;
    case ASN_OBJECT_ID:
      out.kind = Value::Kind::kOid;
      if (v->val.objid)
        for (size_t i = 0; i < v->val_len / sizeof(oid) && i < MAX_OID_LEN; ++i)
          out.oid.push_back(static_cast<uint32_t>(v->val.objid[i]));
      break;
    case ASN_NULL:
      out.kind = Value::Kind::kNull;
      break;
    default:
      out.kind = Value::Kind::kOther;
      break;
  }
  return out;
}

}  // namespace

Result<Oid> ParseOid(std::string_view text) {
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  Oid out;
  while (true) {
    size_t dot = text.find('.');
    std::string_view word = text.substr(0, dot);
    uint32_t n = 0;
    auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
    if (word.empty() || ec != std::errc() || p != word.data() + word.size())
      return Status::InvalidArgument("not a numeric object identifier");
    out.push_back(n);
    if (out.size() > MAX_OID_LEN) return Status::InvalidArgument("object identifier too long");
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  if (out.size() < 2) return Status::InvalidArgument("object identifier too short");
  return out;
}

std::string OidToText(const Oid& oid) {
  std::string s;
  for (uint32_t w : oid) s += "." + std::to_string(w);
  return s;
}

bool OidHasPrefix(const Oid& oid, const Oid& prefix) {
  return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

std::string ValueToText(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kInteger:
    case Value::Kind::kUnsigned:
      return std::to_string(value.number);
    case Value::Kind::kCounter64:
      return std::to_string(value.high) + std::to_string(value.number);
    case Value::Kind::kOid:
      return value.oid.empty() ? std::string("0") : std::to_string(value.oid.front());
    case Value::Kind::kIpAddress: {
      if (value.bytes.size() != 4) return {};
      std::string s;
      for (size_t i = 0; i < 4; ++i) s += (i ? "." : "") + std::to_string(static_cast<unsigned char>(value.bytes[i]));
      return s;
    }
    case Value::Kind::kOctets: {
      std::string_view b = value.bytes;
      b = b.substr(0, b.find('\0'));
      // Agents answer in UTF-8 or, on Japanese models, in Shift-JIS: valid UTF-8 is kept as it is,
      // anything else is read as CP932.
      if (ValidUtf8(b)) return std::string(b);
      Result<std::string> u = codepage::Cp932ToUtf8(b, codepage::OnError::kSubstitute);
      return u.ok() ? *u : std::string();
    }
    default:
      return "Unknown Type...";
  }
}

struct Session::Impl {
  void* handle = nullptr;
};

Session::~Session() { (void)Close(); }
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&& o) noexcept {
  if (this != &o) {
    (void)Close();
    impl_ = std::move(o.impl_);
  }
  return *this;
}

Result<Session> Session::Open(std::string_view agent, std::string_view community, std::chrono::milliseconds timeout,
                              int retries) {
  if (agent.empty() || community.empty()) return Status::InvalidArgument("empty agent address or community");
  if (agent.find('\0') != std::string_view::npos || agent.size() > 255)
    return Status::InvalidArgument("bad agent address");
  InitOnce();
  std::string peer(agent), comm(community);
  netsnmp_session s;
  snmp_sess_init(&s);
  s.version = SNMP_VERSION_1;
  s.peername = peer.data();
  s.community = reinterpret_cast<u_char*>(comm.data());
  s.community_len = comm.size();
  s.timeout = static_cast<long>(timeout.count()) * 1000;
  s.retries = retries;
  // The single-session calls keep no global list of sessions, so sessions used on different
  // threads do not meet inside the library.
  void* h = snmp_sess_open(&s);
  if (h == nullptr) return Status::IOError("cannot open an SNMP session to " + peer);
  Session out;
  out.impl_ = std::make_unique<Impl>();
  out.impl_->handle = h;
  return out;
}

Result<GetNextReply> Session::GetNext(const Oid& id) {
  if (!impl_ || impl_->handle == nullptr) return Status::IOError("session closed");
  if (id.empty() || id.size() > MAX_OID_LEN) return Status::InvalidArgument("bad object identifier");
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
  if (pdu == nullptr) return Status::IOError("cannot make a request");
  std::vector<oid> words(id.begin(), id.end());
  snmp_add_null_var(pdu, words.data(), words.size());
  netsnmp_pdu* response = nullptr;
  int rc = snmp_sess_synch_response(impl_->handle, pdu, &response);
  std::unique_ptr<netsnmp_pdu, void (*)(netsnmp_pdu*)> owned(response, [](netsnmp_pdu* p) {
    if (p) snmp_free_pdu(p);
  });
  if (rc == STAT_TIMEOUT) return Status::Timeout("the agent did not answer");
  if (rc != STAT_SUCCESS || response == nullptr) return Status::IOError("the request failed");
  GetNextReply reply;
  reply.error_status = response->errstat;
  if (response->errstat != SNMP_ERR_NOERROR) {
    reply.oid = id;
    return reply;
  }
  const netsnmp_variable_list* v = response->variables;
  if (v == nullptr || v->name == nullptr || v->name_length == 0 || v->name_length > MAX_OID_LEN)
    return Status::IOError("an answer without an object");
  for (size_t i = 0; i < v->name_length; ++i) reply.oid.push_back(static_cast<uint32_t>(v->name[i]));
  if (v->type == SNMP_ENDOFMIBVIEW || v->type == SNMP_NOSUCHOBJECT || v->type == SNMP_NOSUCHINSTANCE) {
    // Newer agents mark the end of a walk with these exception values; they are reported as the
    // older noSuchName so callers test for one end.
    reply.error_status = kNoSuchName;
    return reply;
  }
  reply.value = FromVariable(v);
  return reply;
}

Status Session::Close() {
  if (!impl_ || impl_->handle == nullptr) return Status::Ok();
  void* h = impl_->handle;
  impl_->handle = nullptr;
  return snmp_sess_close(h) == 1 ? Status::Ok() : Status::IOError("closing the session failed");
}

}  // namespace zv::snmp
