// The backend started directly, as CUPS starts it (as root) and as an ordinary user: it
// drops to the job's user, writes only into that user's spool folder, cancels jobs of
// unknown users and of other users, and holds jobs it cannot write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "capture/spool/spool.h"
#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"

namespace zv::capture {
namespace {

namespace sfs = std::filesystem;

class BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !sfs::exists("/usr/sbin/runuser") ||
        !sfs::exists("/usr/lib/x86_64-linux-gnu/libnss_wrapper.so"))
      GTEST_SKIP() << "needs root, runuser and libnss-wrapper";
    char dir[] = "/tmp/zv-backend.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    ::chmod(dir, 0755);
    sfs::create_directories(dir_ + "/home/alice");
    ::chown((dir_ + "/home/alice").c_str(), 4242, 4242);
    sfs::create_directories(dir_ + "/open");
    ::chmod((dir_ + "/open").c_str(), 01777);
    std::ofstream(dir_ + "/passwd") << "alice:x:4242:4242:Alice:" << dir_ << "/home/alice:/bin/sh\n"
                                    << "root:x:0:0:root:/root:/bin/sh\n"
                                    << "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n";
    std::ofstream(dir_ + "/group") << "alice:x:4242:\nroot:x:0:\nnogroup:x:65534:\n";
    std::ofstream(dir_ + "/doc.pdf") << "%PDF-1.4 not parsed by the backend\n";
    ::chmod((dir_ + "/doc.pdf").c_str(), 0644);
    // As the scheduler keeps a job's document: root's, mode 0600, in a folder users cannot enter.
    sfs::create_directories(dir_ + "/requests");
    ::chmod((dir_ + "/requests").c_str(), 0710);
    std::ofstream(dir_ + "/requests/d00013-001") << "%PDF-1.4 readable by root alone\n";
    ::chmod((dir_ + "/requests/d00013-001").c_str(), 0600);
    backend_ = dir_ + "/zelvora";
    sfs::copy_file(testing::BinPath("zelvora"), backend_);
    ::chmod(backend_.c_str(), 0755);
  }
  void TearDown() override {
    if (!dir_.empty() && !std::getenv("ZELVORA_KEEP_TEST_ROOT")) sfs::remove_all(dir_);
  }

  int Run(const std::vector<std::string>& args, const std::string& as_user, const std::string& root_template) {
    process::StartOptions o;
    if (!as_user.empty()) o.argv = {"/usr/sbin/runuser", "-u", as_user, "--"};
    o.argv.push_back("/usr/bin/env");
    o.argv.push_back("ZELVORA_CAPTURE_ROOT=" + root_template);
    o.argv.push_back("LD_PRELOAD=/usr/lib/x86_64-linux-gnu/libnss_wrapper.so");
    o.argv.push_back("NSS_WRAPPER_PASSWD=" + dir_ + "/passwd");
    o.argv.push_back("NSS_WRAPPER_GROUP=" + dir_ + "/group");
    o.argv.push_back(backend_);
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.output_file = dir_ + "/backend.out";
    auto p = process::Start(o);
    if (!p.ok()) return -1;
    auto code = p->Wait(20000);
    return code.ok() ? *code : -1;
  }

  std::string dir_, backend_;
};

TEST_F(BackendTest, WritesAsTheJobsUserIntoTheirSpoolOnly) {
  const std::string pdf = dir_ + "/doc.pdf";
  const std::string open_root = dir_ + "/open/cap%h";
  const std::string nobody_root = dir_ + "/open/n%h";  // folders made on the way belong to their user
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string as_user;
    std::string root_template;
    int exit_code;
    std::string spool;  // where the job must land ("" = nowhere)
    uid_t owner;
  } cases[] = {
      {"root drops to alice",
       {"7", "alice", "Report", "2", "PageSize=A3 orientation-requested=4", pdf},
       "",
       "",
       0,
       dir_ + "/home/alice/.local/state/zelvora/spool",
       4242},
      {"template with the home",
       {"8", "alice", "t", "1", "", pdf},
       "",
       open_root,
       0,
       dir_ + "/open/cap" + dir_ + "/home/alice/spool",
       4242},
      {"a document only root may read",
       {"13", "alice", "t", "1", "", dir_ + "/requests/d00013-001"},
       "",
       "",
       0,
       dir_ + "/home/alice/.local/state/zelvora/spool",
       4242},
      {"unknown user", {"9", "mallory", "t", "1", "", pdf}, "", "", 5, "", 0},
      {"bad job id", {"../9", "alice", "t", "1", "", pdf}, "", "", 5, "", 0},
      {"an ordinary user for another", {"10", "alice", "t", "1", "", pdf}, "nobody", open_root, 5, "", 0},
      {"an ordinary user for itself",
       {"11", "nobody", "t", "1", "", pdf},
       "nobody",
       nobody_root,
       0,
       dir_ + "/open/n/nonexistent/spool",
       65534},
      {"spool cannot be made", {"12", "nobody", "t", "1", "", pdf}, "nobody", pdf + "/x%h", 3, "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args, c.as_user, c.root_template), c.exit_code) << c.name;
    if (c.spool.empty()) continue;
    const std::string id = c.args[0];
    struct stat st {};
    ASSERT_EQ(::stat(c.spool.c_str(), &st), 0) << c.name;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
    EXPECT_EQ(st.st_uid, c.owner) << c.name;
    ASSERT_EQ(::stat((c.spool + "/" + id + ".pdf").c_str(), &st), 0) << c.name;
    EXPECT_EQ(st.st_uid, c.owner) << c.name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << c.name;
    auto job_text = fs::ReadFile(c.spool + "/" + id + ".job");
    ASSERT_TRUE(job_text.ok()) << c.name;
    auto job = ParseJobFile(*job_text, id);
    ASSERT_TRUE(job.ok()) << c.name;
    EXPECT_EQ(job->title, c.args[2]);
    auto copied = fs::ReadFile(c.spool + "/" + id + ".pdf");
    auto original = fs::ReadFile(c.args[5]);
    ASSERT_TRUE(copied.ok() && original.ok()) << c.name;
    EXPECT_EQ(*copied, *original) << c.name;
    if (id == "7") {
      EXPECT_EQ(job->paper, "A3");
      EXPECT_EQ(job->orientation, 2);
      EXPECT_EQ(job->copies, 2);
    }
  }
  EXPECT_FALSE(sfs::exists(dir_ + "/home/alice/.local/state/zelvora/spool/9.pdf"));
  EXPECT_FALSE(sfs::exists(dir_ + "/open/cap" + dir_ + "/home/alice/spool/10.pdf"));
}

}  // namespace
}  // namespace zv::capture
