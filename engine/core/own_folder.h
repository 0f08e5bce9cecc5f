// What an engine's own folder under its root holds (kept print-log rows, kept answers): a
// folder that only this process writes while it runs. It is listed once, at the first ask,
// and from then on kept up to date by the calls that add and remove its entries, so that
// asking on every request whether anything waits there costs no call on the file system.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zv::engine {

class OwnFolderIndex {
 public:
  // Takes the folder's path; gives the names of its entries in order (listing the folder
  // when it was not listed yet or another folder was asked for last; none when it is missing).
  std::vector<std::string> Names(const std::string& folder);

  // Takes the folder and an entry this process has just put there or taken away.
  void Added(const std::string& folder, const std::string& name);
  void Removed(const std::string& folder, const std::string& name);

 private:
  void ListLocked(const std::string& folder);
  std::mutex mu_;
  std::string folder_;
  bool listed_ = false;
  std::set<std::string> names_;
};

}  // namespace zv::engine
