// A record of folder trees, to show that a test wrote nothing into the machine's own folders.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zv::deploy::testing {

// Takes folders and file names to leave out (files a running service rewrites on its own);
// gives each entry below the folders (links not followed) with its type, mode, owner, size and
// a hash of its content or its link target. A missing folder is one entry "absent".
std::map<std::string, std::string> TreeState(const std::vector<std::string>& roots,
                                             const std::vector<std::string>& skip_names);

}  // namespace zv::deploy::testing
