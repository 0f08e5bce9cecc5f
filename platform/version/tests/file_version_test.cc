// The version record reads back from a module's file, and a file without a sound record
// gives no version rather than a wrong one.
#include "platform/version/file_version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/testing/temp_root.h"

namespace zv::version {
namespace {

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Replaces every occurrence of `from` by `to` (same length).
std::string Replaced(std::string s, const std::string& from, const std::string& to) {
  for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

TEST(FileVersion, ReadsTheRecordOfTheModulesFile) {
  // This test program links the record as every module does.
  const std::string self = Bytes("/proc/self/exe");
  ASSERT_GT(self.size(), 64u);
  testing::TempRoot root;
  const std::string dir = root.str();
  const std::string mark(kRecordMark, sizeof kRecordMark);
  struct Case {
    const char* name;
    std::string bytes;  // empty name: no file
    bool has_version;
  } cases[] = {
      {"module", self, true},
      {"missing", "", false},
      {"text", "not a program\n", false},
      {"cut", self.substr(0, 64), false},                    // the header only: the tables lie past the end
      {"foreign", Replaced(self, mark, "XXXXXXXX"), false},  // a section of that name, not our record
      {"unnamed", Replaced(self, std::string(kSectionName, sizeof kSectionName), std::string("zv_versioX", 11)), false},
  };
  for (const auto& c : cases) {
    const std::string path = dir + "/" + c.name;
    if (std::string(c.name) != "missing") Write(path, c.bytes);
    const auto v = ReadFileVersion(path);
    ASSERT_EQ(v.has_value(), c.has_version) << c.name;
    if (v) {
      EXPECT_EQ(VersionText(*v), ZELVORA_VERSION_TEXT) << c.name;
    }
  }
  EXPECT_EQ(VersionText(FileVersion{{1, 20, 300, 65535}}), "1.20.300.65535");
}

}  // namespace
}  // namespace zv::version
