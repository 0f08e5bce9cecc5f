#include "console/core/storage_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/base/ascii.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/odbc_config.h"
#include "platform/profile/profile.h"
#include "platform/service/service.h"

namespace zv::console {
namespace fsys = std::filesystem;
namespace {

std::string OdbcIni() { return odbc::ConfigDir() + "/odbc.ini"; }

// Closes a descriptor on every path out.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Takes a source and an open, empty target; copies the bytes, the mode and flushes them.
// Gives 0 or the errno of the failure.
int CopyBytes(const std::string& source, int out) {
  Fd in{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return errno;
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) return errno;
  std::vector<char> buf(1 << 20);
  for (;;) {
    ssize_t n = ::read(in.fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return errno;
      done += w;
    }
  }
  if (::fchmod(out, st.st_mode & 07777) != 0) return errno;
  if (::fsync(out) != 0) return errno;
  return 0;
}

// Takes a temporary file and its final name; renames it there unless a file of that name
// exists (EEXIST then). Gives 0 or the errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the flag: a hard link refuses an existing name as well.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  (void)::unlink(from.c_str());  // the data is reachable under its final name already
  return 0;
}

}  // namespace

Result<DatabaseLocation> LocateDatabase(CRegistryConfig& config) {
  DatabaseLocation loc;
  if (!config.GetDSN(&loc.dsn) || loc.dsn.empty()) return Status::NotFound("no \"DSN\" value");
  auto ini = profile::Load(OdbcIni());
  if (!ini.ok()) return ini.status();
  if (!ini->HasSection(loc.dsn)) return Status::NotFound("no data source " + loc.dsn + " in " + OdbcIni());
  const std::string driver = ini->Get(loc.dsn, "Driver").value_or("");
  std::string lower = driver;
  for (char& c : lower) c = LowerAscii(c);
  loc.path = ini->Get(loc.dsn, "Database").value_or("");
  if (lower.find("sqlite") == std::string::npos || loc.path.empty())
    return Status::NotSupported("the data source " + loc.dsn + " names no database file");
  loc.folder = fsys::path(loc.path).parent_path().string();
  return loc;
}

bool StorageFolderAvailable(CRegistryConfig& config) { return LocateDatabase(config).ok(); }

int ServicePrintControl::Stop(bool* stopped) {
  service::Manager manager;
  auto now = manager.Query(name_);
  if (!now.ok()) return 43;
  if (now->state == service::State::kStopped) return 0;
  auto after = manager.Stop(name_, stop_limit_ms_);
  if (!after.ok() || after->state != service::State::kStopped) return 43;
  *stopped = true;
  return 0;
}

int ServicePrintControl::Start() {
  service::Manager manager;
  auto now = manager.Query(name_);
  if (!now.ok()) return 44;
  if (now->state != service::State::kStopped) return 0;
  return manager.Start(name_).ok() ? 0 : 44;
}

Status StorageFolderModel::Init() {
  auto loc = LocateDatabase(config_);
  if (!loc.ok()) return loc.status();
  location_ = *loc;
  return Status::Ok();
}

Verdict StorageFolderModel::CheckTarget(const std::string& folder) const {
  Verdict v;
  if (folder.empty()) {
    v.ok = false;
    v.focus = "folder";
    return v;
  }
  std::error_code ec;
  if (folder == location_.folder || fsys::equivalent(folder, location_.folder, ec)) {
    v.ok = false;
    v.message = 20;
    v.text = GetAppMessage(20, nullptr);
    v.focus = "folder";
  }
  return v;
}

