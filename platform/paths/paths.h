// Paths: the one place where Windows-style path texts become local paths, plus the
// program folder, the temporary folder, unique temporary files and the check that a name
// taken from a file or a request is a plain file name that cannot leave its folder.
//
// Mapping (ToLocalPath):
//   \\SERVER\SHARE\rest  ->  $ZELVORA_ROOT/net/SERVER/SHARE/rest, or, when the runtime root
//                           has no entry SERVER/SHARE, <system folder>/net/SERVER/SHARE/rest
//                           where that exists (the installer's mapping for every user)
//   any other text       ->  the same text with every "\" turned into "/"
// The net/SERVER/SHARE entry is a real mount point on a network installation, or a link to
// (or a plain) folder on a single machine.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::paths {

// Takes any text; gives it with every backslash turned into a slash. The only place where
// path separators are converted.
std::string ToSlashes(std::string_view path);

// Takes a Windows-style or local path; gives the local path (see the mapping above). A UNC
// path needs a server and a share that are plain names (IsPlainFileName), and its rest may
// not climb above the share with ".."; such paths and empty texts give InvalidArgument.
Result<std::string> ToLocalPath(std::string_view path);

// Takes a name and a length limit in bytes; true when the name is a plain file name: not
// empty, not "." or "..", no "..", no "/" or "\", no control characters (below 0x20, 0x7f),
// at most max_len bytes. Names from files, requests and messages pass through this before
// they are joined to a folder.
bool IsPlainFileName(std::string_view name, size_t max_len = 255);

// Takes any name (e.g. a mutex, guard or service name) and gives a plain file name that
// stands for it alone: letters, digits, "_" and "-" are kept, every other byte (".", "/",
// "\", "%", spaces, non-ASCII) becomes %XX, so distinct names never meet and no name can
// form a path. Names whose encoding is longer than 160 bytes are cut and end in a hash of
// the whole name. An empty name gives "%".
std::string SafeFileName(std::string_view name);

// Takes a folder and a name; gives "folder/name" when the name is plain (IsPlainFileName),
// else InvalidArgument. The folder is used as given (trailing slashes allowed).
Result<std::string> JoinInside(std::string_view folder, std::string_view name);

// Gives the folder $ZELVORA_ROOT/sub (sub is one or more plain names joined by "/"),
// creating it and any missing parents with the mode given. InvalidArgument for a sub path
// with empty, "." or ".." parts; IOError when it cannot be made.
Result<std::string> RootFolder(std::string_view sub, mode_t mode = 0700);

// Gives the full path of the running program (from /proc/self/exe).
Result<std::string> ProgramPath();

// Gives the folder of the running program, without a trailing slash.
Result<std::string> ProgramFolder();

// Gives the installation's prefix: the folder above the running program's folder (programs
// lie in <prefix>/bin, libraries in <prefix>/lib, in the build tree as in an install).
Result<std::string> InstallPrefix();

// Gives the folder of the settings that the installer writes for every user of the machine:
// $ZELVORA_SYSTEM_CONFIG when set and not empty, else <prefix>/etc; empty when neither is
// known. Read only; nothing but the installer writes there.
std::string SystemConfigFolder();

// Gives the temporary folder of this runtime root, $ZELVORA_ROOT/tmp (mode 0700, created
// when missing), without a trailing slash. Stands in for the user's temporary folder.
Result<std::string> TempFolder();

// Takes a folder, a prefix and an extension (with its dot, e.g. ".tmp"); creates a new,
// empty file there named prefix + 8 hexadecimal digits + extension, exclusively (never an
// existing file), mode 0600, and gives its full path. Prefix and extension must be plain
// name parts (no separators, no control characters); InvalidArgument otherwise. Example:
// CreateTempFile(dir, "WXQ", ".tmp") -> dir/WXQ1a2b3c4d.tmp.
Result<std::string> CreateTempFile(std::string_view folder, std::string_view prefix,
                                   std::string_view extension = ".tmp");

}  // namespace zv::paths
