// File input and output of the request and answer classes.
#include <sys/stat.h>

#include <thread>

#include "engine/rules/quota_file.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {

Status CRequestInfo::ReadTopRequest(const std::string& path, int attempts, std::chrono::milliseconds retry_delay,
                                    uint32_t* owner_uid, uint32_t* links) {
  Result<std::string> text = Status::NotFound(path);
  struct stat read {};
  for (int i = 0; i < attempts; ++i) {
    text = fs::ReadFile(path, kMaxRequestFileBytes, &read);
    // A file that is too big stays too big: no retry for it.
    if (text.ok() || text.status().code() == Status::Code::kInvalidArgument) break;
    std::this_thread::sleep_for(retry_delay);
  }
  if (!text.ok()) return text.status();
  if (!ParseRequestText(*text)) return Status::InvalidArgument(path + ": no [RequestInfo] section");
  if (owner_uid) *owner_uid = read.st_uid;
  if (links) *links = static_cast<uint32_t>(read.st_nlink);
  return Status::Ok();
}

Status CRequestResult::CreateResultFile(const std::string& path, bool show_normal, bool show_error,
                                        const fs::Ownership* owner) const {
  return fs::WriteFileAtomic(path, ComposeResultText(show_normal, show_error), 0644, fs::Durability::kSynced, owner);
}

Result<std::string> AccountQuotaFileName(const std::string& account) {
  if (!paths::IsPlainFileName(account, kMaxRequestName))
    return Status::InvalidArgument("account name is not a plain name");
  return account + "-.ans";
}

Status WriteAccountQuotaFile(const std::string& result_folder, const std::string& account, std::string_view text,
                             const fs::Ownership* owner) {
  auto name = AccountQuotaFileName(account);
  if (!name.ok()) return name.status();
  auto path = paths::JoinInside(result_folder, *name);
  if (!path.ok()) return path.status();
  return fs::WriteFileAtomic(*path, text, 0644, fs::Durability::kSynced, owner);
}

}  // namespace zv::engine
