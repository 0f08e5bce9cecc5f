#include "platform/accounts/accounts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/base/ascii.h"

namespace zv::accounts {
namespace {

std::string Trim(std::string_view s) {
  const char* ws = " \t\r\n\v\f";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(ws);
  return std::string(s.substr(b, e - b + 1));
}

// Takes an address; gives it without leading backslashes or a trailing dot, lower-cased.
std::string HostPart(std::string_view address) {
  std::string s = Trim(address);
  size_t b = s.find_first_not_of('\\');
  s = b == std::string::npos ? "" : s.substr(b);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return ToLowerAscii(s);
}

void AddDomain(std::set<std::string>* names, std::string domain) {
  domain = HostPart(domain);
  if (domain.empty() || domain == "(none)" || domain == "localdomain") return;
  names->insert(domain);
  names->insert(domain.substr(0, domain.find('.')));
}

// Takes an entry of the account database; gives the account it describes.
Account FromPasswd(const passwd& pw) {
  Account a;
  a.name = pw.pw_name ? pw.pw_name : "";
  const std::string gecos = pw.pw_gecos ? pw.pw_gecos : "";
  a.full_name = Trim(std::string_view(gecos).substr(0, gecos.find(',')));
  a.uid = pw.pw_uid;
  a.gid = pw.pw_gid;
  return a;
}

// The global and per-process state of getpwent is shared: one reader at a time.
std::mutex& PasswdMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

UidRange ReadUidRange(const std::string& login_defs_path) {
  UidRange r;
  std::ifstream in(login_defs_path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key >> value) || key.empty() || key[0] == '#') continue;
    if (key != "UID_MIN" && key != "UID_MAX") continue;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(value.c_str(), &end, 0);
    if (errno != 0 || end == value.c_str() || *end != '\0' || v > UINT32_MAX) continue;
    (key == "UID_MIN" ? r.min : r.max) = static_cast<uint32_t>(v);
  }
  return r;
}

std::string ServerAddress(std::string_view address) {
  if (address.empty()) return "";
  if (address.substr(0, 2) == "\\\\") return std::string(address);
  if (address[0] == '\\') return "\\" + std::string(address);
  return "\\\\" + std::string(address);
}

std::vector<std::string> LocalNames() {
  std::set<std::string> names = {"localhost", "."};
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
    std::string h = HostPart(host);
    names.insert(h);
    names.insert(h.substr(0, h.find('.')));
    if (size_t dot = h.find('.'); dot != std::string::npos) AddDomain(&names, h.substr(dot + 1));
  }
  char nis[256] = {};
  if (getdomainname(nis, sizeof nis - 1) == 0) AddDomain(&names, nis);
  // The resolver's own domains are those of the directory a joined machine belongs to.
  std::ifstream resolv("/etc/resolv.conf");
  std::string line;
  while (std::getline(resolv, line)) {
    std::istringstream words(line);
    std::string key, domain;
    if (!(words >> key) || (key != "domain" && key != "search")) continue;
    while (words >> domain) AddDomain(&names, domain);
  }
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (!a->ifa_addr) continue;
      char text[INET6_ADDRSTRLEN] = {};
      const int family = a->ifa_addr->sa_family;
      const void* bytes = nullptr;
      if (family == AF_INET) bytes = &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
      if (family == AF_INET6) bytes = &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
      if (bytes && inet_ntop(family, bytes, text, sizeof text)) names.insert(ToLowerAscii(text));
    }
    freeifaddrs(list);
  }
  return {names.begin(), names.end()};
}

bool NamesThisMachine(std::string_view address, const std::vector<std::string>& local_names) {
  const std::string host = HostPart(address);
  if (host.empty()) return false;
  for (const std::string& name : local_names) {
    const std::string n = HostPart(name);
    if (n.empty()) continue;
    if (host == n) return true;
    // A host inside one of the directory's domains ("dc1.corp.example.org").
    if (n.find('.') != std::string::npos && host.size() > n.size() + 1 && EndsWithNoCase(host, "." + n)) return true;
  }
  return false;
}

Result<std::vector<Account>> EnumerateAccounts(std::string_view address, const std::vector<std::string>& local_names,
                                               const EnumerateOptions& options) {
  if (Trim(address).empty()) return Status::InvalidArgument("no address given");
  if (!NamesThisMachine(address, local_names))
    return Status::NotFound("the address names neither this machine nor its directory: " + std::string(address));
  const UidRange range = ReadUidRange(options.login_defs);
  std::vector<Account> out;
  std::set<std::string> seen;
  std::lock_guard<std::mutex> lock(PasswdMutex());
  setpwent();
  while (passwd* pw = getpwent()) {
    if (pw->pw_uid < range.min || pw->pw_uid > range.max) continue;
    Account a = FromPasswd(*pw);
    a.name = Trim(a.name);
    if (a.name.empty() || (a.full_name.empty() && !options.keep_empty_full_names)) continue;
    // A name listed by two sources (the files and the directory) is taken once.
    if (!seen.insert(a.name).second) continue;
    out.push_back(std::move(a));
  }
  endpwent();
  return out;
}

namespace {

// Takes a look-up (getpwnam_r or getpwuid_r bound to its key) and what is looked up; gives
// the account, growing the buffer while the entry does not fit.
template <typename LookUp>
Result<Account> LookUpPasswd(LookUp look_up, const std::string& what) {
  std::vector<char> buf(1024);
  for (;;) {
    passwd pw{};
    passwd* found = nullptr;
    int rc = look_up(&pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 4);
      continue;
    }
    // "Not found" may come as 0 with no entry or, from some sources, as one of these codes.
    if ((rc == 0 && !found) || rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM)
      return Status::NotFound("no account " + what);
    if (rc != 0) return Status::IOError("account " + what + ": " + std::strerror(rc));
    return FromPasswd(pw);
  }
}

}  // namespace

Result<Account> FindAccount(const std::string& name) {
  if (name.empty()) return Status::NotFound("no account name");
  return LookUpPasswd([&](passwd* pw, char* buf, size_t size,
                          passwd** found) { return ::getpwnam_r(name.c_str(), pw, buf, size, found); },
                      "\"" + name + "\"");
}

Result<Account> FindAccountByUid(uint32_t uid) {
  return LookUpPasswd(
      [&](passwd* pw, char* buf, size_t size, passwd** found) { return ::getpwuid_r(uid, pw, buf, size, found); },
      "of uid " + std::to_string(uid));
}

}  // namespace zv::accounts
