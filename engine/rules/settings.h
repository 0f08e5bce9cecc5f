// The engine's settings object: the values of the machine key "Software\Orbelin\Zelvora\1.0"
// with their defaults, and the decoding of the packed values CheckRange, LimitAction and
// DispMessage. Loading from and writing to the registry is in engine/core/settings_store.h.
#pragma once

#include <cstdint>
#include <string>

namespace zv::engine {

inline constexpr char kZelvoraKey[] = "Software\\Orbelin\\Zelvora\\1.0";

struct EngineSettings {
  std::string AppPath;
  std::string ShareRoot;  // AppPath and ShareDir joined, as a local path
  std::string PrintInfoDir = "PrintInfo", PrintInfoPath;
  std::string JobsDir = "Jobs", JobsPath;
  std::string ResultDir = "Result", ResultPath;
  std::string DSN, UID, PWD;
  int32_t ThumbnailCount = 0;
  int32_t MaxPages = 50;
  int32_t MaxPages_Color = 20;
  // 1: a job that would cross the limit is refused; other values: the crossing job is
  // printed and later ones refused. Missing from the registry: 1 (no job crosses).
  int32_t LimitOverAction = 1;
  int32_t PeriodIndex = 3;  // from CheckRange: 0 none, 1 day, 2 week, 3 month, 4 N days
  int32_t LimitDays = 0;
  int32_t LimitDate = 0;  // yyyymmdd
  bool MailUser = false;
  bool MailAdmin = false;
  bool RefuseOverLimit = false;
  std::string SMTPServer;
  int32_t SMTPPort = 25;
  std::string AdminMailAddress;
  std::string SenderMailAddress;
  bool ShowCompletion = false;
  bool ShowErrors = true;
  int32_t WeekFlag = 0;
  int32_t DupCheck = 1;
  // 1: a request for an account the machine knows is taken only from that account's (or
  // root's) file, and the account's answer files are handed to it; 0: neither (shares whose
  // file owners are not the users).
  int32_t CheckRequestOwner = 1;
  // A job file larger than this many MiB is refused when the engine reads it, so that one
  // job cannot take the engine's memory (a 1,000-page job of scanned pages stays well
  // below it). Registry value "MaxJobFileMB"; 0 or missing: the default.
  int32_t MaxJobFileMB = kDefaultMaxJobFileMB;
  static constexpr int32_t kDefaultMaxJobFileMB = 1024;

  // Sets the defaults: all texts empty (the folder names to their default names),
  // LimitDate `today`.
  void Init(int32_t today);

  // Applies a CheckRange value: kind in the top four bits (0 none, 1 day, 2 week, 4 month,
  // 8 N days), the number of days in the low 28 bits. An unknown kind keeps the index.
  void ApplyCheckRange(uint32_t value);
  // Applies LimitAction bits: 1 mail the user, 2 mail the administrator, 4 refuse.
  void ApplyLimitAction(uint32_t value);
  // Applies DispMessage bits: 1 show the completion message, 2 show error messages.
  void ApplyDispMessage(uint32_t value);
};

// Gives the CheckRange value of a period index and a number of days (the inverse of
// ApplyCheckRange).
uint32_t EncodeCheckRange(int32_t period_index, int32_t days);

}  // namespace zv::engine
