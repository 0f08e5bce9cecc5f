#include "platform/odbc/odbc_config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/fs/watch.h"
#include "platform/profile/profile.h"

namespace zv::odbc {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string AttrValue(const std::string& v) {
  if (v.find_first_of(";{}") == std::string::npos) return v;
  std::string q = "{";
  for (char c : v) {
    q += c;
    if (c == '}') q += '}';
  }
  return q + "}";
}

// Splits "a=b;c={d;e}" into pairs, honouring braces.
std::vector<std::pair<std::string, std::string>> SplitConnectionString(const std::string& s) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t eq = s.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = Trim(s.substr(i, eq - i));
    size_t j = eq + 1;
    std::string value;
    if (j < s.size() && s[j] == '{') {
      ++j;
      while (j < s.size()) {
        if (s[j] == '}') {
          if (j + 1 < s.size() && s[j + 1] == '}') {
            value += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += s[j++];
      }
      size_t semi = s.find(';', j);
      j = semi == std::string::npos ? s.size() : semi + 1;
    } else {
      size_t semi = s.find(';', j);
      value = s.substr(j, semi == std::string::npos ? std::string::npos : semi - j);
      j = semi == std::string::npos ? s.size() : semi + 1;
    }
    out.emplace_back(key, value);
    i = j;
  }
  return out;
}

// Which file a path named when it was read: a rewrite (a new file renamed into place, or one
// changed in place) gives another stamp.
struct Stamp {
  bool present = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtime_ns = 0;
  bool operator==(const Stamp& o) const {
    return std::tie(present, dev, ino, size, mtime_ns) == std::tie(o.present, o.dev, o.ino, o.size, o.mtime_ns);
  }
};

Stamp StampOf(const std::string& path) {
  struct stat st {};
  Stamp s;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.present = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

// Resolutions kept while both configuration files are the ones they were read from: every
// connection of a process asks for the same one or two, and reading the files each time
// costs more calls than the connection itself.
struct Resolution {
  Stamp sources, drivers;
  std::optional<std::string> value;
};
std::mutex resolutions_mutex;
std::map<std::string, Resolution> resolutions;
// A watch on the configuration folder, armed before the resolutions kept for it were made:
// while it reports nothing, neither file changed, and they are given without looking at the
// files at all. Without a watch (no folder yet, inotify refused) the files' stamps decide.
fs::FolderChanges config_changes;

// Takes the configuration folder (with resolutions_mutex held); gives true when the kept
// resolutions for it still hold by the watch's word, dropping them when they may not.
bool KeptByWatch(const std::string& dir) {
  if (config_changes.Unchanged(dir)) return true;
  for (auto it = resolutions.begin(); it != resolutions.end();)
    it = it->first.compare(0, dir.size() + 1, dir + "\n") == 0 ? resolutions.erase(it) : std::next(it);
  // Armed now (when it could be): what is read from here on is vouched for by its next word.
  return config_changes.Unchanged(dir);
}

template <typename Compute>
std::optional<std::string> Resolve(const std::string& key, Compute compute) {
  const std::string dir = ConfigDir();
  const std::string full_key = dir + "\n" + key;
  bool watched = false;
  {
    std::lock_guard<std::mutex> l(resolutions_mutex);
    watched = KeptByWatch(dir);
    auto it = resolutions.find(full_key);
    if (watched && it != resolutions.end()) return it->second.value;
  }
  const Stamp sources = watched ? Stamp{} : StampOf(dir + "/odbc.ini");
  const Stamp drivers = watched ? Stamp{} : StampOf(dir + "/odbcinst.ini");
  {
    std::lock_guard<std::mutex> l(resolutions_mutex);
    auto it = resolutions.find(full_key);
    if (!watched && it != resolutions.end() && it->second.sources == sources && it->second.drivers == drivers)
      return it->second.value;
  }
  std::optional<std::string> value = compute();
  std::lock_guard<std::mutex> l(resolutions_mutex);
  if (resolutions.size() >= 64) resolutions.clear();
  resolutions[full_key] = Resolution{sources, drivers, value};
  return value;
}

// Gives the library of a driver name from the private odbcinst.ini; empty when unknown.
std::string DriverLibrary(const std::string& driver) {
  return profile::GetString(ConfigDir() + "/odbcinst.ini", driver, "Driver", "");
}

}  // namespace

std::string ConfigDir() { return RuntimeRoot() + "/odbc"; }

std::string FindDriverLibrary(const std::string& file_name) {
  static const char* const kDirs[] = {"/usr/lib/x86_64-linux-gnu/odbc",
                                      "/usr/lib/aarch64-linux-gnu/odbc",
                                      "/usr/lib/odbc",
                                      "/usr/lib64/odbc",
                                      "/usr/local/lib/odbc",
                                      "/usr/lib/x86_64-linux-gnu",
                                      "/usr/lib64",
                                      "/usr/lib"};
  for (const char* d : kDirs) {
    std::string p = std::string(d) + "/" + file_name;
    if (access(p.c_str(), R_OK) == 0) return p;
  }
  return "";
}

Status WriteDriverConfig() {
  profile::IniDocument ini;
  struct Known {
    const char* name;
    const char* description;
    const char* library;
  };
  static const Known kDrivers[] = {
      {"SQLite3", "SQLite3 ODBC Driver", "libsqlite3odbc.so"},
      {"PostgreSQL Unicode", "PostgreSQL ODBC driver (Unicode version)", "psqlodbcw.so"},
      {"PostgreSQL ANSI", "PostgreSQL ODBC driver (ANSI version)", "psqlodbca.so"},
  };
  bool any = false;
  for (const auto& d : kDrivers) {
    std::string lib = FindDriverLibrary(d.library);
    if (lib.empty()) continue;
    Status s =
        ini.ReplaceSection(d.name, {{"Description", d.description}, {"Driver", lib}, {"Debug", "0"}, {"CommLog", "0"}});
    if (!s.ok()) return s;
    any = true;
  }
  if (!any) return Status::NotFound("no ODBC driver library is installed");
  Status s = fs::MakeDirs(ConfigDir());
  if (!s.ok()) return s;
  return fs::WriteFileAtomic(ConfigDir() + "/odbcinst.ini", ini.Serialize(profile::LineEnd::kLf));
}

Status AddDataSource(const std::string& name, const std::string& driver,
                     const std::vector<std::pair<std::string, std::string>>& attributes) {
  if (name.empty() || name.find_first_of("[]=;{}\r\n") != std::string::npos)
    return Status::InvalidArgument("bad data source name: " + name);
  if (access((ConfigDir() + "/odbcinst.ini").c_str(), F_OK) != 0) {
    Status s = WriteDriverConfig();
    if (!s.ok()) return s;
  }
  profile::KeyValues entries = {{"Driver", driver}};
  for (const auto& a : attributes) entries.push_back(a);
  return profile::Modify(
      ConfigDir() + "/odbc.ini",
      [&](profile::IniDocument& doc) {
        doc.DeleteSection(name);
        return doc.ReplaceSection(name, entries);
      },
      profile::LineEnd::kLf);
}

Status AddSqliteDataSource(const std::string& name, const std::string& database_path) {
  // The SQLite driver reads its connection attributes without quoting: a path holding one
  // of these characters cannot be passed to it.
  if (database_path.empty() || database_path.find_first_of(";{}") != std::string::npos)
    return Status::InvalidArgument("the SQLite driver cannot open a file named " + database_path);
  // Several programs write the same database file: a busy database is waited on for up to ten
  // seconds before a statement fails.
  return AddDataSource(name, "SQLite3", {{"Database", database_path}, {"Timeout", "10000"}});
}

namespace {
std::optional<std::string> ReadDataSourceConnectionString(const std::string& name) {
  auto ini = profile::Load(ConfigDir() + "/odbc.ini");
  if (!ini.ok() || !ini->HasSection(name)) return std::nullopt;
  std::string out;
  for (const auto& [k, v] : ini->Section(name)) {
    std::string value = v;
    // The driver manager would look the name up in the system's odbcinst.ini; the runtime root
    // keeps its own, so the name becomes the library's path here.
    if (Lower(k) == "driver") {
      std::string lib = DriverLibrary(v);
      if (!lib.empty()) value = lib;
    }
    if (!out.empty()) out += ';';
    out += k + "=" + AttrValue(value);
  }
  return out;
}

std::string ReadResolvedConnectionString(const std::string& connection_string) {
  auto parts = SplitConnectionString(connection_string);
  bool changed = false;
  for (auto& [k, v] : parts) {
    if (Lower(k) == "driver") {
      std::string lib = DriverLibrary(v);
      if (!lib.empty()) {
        v = lib;
        changed = true;
      }
    }
  }
  if (!changed) return connection_string;
  std::string out;
  for (const auto& [k, v] : parts) {
    if (!out.empty()) out += ';';
    out += k + "=" + AttrValue(v);
  }
  return out;
}
}  // namespace

std::optional<std::string> DataSourceConnectionString(const std::string& name) {
  return Resolve("source\n" + name, [&] { return ReadDataSourceConnectionString(name); });
}

std::string ResolveConnectionString(const std::string& connection_string) {
  return *Resolve("string\n" + connection_string,
                  [&] { return std::optional<std::string>(ReadResolvedConnectionString(connection_string)); });
}

}  // namespace zv::odbc
