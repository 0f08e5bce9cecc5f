// What the console's tests share: a server set up in the test's runtime root.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "engine/db/schema.h"
#include "platform/base/status.h"
#include "platform/registry/registry.h"

namespace zv::console::testing {

// Takes the test's runtime root; sets up the embedded database and the machine key's "DSN",
// "AppPath" (root + "/app") and "ShareDir" ("share"), and makes the share's "Result" folder.
// Gives the data source name.
inline Result<std::string> SetUpServerRoot(const std::string& root) {
  auto dsn = engine::SetupEmbeddedDatabase();
  if (!dsn.ok()) return dsn.status();
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0");
  if (!key.ok()) return key.status();
  for (const auto& [name, value] :
       {std::pair<std::string, std::string>{"DSN", *dsn}, {"AppPath", root + "/app"}, {"ShareDir", "share"}}) {
    if (Status st = key->SetString(name, value); !st.ok()) return st;
  }
  std::error_code ec;
  std::filesystem::create_directories(root + "/app/share/Result", ec);
  if (ec) return Status::IOError("cannot make " + root + "/app/share/Result: " + ec.message());
  return *dsn;
}

}  // namespace zv::console::testing
