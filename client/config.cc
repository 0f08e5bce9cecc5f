#include "client/config.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/rules/text_util.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace zv::client {

std::string NormaliseServerName(std::string_view name) {
  std::string s = engine::Trim(name);
  if (s == kLocalPrintingText) return "";
  size_t first = s.find_first_not_of("\\/");
  if (first == std::string::npos) return "";
  s = s.substr(first);
  while (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  if (s.empty()) return "";
  return "\\\\" + s;
}

std::string ClientConfig::SpoolFolder() const { return app_path + "/" + spool_dir; }

Result<std::string> ClientConfig::ServerFolder(const std::string& dir) const {
  if (!has_server()) return Status::InvalidArgument("no server configured");
  if (!paths::IsPlainFileName(share_name) || !paths::IsPlainFileName(dir))
    return Status::InvalidArgument("share or folder name is not a plain name");
  return paths::ToLocalPath(server_name + "\\" + share_name + "\\" + dir);
}

namespace {
std::string Cut49(std::string s) {
  if (s.size() > 49) s.resize(49);
  return s;
}
}  // namespace

std::string CurrentUserName() {
  if (const passwd* pw = ::getpwuid(::geteuid())) return Cut49(pw->pw_name);
  const char* u = std::getenv("USER");
  return Cut49(u ? u : "");
}

std::string CurrentMachineName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "";
  return Cut49(host);
}

namespace {

// The server's folder names that a join writes, with the server's name and the share.
std::vector<std::pair<std::string, std::string>> JoinValues(const std::string& server, const std::string& share) {
  return {{"ServerName", "\\\\" + server}, {"ShareName", share}, {"PrintInfoDir", "PrintInfo"},
          {"JobsDir", "Jobs"},               {"ResultDir", "Result"}, {"SpoolDir", "Spool"}};
}

// Takes the folder that holds net/, the server, the share, the share's folder and the mode
// of the folders made; makes <folder>/net/<server>/<share> a link to the share's folder
// (absolute), replacing an old one.
Status LinkShare(const std::string& folder, const std::string& server, const std::string& share,
                 const std::string& share_folder, mode_t mode) {
  if (!paths::IsPlainFileName(server) || !paths::IsPlainFileName(share))
    return Status::InvalidArgument("server or share is not a plain name");
  std::string net = folder + "/net/" + server;
  if (Status made = fs::MakeDirs(net, mode); !made.ok()) return made;
  std::string link = net + "/" + share;
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_directory_symlink(std::filesystem::absolute(share_folder), link, ec);
  if (ec) return Status::IOError("link " + link + ": " + ec.message());
  return Status::Ok();
}

}  // namespace

std::string DefaultAppPath() {
  std::error_code ec;
  auto app = std::filesystem::absolute(RuntimeRoot() + "/app", ec);
  return ec ? RuntimeRoot() + "/app" : app.lexically_normal().string();
}

Status JoinServer(const std::string& share_folder, const std::string& server, const std::string& share,
                  const std::string& app_path) {
  if (!paths::IsPlainFileName(server) || !paths::IsPlainFileName(share))
    return Status::InvalidArgument("server or share is not a plain name");
  auto root = paths::RootFolder("");
  if (!root.ok()) return root.status();
  if (Status linked = LinkShare(*root, server, share, share_folder, 0700); !linked.ok()) return linked;
  std::error_code ec;
  std::string app = std::filesystem::absolute(app_path, ec).lexically_normal().string();
  if (ec) return Status::IOError("program folder " + app_path + ": " + ec.message());
  Status made = fs::MakeDirs(app);
  if (!made.ok()) return made;
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kMachineKey);
  if (!key.ok()) return key.status();
  auto values = JoinValues(server, share);
  values.emplace_back("AppPath", app);
  for (const auto& [name, value] : values) {
    Status set = key->SetString(name, value);
    if (!set.ok()) return set;
  }
  return fs::MakeDirs(app + "/Spool");
}

Status JoinServerMachineWide(const std::string& share_folder, const std::string& server, const std::string& share) {
  std::string folder = paths::SystemConfigFolder();
  if (folder.empty()) return Status::InvalidArgument("no machine-wide settings folder");
  if (Status linked = LinkShare(folder, server, share, share_folder, 0755); !linked.ok()) return linked;
  return registry::UpdateMachineWide([&](registry::HiveData& h) {
    if (Status made = h.CreateKey(kMachineKey); !made.ok()) return made;
    for (const auto& [name, value] : JoinValues(server, share)) {
      std::string bytes = value;
      bytes.push_back('\0');
      if (Status set = h.Set(kMachineKey, name, registry::Value{registry::kRegSz, bytes}); !set.ok()) return set;
    }
    return Status::Ok();
  });
}

Result<ClientConfig> LoadClientConfig() {
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kMachineKey);
  if (!key.ok()) return key.status();
  ClientConfig c;
  auto text = [&](const char* name, std::string* out) {
    auto v = key->GetString(name);
    if (v.ok() && !v->empty()) *out = *v;
  };
  text("AppPath", &c.app_path);
  text("SpoolDir", &c.spool_dir);
  text("ShareName", &c.share_name);
  text("PrintInfoDir", &c.print_info_dir);
  text("JobsDir", &c.jobs_dir);
  text("ResultDir", &c.result_dir);
  if (auto keyless = key->GetDword(kAcceptKeylessValue); keyless.ok()) c.accept_keyless_answers = *keyless != 0;
  std::string server;
  text("ServerName", &server);
  c.server_name = NormaliseServerName(server);
  if (!c.app_path.empty()) {
    c.app_path = paths::ToSlashes(c.app_path);
  } else {
    // Nothing stored (a user's first start on a machine the installer joined): this root's own.
    c.app_path = DefaultAppPath();
    if (Status made = fs::MakeDirs(c.app_path); !made.ok()) return made;
  }
  c.account = CurrentUserName();
  c.machine = CurrentMachineName();
  return c;
}

}  // namespace zv::client
