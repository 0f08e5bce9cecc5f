// Windows-style command lines as one text: the programs pass command lines such as
// '"%s" "%s" /n "%s"' (program, document, job title) or '"%s" %s' (program, switch) in
// messages and start them. These two functions turn such a text into an argument vector
// for Start and back, with the quoting rules of the Windows C runtime. Pure logic.
//
// Splitting rules: arguments are separated by blanks (space, tab) outside quotes; a '"'
// starts or ends a quoted part and is dropped; inside quotes '""' is one literal '"';
// 2n backslashes before a '"' give n backslashes (the quote still counts as a quote),
// 2n+1 backslashes before a '"' give n backslashes and a literal '"'; other backslashes
// are literal. The first argument (the program) ends at the first blank, or, when it starts
// with '"', at the next '"'; backslashes are literal in it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zv::process {

// Takes a command line; gives its arguments (empty for a blank line).
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Takes arguments; gives a command line that SplitCommandLine turns back into the same
// arguments (each argument that is empty or holds a blank or '"' is quoted).
std::string JoinCommandLine(const std::vector<std::string>& args);

}  // namespace zv::process
