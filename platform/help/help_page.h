// Where a program's help page lies: the page of the settings' program folder ("AppPath") when
// one lies there, else the one the install lays into its data folder (<prefix>/share/zelvora).
#pragma once

#include <string>
#include <string_view>

namespace zv::help {

// Takes the settings' program folder (empty: none) and the page's file name; gives the page
// in the first of the program folder and the install's data folder that holds it as a regular
// file (the program folder's name when neither does, so the window names the page it missed).
std::string HelpPage(std::string_view app_path, std::string_view name);

}  // namespace zv::help
