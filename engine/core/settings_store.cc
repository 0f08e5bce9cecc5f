#include "engine/core/settings_store.h"

#include "engine/rules/check_rules.h"
#include "engine/rules/quota_period.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace zv::engine {
namespace {

using registry::Key;
using registry::RootKey;

void ReadString(const Key& key, const char* name, std::string* field) {
  auto v = key.GetString(name);
  if (v.ok()) *field = *v;
}

void ReadInt(const Key& key, const char* name, int32_t* field) {
  auto v = key.GetDword(name);
  if (v.ok()) *field = static_cast<int32_t>(*v);
}

}  // namespace

UserLimits ReadMachineKeyLimits(const Key& key) {
  return ReadSystemLimits([&](const char* name) -> std::optional<int32_t> {
    auto v = key.GetDword(name);
    if (!v.ok()) return std::nullopt;
    return static_cast<int32_t>(*v);
  });
}

Status EnsureFolder(const std::string& path) {
  std::string p = path;
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return fs::MakeDirs(p);
}

Status LoadSettings(EngineSettings* s, int32_t today) {
  s->Init(today);
  auto key = Key::Open(RootKey::kLocalMachine, kZelvoraKey);
  if (!key.ok()) return key.status();
  auto app = key->GetString("AppPath");
  if (!app.ok())
    return Status(app.status().code() == Status::Code::kNotFound ? Status::NotFound("AppPath missing") : app.status());
  s->AppPath = *app;
  auto share = key->GetString("ShareDir");
  if (!share.ok())
    return share.status().code() == Status::Code::kNotFound ? Status::NotFound("ShareDir missing") : share.status();
  auto root = paths::ToLocalPath(s->AppPath + "\\" + *share);
  if (!root.ok()) return root.status();
  s->ShareRoot = *root;

  struct Folder {
    const char* value;
    std::string* name;
    std::string* path;
  };
  const Folder folders[] = {{"PrintInfoDir", &s->PrintInfoDir, &s->PrintInfoPath},
                            {"JobsDir", &s->JobsDir, &s->JobsPath},
                            {"ResultDir", &s->ResultDir, &s->ResultPath}};
  for (const auto& f : folders) {
    auto v = key->GetString(f.value);
    if (v.ok()) {
      *f.name = *v;
    } else if (v.status().code() == Status::Code::kNotFound) {
      // Written back with its default, so every program that reads the key finds the folder
      // the engine uses.
      Status w = key->SetString(f.value, *f.name);
      if (!w.ok()) return w;
    }
    // The folder names come from the registry and are joined to the share root: each must
    // stay one folder below it.
    auto full = paths::JoinInside(s->ShareRoot, *f.name);
    if (!full.ok()) return Status::InvalidArgument(std::string(f.value) + " is not a plain folder name: " + *f.name);
    *f.path = *full;
    Status made = EnsureFolder(*f.path);
    if (!made.ok()) return made;
  }

  ReadString(*key, "DSN", &s->DSN);
  ReadString(*key, "UID", &s->UID);
  ReadString(*key, "PWD", &s->PWD);
  ReadInt(*key, "ThumbnailCount", &s->ThumbnailCount);
  const UserLimits system = ReadMachineKeyLimits(*key);
  s->MaxPages = system.mono;
  s->MaxPages_Color = system.color;
  ReadInt(*key, "LimitOverAction", &s->LimitOverAction);
  if (auto v = key->GetDword("CheckRange"); v.ok()) s->ApplyCheckRange(*v);
  ReadInt(*key, "LimitDate", &s->LimitDate);
  if (auto v = key->GetDword("LimitAction"); v.ok()) s->ApplyLimitAction(*v);
  ReadString(*key, "SMTPServer", &s->SMTPServer);
  ReadInt(*key, "SMTPPort", &s->SMTPPort);
  ReadString(*key, "AdminMailAddress", &s->AdminMailAddress);
  ReadString(*key, "SenderMailAddress", &s->SenderMailAddress);
  if (auto v = key->GetDword("DispMessage"); v.ok()) s->ApplyDispMessage(*v);
  ReadInt(*key, "WeekFlag", &s->WeekFlag);
  ReadInt(*key, "DupCheck", &s->DupCheck);
  ReadInt(*key, "CheckRequestOwner", &s->CheckRequestOwner);
  ReadInt(*key, "MaxJobFileMB", &s->MaxJobFileMB);
  if (s->MaxJobFileMB <= 0) s->MaxJobFileMB = EngineSettings::kDefaultMaxJobFileMB;
  return Status::Ok();
}

Status SetLimitDate(EngineSettings* s, int32_t date) {
  auto key = Key::Open(RootKey::kLocalMachine, kZelvoraKey);
  if (!key.ok()) return key.status();
  Status w = key->SetDword("LimitDate", static_cast<uint32_t>(date));
  if (w.ok()) s->LimitDate = date;
  return w;
}

Status RollOnLimitDate(EngineSettings* s, int32_t today) {
  if (s->LimitDate >= today) return Status::Ok();
  return SetLimitDate(s, RolledLimitDate(s->LimitDate, today, s->PeriodIndex, s->LimitDays, s->WeekFlag));
}

}  // namespace zv::engine
