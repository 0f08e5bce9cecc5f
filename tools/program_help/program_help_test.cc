// Every program says what it is: "--help" prints its usage on standard output and exits 0,
// an option it does not take prints the reason and the usage on standard error and exits 2.
// Both answers come before the program does anything: nothing appears in the runtime root
// or the home folder (the test runs as root on the build machines, so this also shows that
// root's programs leave root's home alone), and the window programs answer without
// creating Qt's application object (the window system named here does not exist).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

extern char** environ;

namespace {

namespace fsys = std::filesystem;

struct ProgramRun {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const fsys::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Takes a program's arguments, a home folder, a runtime root and a folder for the output;
// runs the program with that home and root, without a display, and gives its exit code and
// what it wrote on standard output and standard error.
ProgramRun RunProgram(const std::vector<std::string>& argv, const fsys::path& home, const fsys::path& root,
                      const fsys::path& out_dir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    // What a session of its own would set: a program must not rely on it to stay out of home.
    if (name == "HOME" || name == "ZELVORA_ROOT" || name == "QT_QPA_PLATFORM" || name == "DISPLAY" ||
        name == "WAYLAND_DISPLAY" || name.rfind("XDG_", 0) == 0)
      continue;
    env.push_back(entry);
  }
  env.push_back("HOME=" + home.string());
  env.push_back("ZELVORA_ROOT=" + root.string());
  env.push_back("QT_QPA_PLATFORM=zelvora-no-such-platform");
  std::vector<char*> envp, args;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);

  const std::string out = (out_dir / "out").string(), err = (out_dir / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ProgramRun r;
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

// Takes a text, where to look in it and a program's name; gives whether the usage line
// "Usage: NAME" (then a blank or the line's end) starts there.
bool UsageAt(const std::string& text, std::size_t at, const std::string& name) {
  const std::string head = "Usage: " + name;
  if (at == std::string::npos || text.compare(at, head.size(), head) != 0) return false;
  return at + head.size() < text.size() && (text[at + head.size()] == ' ' || text[at + head.size()] == '\n');
}

// Gives the entries below a folder, one path a line ("" when it is empty).
std::string Listing(const fsys::path& folder) {
  std::string s;
  for (const auto& e : fsys::recursive_directory_iterator(folder)) s += e.path().string() + "\n";
  return s;
}

TEST(ProgramHelp, EveryProgramSaysWhatItIsAndRefusesUnknownOptions) {
  struct Program {
    const char* name;
    int unknown_code;          // the exit code for --no-such-option
    const char* unknown_text;  // what standard error then says
  } programs[] = {
      {"hevrasto", 2, "unknown option --no-such-option"},
      {"inkarrow", 2, "unknown option --no-such-option"},
      {"hevrasto-demo", 2, "unknown option --no-such-option"},
      {"hevrasto-setup", 2, "unknown option --no-such-option"},
      {"ostrane", 2, "unknown option --no-such-option"},
      {"ostrane-send", 2, "unknown option --no-such-option"},
      {"ulmerith", 2, "unknown option --no-such-option"},
      {"zelvora-feeder", 2, "unknown option --no-such-option"},
      {"tavolent", 2, "unknown option --no-such-option"},
      {"tavolent-db", 2, "unknown option --no-such-option"},
      {"welmoric", 2, "unknown option --no-such-option"},
      // The CUPS filter reads any other command line as CUPS's six or seven arguments.
      {"kelvad", 1, "usage: kelvad job-id user title copies options [file]"},
      {"zelvora-ppd", 2, "unknown option --no-such-option"},
      {"zelvora-install", 2, "unknown option --no-such-option"},
      {"jobdoc-tool", 2, "unknown option --no-such-option"},
      {"vinteko-preview", 2, "unknown option --no-such-option"},
      {"pdf-metrics-gen", 2, "unknown option --no-such-option"},
  };
  zv::testing::TempRoot temp;
  const fsys::path home = temp.path() / "home", root = temp.path() / "root", out = temp.path() / "out";
  for (const fsys::path& p : {home, root, out}) fsys::create_directory(p);
  for (const Program& p : programs) {
    SCOPED_TRACE(p.name);
    const std::string program = zv::testing::BinPath(p.name);

    ProgramRun help = RunProgram({program, "--help"}, home, root, out);
    EXPECT_EQ(help.code, 0) << help.err;
    EXPECT_TRUE(UsageAt(help.out, 0, p.name)) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(Listing(home), "");
    EXPECT_EQ(Listing(root), "");

    ProgramRun wrong = RunProgram({program, "--no-such-option"}, home, root, out);
    EXPECT_EQ(wrong.code, p.unknown_code) << wrong.err;
    EXPECT_NE(wrong.err.find(p.unknown_text), std::string::npos) << wrong.err;
    if (p.unknown_code == 2) {
      EXPECT_TRUE(UsageAt(wrong.err, wrong.err.find("\nUsage: ") + 1, p.name)) << wrong.err;
    }
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(Listing(home), "");
    EXPECT_EQ(Listing(root), "");
  }
}

}  // namespace
