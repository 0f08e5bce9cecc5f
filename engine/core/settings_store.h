// Loading the engine settings from the machine key "Software\Orbelin\Zelvora\1.0", writing
// back the default folder names and the period end, and creating the share's folders.
#pragma once

#include <cstdint>
#include <string>

#include "engine/rules/check_rules.h"
#include "engine/rules/settings.h"
#include "platform/base/status.h"
#include "platform/registry/registry.h"

namespace zv::engine {

// Init(today), then reads the key: "AppPath" and "ShareDir" (the share root is the local
// path of "<AppPath>\<ShareDir>"), the three folder names (a missing one is written back
// with its default; each must be a plain name) with their folders created, then the other
// values; a missing or unreadable value keeps its default. Fails (with the fields read so
// far kept) when the key, "AppPath" or "ShareDir" cannot be read, a folder name is not
// plain or cannot be written back, or a folder cannot be made.
Status LoadSettings(EngineSettings* settings, int32_t today);

// Takes the machine key; gives its "MaxPages" / "MaxPages_Color" through ReadSystemLimits
// (50 / 20 where missing or not a number).
UserLimits ReadMachineKeyLimits(const registry::Key& key);

// Writes "LimitDate" to the registry and, when that succeeds, into `settings`.
Status SetLimitDate(EngineSettings* settings, int32_t date);

// Rolls the period end on when it is before `today` (RolledLimitDate) and stores the new
// end with SetLimitDate. Ok without a write while the period is current.
Status RollOnLimitDate(EngineSettings* settings, int32_t today);

// Creates a folder and any missing parents (a trailing "/" is ignored). Ok when it exists.
Status EnsureFolder(const std::string& path);

}  // namespace zv::engine
