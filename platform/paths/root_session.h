// The per-user folders of libraries for programs run as root. Window programs read them from
// the XDG variables: Qt's runtime folder, its settings (the file dialogs keep their history
// in $XDG_CONFIG_HOME/QtProject.conf), the caches of Qt, fontconfig and the graphics drivers.
// Without the variables they fall back to root's home (and /tmp/runtime-root), but root's
// programs are the machine's and keep every file in their runtime root.
#pragma once

#include "platform/base/status.h"

namespace zv::paths {

// Takes nothing. When the process runs as root, sets each of XDG_RUNTIME_DIR,
// XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME and XDG_STATE_HOME that is unset or empty
// to a folder of the runtime root: xdg/runtime (made now, mode 0700, as the XDG rules ask of
// it), xdg/config, xdg/cache, xdg/data and xdg/state (made by whoever writes there). Values
// the environment gives are kept. For other users it does nothing. Gives Ok, or the error of
// making the runtime folder (nothing is set then).
[[nodiscard]] Status KeepRootOutOfHome();

}  // namespace zv::paths
