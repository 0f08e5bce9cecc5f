// The demo tool end to end: sample, unpack, pack and info, and a clear failure on a
// damaged file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace {

struct ToolRun {
  int status;
  std::string output;
};

ToolRun Tool(const std::string& args) {
  std::string cmd = zv::testing::BinPath("jobdoc-tool") + " " + args + " 2>&1";
  ToolRun r{-1, {}};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(JobdocTool, SampleUnpackPackAndInfo) {
  zv::testing::TempRoot root;
  const std::string d = root.str();
  ASSERT_EQ(Tool("sample " + d + "/s.prc 3").status, 0);
  ASSERT_EQ(Tool("unpack " + d + "/s.prc " + d + "/s.img").status, 0);
  ASSERT_EQ(Tool("pack " + d + "/s.img " + d + "/r.prc").status, 0);
  EXPECT_EQ(Slurp(root.path() / "s.prc"), Slurp(root.path() / "r.prc"));

  ToolRun info = Tool("info " + d + "/r.prc");
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.output.find("pages: 3"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("四半期報告書"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("attachment \"figures.csv\""), std::string::npos) << info.output;

  std::ofstream(root.path() / "bad.prc", std::ios::binary) << "\x09garbage";
  ToolRun bad = Tool("info " + d + "/bad.prc");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("unsupported version"), std::string::npos) << bad.output;
  EXPECT_EQ(Tool("frobnicate x").status, 2);
}

}  // namespace
