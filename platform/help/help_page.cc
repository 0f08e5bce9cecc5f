#include "platform/help/help_page.h"

#include "platform/paths/install_layout.h"

namespace zv::help {

std::string HelpPage(std::string_view app_path, std::string_view name) {
  auto data = paths::InstalledFolder(paths::kDataFolder);
  return paths::FileInFolders(app_path, data.ok() ? *data : std::string(), name);
}

}  // namespace zv::help
