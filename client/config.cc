#include "client/config.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/rules/text_util.h"
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

Status JoinServer(const std::string& share_folder, const std::string& server, const std::string& share,
                  const std::string& app_path) {
  if (!paths::IsPlainFileName(server) || !paths::IsPlainFileName(share))
    return Status::InvalidArgument("server or share is not a plain name");
  auto net = paths::RootFolder("net/" + server);
  if (!net.ok()) return net.status();
  std::string link = *net + "/" + share;
  std::error_code ec;
  std::filesystem::remove(link, ec);
  std::filesystem::create_directory_symlink(std::filesystem::absolute(share_folder), link, ec);
  if (ec) return Status::IOError("link " + link + ": " + ec.message());
  Status made = fs::MakeDirs(app_path);
  if (!made.ok()) return made;
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kMachineKey);
  if (!key.ok()) return key.status();
  for (auto [name, value] : {std::pair<const char*, std::string>{"ServerName", "\\\\" + server},
                             {"ShareName", share},
                             {"PrintInfoDir", "PrintInfo"},
                             {"JobsDir", "Jobs"},
                             {"ResultDir", "Result"},
                             {"SpoolDir", "Spool"},
                             {"AppPath", app_path}}) {
    Status set = key->SetString(name, value);
    if (!set.ok()) return set;
  }
  return fs::MakeDirs(app_path + "/Spool");
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
  std::string server;
  text("ServerName", &server);
  c.server_name = NormaliseServerName(server);
  if (!c.app_path.empty()) c.app_path = paths::ToSlashes(c.app_path);
  c.account = CurrentUserName();
  c.machine = CurrentMachineName();
  return c;
}

}  // namespace zv::client
