#include "console/core/quota_files.h"

#include "client/printer_list.h"
#include "engine/core/account_owner.h"
#include "engine/rules/quota_file.h"
#include "engine/rules/quota_period.h"
#include "engine/rules/settings.h"
#include "platform/base/ascii.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::console {

Result<std::string> ConsoleResultFolder(CRegistryConfig& config) {
  std::string app, share, result;
  if (!config.GetAppPath(&app) || !config.GetShareDir(&share)) return Status::NotFound("AppPath or ShareDir missing");
  if (!config.GetResultDir(&result) || result.empty()) result = "Result";
  auto root = paths::ToLocalPath(app + "\\" + share);
  if (!root.ok()) return root.status();
  return paths::JoinInside(*root, result);
}

namespace {

Status WriteQuotaFile(CRegistryConfig& config, const std::string& name, int32_t color_limit, int32_t mono_limit,
                      QuotaWriteMode mode, int32_t color_count, int32_t mono_count,
                      const std::optional<LimitPeriod>& period, int32_t today, std::string* path) {
  auto folder = ConsoleResultFolder(config);
  if (!folder.ok()) return folder.status();
  const bool period_file = mode == QuotaWriteMode::kPeriod;
  *path = *folder + "/" + name + (period_file ? ".prd" : "-.ans");
  if (period_file) {
    if (!paths::IsPlainFileName(name)) return Status::InvalidArgument("not a plain name");
    auto full = paths::JoinInside(*folder, name + ".prd");
    if (!full.ok()) return full.status();
    *path = *full;
  }

  engine::QuotaFileValues v;
  if (period) {
    v.period_index = period->index;
    v.limit_date = period->end;
    v.limit_days = period->days;
  } else {
    int32_t index = 0, days = 0, week_flag = 0;
    config.GetCheckRange(&index, &days);
    config.GetWeekFlag(&week_flag);
    v.period_index = index;
    v.limit_days = days;
    v.limit_date = index == engine::kPeriodWeek ? engine::WeekEndDate(today, week_flag)
                                                : engine::NextLimitDate(0, today, index, days);
  }
  v.limits = !period_file;
  auto count = [](int32_t c) { return c == -1 ? std::nullopt : std::optional<int32_t>(c); };
  if (mode == QuotaWriteMode::kCounts || mode == QuotaWriteMode::kUser) {
    v.max_pages_color = color_limit;
    v.max_pages = mono_limit;
    v.page_count_color = count(color_count);
    v.page_count = count(mono_count);
  }
  const std::string text = engine::ComposeQuotaText(v);
  // The period file is everyone's.
  if (period_file) return fs::WriteFileAtomic(*path, text, 0644, fs::Durability::kSynced);
  // An account's quota file is its own, readable by it alone, as the engine writes it.
  int32_t check = 0;
  if (!config.GetCheckRequestOwner(&check)) check = engine::EngineSettings{}.CheckRequestOwner;
  const std::optional<fs::Ownership> owner = engine::AccountFilesOwner(check, name);
  return engine::WriteAccountQuotaFile(*folder, name, text, owner ? &*owner : nullptr);
}

}  // namespace

Status WriteLimitAnswerFiles(CRegistryConfig& config, const std::string& name, int32_t color_limit, int32_t mono_limit,
                             QuotaWriteMode mode, int32_t color_count, int32_t mono_count,
                             const std::optional<LimitPeriod>& period, int32_t today, MessageSink* sink) {
  std::string path;
  Status s = WriteQuotaFile(config, name, color_limit, mono_limit, mode, color_count, mono_count, period, today, &path);
  if (!s.ok() && sink) sink->Show("クォータファイルの書き込みに失敗しました。\n" + path, kStyleError);
  return s;
}

std::vector<std::string> ListCandidatePrinters(spool::Spooler& spooler) {
  std::vector<std::string> names;
  auto printers = spooler.EnumPrinters();
  if (!printers.ok()) return names;
  for (auto& p : *printers) {
    // The machine's own virtual printer queues ("Zelvora" to the zelvora backend,
    // "Zelvora-Raster" to the olviport port) capture jobs; they print nothing on paper.
    const bool own_queue = EqualsNoCase(p.name, client::kVirtualPrinterName) || p.port.rfind("zelvora:", 0) == 0 ||
                           p.port.rfind("olviport:", 0) == 0;
    if (!own_queue) names.push_back(std::move(p.name));
  }
  return names;
}

}  // namespace zv::console
