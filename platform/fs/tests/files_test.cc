#include "platform/fs/files.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"

namespace zv::fs {
namespace {

TEST(Files, ReadMissingTooLargeAndWhole) {
  zv::testing::TempRoot root;
  std::string p = root.str() + "/a.txt";
  EXPECT_EQ(ReadFile(p).status().code(), Status::Code::kNotFound);
  ASSERT_TRUE(WriteFileAtomic(p, "hello", 0600).ok());
  EXPECT_EQ(ReadFile(p).value(), "hello");
  EXPECT_EQ(ReadFile(p, 4).status().code(), Status::Code::kInvalidArgument);
}

TEST(Files, OnlyARegularFileIsRead) {
  // Each of these is refused at once: a FIFO without a writer would block in open(), a
  // link to an endless device would be read until memory runs out.
  zv::testing::TempRoot root;
  const std::string dir = root.str();
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir + "/zero");
  ASSERT_TRUE(WriteFileAtomic(dir + "/real", "content").ok());
  std::filesystem::create_symlink(dir + "/real", dir + "/link");
  for (const char* name : {"fifo", "zero", "link", ""}) {
    auto r = ReadFile(dir + "/" + name);
    EXPECT_EQ(r.status().code(), Status::Code::kInvalidArgument) << name;
  }
  EXPECT_EQ(ReadFile("/dev/zero").status().code(), Status::Code::kInvalidArgument);
  // A link in the folders on the way is followed; only the last component is not.
  std::filesystem::create_directory_symlink(dir, dir + "/via");
  EXPECT_EQ(ReadFile(dir + "/via/real").value(), "content");
}

TEST(Files, ATrustedFileIsARegularFileOfRootOrTheCaller) {
  zv::testing::TempRoot root;
  const std::string mine = root.str() + "/mine", theirs = root.str() + "/theirs";
  ASSERT_TRUE(WriteFileAtomic(mine, "ok").ok());
  EXPECT_EQ(ReadTrustedFile(mine).value(), "ok");
  std::filesystem::create_symlink(mine, root.str() + "/link");
  EXPECT_FALSE(ReadTrustedFile(root.str() + "/link").ok());
  if (::geteuid() != 0) GTEST_SKIP() << "files of other users can only be made as root";
  const Ownership other{4242, 4242, 0644};
  ASSERT_TRUE(WriteFileAtomic(theirs, "forged", 0644, Durability::kSynced, &other).ok());
  EXPECT_EQ(ReadTrustedFile(theirs).status().code(), Status::Code::kInvalidArgument);
}

TEST(Files, RemoveNoFollowTakesAFolderAwayButNothingALinkPointsTo) {
  zv::testing::TempRoot root;
  const std::string dir = root.str();
  ASSERT_TRUE(MakeDirs(dir + "/outside").ok());
  ASSERT_TRUE(WriteFileAtomic(dir + "/outside/keep", "keep").ok());
  ASSERT_TRUE(MakeDirs(dir + "/squat/deeper/still").ok());
  ASSERT_TRUE(WriteFileAtomic(dir + "/squat/deeper/pin", "x").ok());
  std::filesystem::create_directory_symlink(dir + "/outside", dir + "/squat/deeper/to-outside");
  ASSERT_EQ(::mkfifo((dir + "/squat/fifo").c_str(), 0600), 0);
  // A folder its owner made unwritable is no hindrance to root.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chmod((dir + "/squat/deeper").c_str(), 0500), 0);
  }
  EXPECT_TRUE(RemoveNoFollow(dir + "/squat").ok());
  EXPECT_FALSE(std::filesystem::exists(dir + "/squat"));
  EXPECT_EQ(ReadFile(dir + "/outside/keep").value(), "keep");
  std::filesystem::create_symlink(dir + "/outside", dir + "/link");
  EXPECT_TRUE(RemoveNoFollow(dir + "/link").ok());
  EXPECT_TRUE(std::filesystem::exists(dir + "/outside/keep"));
  EXPECT_TRUE(RemoveNoFollow(dir + "/nothing").ok());
}

TEST(Files, AtomicWriteSetsModeAndLeavesNoTemporaryFile) {
  zv::testing::TempRoot root;
  std::string p = root.str() + "/secret";
  ASSERT_TRUE(WriteFileAtomic(p, "one", 0600).ok());
  ASSERT_TRUE(WriteFileAtomic(p, "two", 0600).ok());
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(root.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
  // A folder that does not exist: an error, nothing created.
  EXPECT_FALSE(WriteFileAtomic(root.str() + "/no/such/file", "x").ok());
}

TEST(Files, AWrittenFileIsHandedToItsOwnerWhereTheWriterMay) {
  // Root hands the file over with the owner's mode; anyone else keeps it with the plain mode.
  zv::testing::TempRoot root;
  std::string p = root.str() + "/owned";
  const Ownership owner{4242, 4243, 0600};
  ASSERT_TRUE(WriteFileAtomic(p, "mine", 0644, Durability::kSynced, &owner).ok());
  struct stat st {};
  auto text = ReadFile(p, 100, &st);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "mine");
  const bool root_writer = ::geteuid() == 0;
  EXPECT_EQ(st.st_uid, root_writer ? 4242u : ::geteuid());
  EXPECT_EQ(st.st_gid, root_writer ? 4243u : ::getegid());
  EXPECT_EQ(st.st_mode & 0777, root_writer ? 0600u : 0644u);
}

TEST(Files, ReaderInAnotherProcessNeverSeesHalfAFile) {
  zv::testing::TempRoot root;
  std::string p = root.str() + "/shared";
  const std::string a(200000, 'a'), b(300000, 'b');
  ASSERT_TRUE(WriteFileAtomic(p, a).ok());
  pid_t child = fork();
  if (child == 0) {
    for (int i = 0; i < 200; ++i) {
      if (!WriteFileAtomic(p, i % 2 ? a : b).ok()) _exit(1);
    }
    _exit(0);
  }
  int bad = 0;
  for (;;) {
    auto r = ReadFile(p);
    if (!r.ok() || (*r != a && *r != b)) ++bad;
    int status;
    if (waitpid(child, &status, WNOHANG) == child) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      break;
    }
  }
  EXPECT_EQ(bad, 0);
}

TEST(Files, MakeDirsCreatesParentsAndRefusesAFile) {
  zv::testing::TempRoot root;
  EXPECT_TRUE(MakeDirs(root.str() + "/x/y/z/").ok());
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "x/y/z"));
  ASSERT_TRUE(WriteFileAtomic(root.str() + "/f", "").ok());
  EXPECT_FALSE(MakeDirs(root.str() + "/f/g").ok());
}

TEST(FileLock, HeldAcrossProcessesAndReleasedWhenTheHolderIsKilled) {
  zv::testing::TempRoot root;
  std::string lock_path = root.str() + "/x.lock";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    auto l = FileLock::Acquire(lock_path);
    char c = l.ok() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(FileLock::TryAcquire(lock_path).status().code(), Status::Code::kBusy);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  auto mine = FileLock::Acquire(lock_path);  // would block forever if the lock had stayed
  ASSERT_TRUE(mine.ok());
  EXPECT_TRUE(mine->held());
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
}  // namespace zv::fs
