// Test fixture: a runtime root with the engine's registry key, the share folders and an
// embedded database with a few users, groups and printers.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "engine/core/settings_store.h"
#include "engine/db/schema.h"
#include "platform/eventlog/eventlog.h"
#include "platform/odbc/odbc.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {

class EngineFixture : public ::testing::Test {
 public:
  void SetUp() override {
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kZelvoraKey);
    ASSERT_TRUE(key.ok());
    key_ = *key;
    ASSERT_TRUE(key_->SetString("AppPath", root_.str() + "/app").ok());
    ASSERT_TRUE(key_->SetString("ShareDir", "share").ok());
    auto dsn = SetupEmbeddedDatabase();
    ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
    ASSERT_TRUE(key_->SetString("DSN", *dsn).ok());
    auto c = odbc::Connection::Open(*dsn, "", "");
    ASSERT_TRUE(c.ok());
    conn_ = std::move(*c);
  }

  void Load(int32_t today = 20260415) { ASSERT_TRUE(LoadSettings(&settings_, today).ok()); }

  void Sql(const std::string& sql, const std::vector<odbc::Value>& params = {}) {
    auto r = conn_->Execute(sql, params);
    ASSERT_TRUE(r.ok()) << sql << ": " << r.status().ToString();
  }

  std::vector<eventlog::Event> Events() {
    auto all = eventlog::ReadAll();
    return all.ok() ? *all : std::vector<eventlog::Event>{};
  }

  zv::testing::TempRoot root_;
  std::optional<registry::Key> key_;
  std::unique_ptr<odbc::Connection> conn_;
  EngineSettings settings_;
};

}  // namespace zv::engine
