#include "console/core/log_deletion.h"

#include "console/core/environment.h"

namespace zv::console {

bool DeleteUsersPrintLog(CConsoleSettings& settings, CConsoleDatabase& db, const std::vector<engine::UserRecord>& users,
                         const std::vector<engine::GroupRecord>& groups, int32_t today, MessageSink& sink) {
  if (users.empty()) return true;
  std::vector<int32_t> uids;
  for (const auto& u : users) uids.push_back(u.UID);
  if (!db.DeletePrintLog(uids)) {
    ShowAppMessage(sink, 36);
    return false;
  }
  // Failures were shown one by one; the deletion itself stands.
  (void)WriteZeroCountQuotaFiles(settings, users, groups, today, &sink);
  return true;
}

bool DeleteAllPrintLogs(CConsoleSettings& settings, CConsoleDatabase& db, int32_t today, MessageSink& sink) {
  if (!db.DeleteAllPrintLog()) {
    ShowAppMessage(sink, 36);
    return false;
  }
  std::vector<engine::GroupRecord> groups;
  std::vector<engine::UserRecord> users;
  if (!db.GetGroupInfo(&groups, -1, 1) || !db.GetUserInfo(&users, -1, 1)) return true;
  (void)WriteZeroCountQuotaFiles(settings, users, groups, today, &sink);  // failures were shown
  return true;
}

}  // namespace zv::console
