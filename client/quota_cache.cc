#include "client/quota_cache.h"

#include <sys/stat.h>

#include "engine/rules/text_util.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/profile/profile.h"

namespace zv::client {

std::vector<std::string> QuotaFileCandidates(const std::string& account, const std::string& machine) {
  if (!paths::IsPlainFileName(account, 100) || !paths::IsPlainFileName(machine, 100)) return {};
  return {account + "-.ans", account + "-" + machine + ".ans", account + ".ans"};
}

std::string NewestQuotaFile(const std::string& folder, const std::string& account, const std::string& machine) {
  std::string best;
  struct timespec best_time {};
  for (const auto& name : QuotaFileCandidates(account, machine)) {
    std::string path = folder + "/" + name;
    struct stat st;
    // Only root's (the engine's) and the user's own files count: another member's file (or
    // a link) in one of these names is passed over.
    if (::lstat(path.c_str(), &st) != 0 || !fs::TrustedForCaller(st)) continue;
    bool newer = best.empty() || st.st_mtim.tv_sec > best_time.tv_sec ||
                 (st.st_mtim.tv_sec == best_time.tv_sec && st.st_mtim.tv_nsec > best_time.tv_nsec);
    if (newer) {
      best = path;
      best_time = st.st_mtim;
    }
  }
  return best;
}

void StoreQuotaKey(int index, const std::string& text, QuotaState& s) {
  const bool empty = engine::Trim(text).empty();
  const int32_t v = engine::LeadingInt(text);
  switch (index) {
    case 0: {
      static const uint32_t kinds[] = {kKindNone, kKindDay, kKindWeek, kKindMonth, kKindDays};
      if (!empty && v >= 0 && v <= 4) s.kind = kinds[v];
      break;
    }
    case 1:
      s.limit_date = v;
      break;
    case 2:
      s.max_pages = v;
      break;
    case 3:
      if (!empty) s.page_count = v;
      break;
    case 4:
      s.max_color = v;
      break;
    case 5:
      if (!empty) s.count_color = v;
      break;
    default:
      break;
  }
}

void RefreshQuotaCache(const ClientConfig& config, QuotaState& state) {
  if (!config.has_server()) return;
  auto folder = config.ResultFolder();
  if (!folder.ok()) return;
  static const char* const kKeys[] = {"CheckRange", "LimitDate",      "MaxPages",
                                      "PageCount",  "MaxPages_Color", "PageCount_Color"};
  std::string newest = NewestQuotaFile(*folder, config.account, config.machine);
  if (!newest.empty()) {
    auto text = fs::ReadTrustedFile(newest, 1 << 20);
    auto doc = text.ok() ? Result<profile::IniDocument>(profile::IniDocument::Parse(*text))
                         : Result<profile::IniDocument>(text.status());
    if (doc.ok()) {
      int empties = 0;
      for (int i = 0; i < 6; ++i) {
        std::string v = doc->Get("PrintLimit", kKeys[i]).value_or("");
        if (engine::Trim(v).empty()) ++empties;
        StoreQuotaKey(i, v, state);
      }
      if (empties == 3) state.max_pages = state.page_count = state.max_color = state.count_color = -1;
    }
  }
  auto period_text = fs::ReadTrustedFile(*folder + "/Aperiod.prd", 1 << 20);
  auto period = period_text.ok() ? Result<profile::IniDocument>(profile::IniDocument::Parse(*period_text))
                                 : Result<profile::IniDocument>(period_text.status());
  if (period.ok()) {
    StoreQuotaKey(0, period->Get("PrintLimit", "CheckRange").value_or(""), state);
    StoreQuotaKey(1, period->Get("PrintLimit", "LimitDate").value_or(""), state);
    if (state.kind == kKindDays) state.days = engine::LeadingInt(period->Get("PrintLimit", "LimitDays").value_or(""));
  }
}

}  // namespace zv::client
