// What a program says about itself: every program answers "--help" with its usage on
// standard output and exit code 0, and a command line it cannot take (an option it does not
// know, a missing value or argument) with a one-line reason and its usage on standard error
// and exit code 2. A usage text starts with the line "Usage: NAME ...", then one line saying
// what the program is, then its arguments, options or commands and the environment it reads.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zv::process {

// The exit code of a command line the program cannot take.
inline constexpr int kUsageExitCode = 2;

// A program's usage text and the name it reports errors under.
class Usage {
 public:
  // Takes the program's name and its whole usage text (ending with a newline).
  constexpr Usage(std::string_view program, std::string_view text) : program_(program), text_(text) {}
  std::string_view program() const { return program_; }
  std::string_view text() const { return text_; }
  // Prints the usage on standard output; gives 0 (the exit code of "--help").
  int Help() const;
  // Takes the reason a command line is refused; prints "NAME: REASON" and the usage on
  // standard error; gives kUsageExitCode.
  int Error(std::string_view reason) const;

 private:
  std::string_view program_;
  std::string_view text_;
};

// One option a program takes.
struct Option {
  enum class Kind {
    kFlag,    // stands alone: "--monitor"
    kValue,   // the next argument is its value: "--title TEXT"
    kJoined,  // the name ends with "=" and the value is the rest of the argument: "-style=fusion"
  };
  std::string_view name;
  Kind kind = Kind::kFlag;
};

// Takes the arguments after the program name, the options the program takes, its usage and
// optionally where to put the operands (the arguments that are neither options nor their
// values, in order). An argument is an option when it starts with "-" and has more
// characters ("-" alone is an operand); the value of an option that takes one is never read
// as an option. Gives 0 after printing the usage on standard output when an argument is
// "--help"; kUsageExitCode after reporting the first option not in `options` (or one whose
// value is missing); nothing when the program goes on with its own reading of the arguments.
[[nodiscard]] std::optional<int> CheckOptions(const std::vector<std::string>& args, std::span<const Option> options,
                                              const Usage& usage, std::vector<std::string>* operands = nullptr);

// Takes a program's own options; gives them together with the options Qt's application
// object reads from a window program's command line (QGuiApplication's and QApplication's:
// -platform NAME, -display HOST:SCREEN, -style NAME, -reverse and the others, each with one
// or two dashes), so that a window program lets them through to Qt.
std::vector<Option> WithQtOptions(std::span<const Option> own = {});

// The usage lines about the runtime root, for the environment part of the usage of programs
// that keep files under it (a macro, so that it joins the string literal of a usage text).
#define ZV_USAGE_ROOT_ENVIRONMENT                                                            \
  "  ZELVORA_ROOT           the runtime root (default ~/.local/state/zelvora; when run as\n" \
  "                         root /var/lib/zelvora)\n"

// The usage lines about the printers, for the programs that print or list them
// (spool::OpenSpooler decides the same way).
#define ZV_USAGE_SPOOLER_ENVIRONMENT                                                              \
  "  ZELVORA_SPOOLER        the printers: \"cups\" (the machine's CUPS queues) or \"folder\"\n" \
  "                         (folder printers); unset, the runtime root's printers/backend\n"     \
  "                         decides, which `install --server` writes as \"cups\" (a root\n"      \
  "                         without that file uses folder printers)\n"

// The usage lines about Qt's folders, for window programs (see paths::KeepRootOutOfHome).
#define ZV_USAGE_XDG_ENVIRONMENT                                                         \
  "  XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME, XDG_STATE_HOME\n"  \
  "                         Qt's folders; run as root, those not given are folders of\n" \
  "                         xdg/ in the runtime root\n"

}  // namespace zv::process