bool StorageFolderModel::CopyFile(const std::string& dest) {
  const fsys::path target(dest);
  std::string temp = (target.parent_path() / ("." + target.filename().string() + ".copy-XXXXXX")).string();
  auto fail = [&](int e) {
    ShowFilledMessage(sink_, 33, GetAppMessage(33, nullptr) + "\n" + std::strerror(e));
    return false;
  };
  Fd out{::mkstemp(temp.data())};
  if (out.fd < 0) return fail(errno);
  int e = CopyBytes(location_.path, out.fd);
  if (e == 0 && ::close(out.fd) != 0) e = errno;
  out.fd = -1;
  if (e == 0) e = RenameNoReplace(temp, dest);
  if (e == EEXIST) {
    const std::string question = GetAppMessage(33, nullptr) + "\n" + std::strerror(EEXIST) + "\n上書きしますか？";
    if (sink_.Show(question, kStyleQuestion) != kIdYes) {
      (void)::unlink(temp.c_str());  // our own temporary copy; nothing else names it
      return false;
    }
    e = ::rename(temp.c_str(), dest.c_str()) == 0 ? 0 : errno;
  }
  if (e != 0) {
    (void)::unlink(temp.c_str());  // as above
    return fail(e);
  }
  return true;
}

bool StorageFolderModel::PointDataSource(const std::string& path) {
  // The SQLite driver reads its attributes unquoted: it cannot be given such a path.
  if (path.find_first_of(";{}") != std::string::npos) return false;
  return profile::Modify(
             OdbcIni(),
             [&](profile::IniDocument& doc) {
               if (!doc.HasSection(location_.dsn)) return Status::NotFound("no data source " + location_.dsn);
               return doc.Set(location_.dsn, "Database", path);
             },
             profile::LineEnd::kLf)
      .ok();
}

bool StorageFolderModel::Run(const std::string& folder, bool move) {
  // The same folder by another path would copy the file onto itself, and a move would
  // then remove the only copy.
  if (Verdict v = CheckTarget(folder); !v.ok) {
    if (v.message >= 0) (void)ShowFilledMessage(sink_, v.message, v.text);  // an OK box
    return false;
  }
  const std::string old_path = location_.path;
  const std::string dest = (fsys::path(folder) / fsys::path(old_path).filename()).string();
  bool stopped = false;
  if (int rc = service_.Stop(&stopped); rc != 0) {
    (void)ShowAppMessage(sink_, rc);  // an OK box
    return false;
  }
  // This console's idle connections let go of the file before it is copied.
  odbc::ClearConnectionPool();
  bool ok = CopyFile(dest);
  if (ok && move) {
    auto undo = [&](int message, const std::string& detail) {
      // The copy goes only when the data source names the old file again.
      if (PointDataSource(old_path)) {
        (void)::unlink(dest.c_str());  // our copy, named by nothing now
      } else {
        message = 23;
      }
      ShowFilledMessage(sink_, message, GetAppMessage(message, nullptr) + detail);
      ok = false;
    };
    if (!PointDataSource(dest)) {
      (void)::unlink(dest.c_str());  // the data source still names the old file
      (void)ShowAppMessage(sink_, 23);
      ok = false;
    } else {
      odbc::ClearConnectionPool();
      std::string uid, pwd;
      (void)config_.GetUID(&uid);  // missing values connect without them
      (void)config_.GetPWD(&pwd);
      std::string detail;
      {
        auto conn = odbc::Connection::Open(location_.dsn, uid, pwd);
        Result<bool> row = Status::IOError("not opened");
        if (conn.ok()) {
          auto rows = (*conn)->Query("SELECT COUNT(*) FROM Main");
          row = rows.ok() ? (*rows)->Next() : Result<bool>(rows.status());
        }
        if (!conn.ok()) detail = "\n" + conn.status().message();
        else if (!row.ok() || !*row) detail = "\n" + (row.ok() ? std::string("no row") : row.status().message());
      }
      if (!detail.empty()) {
        undo(34, detail);
      } else if (!config_.SetLogPath(folder)) {
        undo(23, "");
      } else {
        odbc::ClearConnectionPool();
        location_.path = dest;
        location_.folder = folder;
        // A file left behind holds nothing the data source still names.
        (void)::unlink(old_path.c_str());
      }
    }
  }
  if (stopped) {
    if (int rc = service_.Start(); rc != 0) {
      if (!move || ok) (void)ShowAppMessage(sink_, rc);
      ok = false;
    }
  }
  return ok;
}

bool StorageFolderModel::Copy(const std::string& folder) { return Run(folder, false); }
bool StorageFolderModel::Move(const std::string& folder) { return Run(folder, true); }

}  // namespace zv::console
