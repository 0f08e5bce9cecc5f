#include "jobresult/nebrastol.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "jobresult/tests/log_writer.h"
#include "platform/lasterror/last_error.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::jobresult {
namespace {

constexpr std::uint32_t kDate = (2026u << 16) | (12u << 8) | 10u;
constexpr std::uint32_t kTime = (10u << 24);

class ExportTest : public ::testing::Test {
 protected:
  void WriteLog(const std::string& path) {
    testing::LogWriter w;
    testing::RecordSpec r;
    r.status = 1500;
    w.Add(testing::Record(r));
    const std::vector<std::uint8_t> bytes = w.Linear();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void PointRegistryAt(const std::string& path) {
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "SOFTWARE\\Kandrel\\Tessaly-PrtLog");
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->SetString("LogFileName", path).ok());
  }
  std::uint32_t Call(const char* name = "report.doc") {
    return BrovGetPrintJobResult(name, 7, kDate, kTime, &v1_, &status_, &v3_);
  }

  zv::testing::TempRoot root_;
  std::uint32_t v1_ = 0xAAAA, status_ = 0xBBBB, v3_ = 0xCCCC;
};

TEST_F(ExportTest, FindsTheJobInTheDefaultLog) {
  WriteLog(root_.str() + "/system/BrovPrt.Log");
  EXPECT_EQ(Call(), 0u);
  EXPECT_EQ(ZvGetLastError(), 0u);
  EXPECT_EQ(v1_, 11u);
  EXPECT_EQ(status_, 1500u);
  EXPECT_EQ(v3_, 33u);
}

TEST_F(ExportTest, TheRegistryNamesTheLog) {
  const std::string path = root_.str() + "/elsewhere/job.log";
  WriteLog(path);
  PointRegistryAt(path);
  EXPECT_EQ(Call(), 0u);
  EXPECT_EQ(Call("other.doc"), 4u);
}

TEST_F(ExportTest, FailuresLeaveTheOutputsUntouched) {
  // No log anywhere.
  EXPECT_EQ(Call(), 4u);
  EXPECT_EQ(ZvGetLastError(), win::kErrorFileNotFound);
  EXPECT_EQ(v1_, 0xAAAAu);
  EXPECT_EQ(status_, 0xBBBBu);
  EXPECT_EQ(v3_, 0xCCCCu);

  // Missing arguments.
  EXPECT_EQ(BrovGetPrintJobResult(nullptr, 7, kDate, kTime, &v1_, &status_, &v3_), 2u);
  EXPECT_EQ(ZvGetLastError(), 87u);
  EXPECT_EQ(BrovGetPrintJobResult("report.doc", 7, kDate, kTime, &v1_, nullptr, &v3_), 2u);
  EXPECT_EQ(v1_, 0xAAAAu);
}

TEST_F(ExportTest, ALogTheMonitorHoldsIsASharingViolation) {
  const std::string path = root_.str() + "/system/BrovPrt.Log";
  WriteLog(path);
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_EQ(Call(), 999u);
  EXPECT_EQ(ZvGetLastError(), win::kErrorSharingViolation);
  close(fd);
  EXPECT_EQ(Call(), 0u);
}

TEST_F(ExportTest, ALogThatIsNoRegularFileFailsAtOnce) {
  // A FIFO would block a plain open until a writer came; a folder is no log either.
  const std::string fifo = root_.str() + "/fifo.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  PointRegistryAt(fifo);
  EXPECT_EQ(Call(), 999u);
  EXPECT_EQ(ZvGetLastError(), win::kErrorAccessDenied);
  PointRegistryAt(root_.str());
  EXPECT_EQ(Call(), 999u);
}

}  // namespace
}  // namespace zv::jobresult
