// Setting up a server on the embedded defaults and playing the client's part, for the
// demo, the benchmark and the tests: the registry key with the share under the runtime
// root, the embedded database with a few users and a printer, a folder printer, the share's
// folders, sample job documents and requests placed into free slots.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/base/status.h"
#include "platform/fs/files.h"

namespace zv::engine {

struct ServerSetupOptions {
  std::string app_path;  // empty: $ZELVORA_ROOT/app (the share is <app>/share)
  int smtp_port = 0;     // 0: no mail server
  std::string printer = "Office";
  int printer_dpi = 150;
  std::string dsn;   // empty: the embedded database; else this data source (its schema is set up)
  bool seed = true;  // insert the users, the group and the printer (false: a database another
                     // server already seeded)
  bool demo = true;  // the demo's samples: seeded rows, the folder printer and example mail
                     // addresses (false: a real server, whose administrator adds users and
                     // printers in the console; settings already in the key are kept, so the
                     // set-up can run again without undoing the administrator's changes)
};

// The folders of a set-up server.
struct ServerFolders {
  std::string share, print_info, jobs, result, printers;
};

// Sets the registry key, the database (users "alice" 100 pages and "bob" 3 pages, the
// printer), the folder printer and the share's folders; without `demo` only the key (its
// policy values where missing), the database's tables and the share's folders. Gives the
// folders.
Result<ServerFolders> SetUpServer(const ServerSetupOptions& options);

// A request as the client writes it.
struct RequestSpec {
  std::string account = "alice";
  std::string machine = "pc1";
  std::string job_file = "job1.prc";
  std::vector<std::pair<std::string, int>> jobs = {{"Report", 2}};
  std::string printer = "Office";
  int copies = 1;
  int paper = 9;
  std::string print_pages = {};  // "first,last"; empty for all pages
};

// Gives the request file text of a order.
std::string RequestText(const RequestSpec& order);

// Writes a sample job document of `pages` pages as `path`.
Status WriteSampleJob(const std::string& path, int pages);

// Places a request text into the first free slot of the request folder as the client does
// (under the lock of "Sequence.seq", through a temporary name); gives the slot's base name.
// Busy when all 100 slots are taken. With `owner`, the file is handed to that owner before it
// lands in the slot, as if that user had written it (where the caller may hand it over).
Result<std::string> SubmitRequest(const std::string& print_info, const std::string& text,
                                  const fs::Ownership* owner = nullptr);

}  // namespace zv::engine
