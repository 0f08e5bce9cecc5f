// Opening a file in the desktop's program for its kind (a link that leaves a help page, in
// the browser): one command for every program, started and forgotten.
#pragma once

#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::process {

// Takes a file; gives the command that opens it, {"xdg-open", file}: an argument vector, so
// the file reaches the opener as one argument whatever blanks or quotes it holds.
std::vector<std::string> OpenFileCommand(const std::string& file);

// Takes a command (as OpenFileCommand gives); starts it detached from the caller. Gives the
// start's status; what the opener then does is its own.
Status RunDetached(const std::vector<std::string>& argv);

}  // namespace zv::process
