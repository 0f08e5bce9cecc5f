// The storage folder's headless part: where the database file of the registry's data
// source lives (the "Database" of its section in the runtime root's odbc.ini), the control
// of the print service "Zelvora Service" that keeps it open, and copying or moving the file
// to another folder. A data source on a database server has no file: nothing is moved.
#pragma once

#include <string>

#include "console/core/registry_config.h"
#include "console/rules/messages.h"
#include "console/rules/validators.h"
#include "platform/base/status.h"
#include "service/service_host.h"

namespace zv::console {

// The registry's data source and its database file.
struct DatabaseLocation {
  std::string dsn;
  std::string path;    // the database file
  std::string folder;  // its folder
};

// Takes the registry store; gives the file of its "DSN". NotFound without a "DSN" value or
// without its section in the private odbc.ini; NotSupported for a data source that names
// no file (a database server).
Result<DatabaseLocation> LocateDatabase(CRegistryConfig& config);

// Takes the registry store; gives whether the data source is a file the storage folder can
// move (the storage-folder command is disabled otherwise).
bool StorageFolderAvailable(CRegistryConfig& config);

// Stopping and starting the print service.
class PrintServiceControl {
 public:
  virtual ~PrintServiceControl() = default;
  // Gives 0, or the message to show (43). *stopped is set only when the service ran and
  // this call stopped it.
  virtual int Stop(bool* stopped) = 0;
  // Starts a stopped service (one that runs is left alone); gives 0 or the message (44).
  virtual int Start() = 0;
};

// The print service of the runtime root's service table.
class ServicePrintControl : public PrintServiceControl {
 public:
  // Takes how long a stop may take (the service host itself gives the engine 60 seconds)
  // and the service's name.
  explicit ServicePrintControl(int stop_limit_ms = 90000, std::string name = service_host::kServiceName)
      : stop_limit_ms_(stop_limit_ms), name_(std::move(name)) {}
  int Stop(bool* stopped) override;
  int Start() override;

 private:
  int stop_limit_ms_;
  std::string name_;
};

// The storage folder dialog's work.
class StorageFolderModel {
 public:
  // Takes the registry store, the sink for the messages and the service control.
  StorageFolderModel(CRegistryConfig& config, MessageSink& sink, PrintServiceControl& service)
      : config_(config), sink_(sink), service_(service) {}

  // Finds the database file; gives the failure of LocateDatabase.
  Status Init();
  // Gives the folder the database file is in now.
  const std::string& current_folder() const { return location_.folder; }
  // Gives the data source and its file as they are now.
  const DatabaseLocation& location() const { return location_; }

  // Takes the chosen folder; gives the OK check: an empty folder focuses the folder field
  // ("folder") without a message; the current folder (the same folder by any path) gives
  // message 20.
  Verdict CheckTarget(const std::string& folder) const;

  // Takes the chosen folder. Copy: stops the service, copies the file there (asking before
  // it replaces one), starts the service again when it stopped it. Move: after the copy
  // points the data source at the copy, checks that it opens, sets "LogPath", then removes
  // the old file; any failure removes the copy and points the data source back. Each shows
  // its own messages; gives success.
  bool Copy(const std::string& folder);
  bool Move(const std::string& folder);

 private:
  bool CopyFile(const std::string& dest);
  bool PointDataSource(const std::string& path);
  bool Run(const std::string& folder, bool move);

  CRegistryConfig& config_;
  MessageSink& sink_;
  PrintServiceControl& service_;
  DatabaseLocation location_;
};

}  // namespace zv::console
