#include "platform/shm/shm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/shm/owner.h"
#include "platform/testing/temp_root.h"

namespace zv::shm {
namespace {

std::string Text(std::span<const std::byte> b) {
  std::string s(reinterpret_cast<const char*>(b.data()), b.size());
  return s.substr(0, s.find('\0'));
}

void Put(SharedBlock& b, std::string_view s) {
  auto out = b.mutable_bytes();
  ASSERT_GE(out.size(), s.size() + 1);
  std::memcpy(out.data(), s.data(), s.size());
  out[s.size()] = std::byte{0};
}

bool ObjectExists(std::string_view name) { return ::access(("/dev/shm" + *ObjectName(name)).c_str(), F_OK) == 0; }

class ShmTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
};

TEST_F(ShmTest, CreatedBlockIsZeroedPrivateAndReadByOpen) {
  auto made = SharedBlock::Create("ZvPermanent", 47);
  ASSERT_TRUE(made.ok()) << made.status().ToString();
  EXPECT_FALSE(made->existed());
  ASSERT_EQ(made->size(), 47u);
  for (std::byte b : made->bytes()) EXPECT_EQ(b, std::byte{0});
  Put(*made, "hello");

  struct stat st;
  ASSERT_EQ(::stat(("/dev/shm" + *ObjectName("ZvPermanent")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto reader = SharedBlock::Open("ZvPermanent", Access::kRead);
  ASSERT_TRUE(reader.ok()) << reader.status().ToString();
  EXPECT_EQ(reader->size(), 47u);  // the block's own size, not a page
  EXPECT_EQ(Text(reader->bytes()), "hello");
  EXPECT_FALSE(reader->writable());
  EXPECT_TRUE(reader->mutable_bytes().empty());

  auto writer = SharedBlock::Open("ZvPermanent", Access::kReadWrite);
  ASSERT_TRUE(writer.ok());
  Put(*writer, "again");
  EXPECT_EQ(Text(reader->bytes()), "again");
}

TEST_F(ShmTest, ReadOnlyMappingCannotBeWrittenEvenByForce) {
  auto made = SharedBlock::Create("ZvPerm3_2", 12);
  ASSERT_TRUE(made.ok());
  auto reader = SharedBlock::Open("ZvPerm3_2", Access::kRead);
  ASSERT_TRUE(reader.ok());
  auto* p = const_cast<std::byte*>(reader->bytes().data());
  EXPECT_DEATH({ *reinterpret_cast<volatile std::byte*>(p) = std::byte{1}; }, "");
  EXPECT_EQ(made->bytes()[0], std::byte{0});
}

TEST_F(ShmTest, CreateOfAnExistingBlockGivesThatBlockAndOnlyTheCreatorRemovesTheName) {
  auto first = SharedBlock::Create("ZELVORA_MONITOR", 128);
  ASSERT_TRUE(first.ok());
  Put(*first, "order01-u-pc.an2");
  auto second = SharedBlock::Create("ZELVORA_MONITOR", 4096);
  ASSERT_TRUE(second.ok());
  EXPECT_TRUE(second->existed());
  EXPECT_EQ(second->size(), 128u);
  EXPECT_EQ(Text(second->bytes()), "order01-u-pc.an2");

  second->Close();
  EXPECT_TRUE(SharedBlock::Open("ZELVORA_MONITOR", Access::kRead).ok());
  auto held = SharedBlock::Open("ZELVORA_MONITOR", Access::kRead);
  first->Close();
  EXPECT_EQ(SharedBlock::Open("ZELVORA_MONITOR", Access::kRead).status().code(), Status::Code::kNotFound);
  EXPECT_FALSE(ObjectExists("ZELVORA_MONITOR"));
  ASSERT_TRUE(held.ok());
  EXPECT_EQ(Text(held->bytes()), "order01-u-pc.an2");  // a view made earlier stays valid
}

TEST_F(ShmTest, PersistentBlockOutlivesItsCreatorUntilRemoved) {
  {
    auto made = SharedBlock::Create("WxnTempPath", 261, Lifetime::kPersistent);
    ASSERT_TRUE(made.ok());
    Put(*made, "/tmp/");
  }
  auto again = SharedBlock::Open("WxnTempPath", Access::kRead);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(Text(again->bytes()), "/tmp/");
  EXPECT_TRUE(RemoveBlock("WxnTempPath").ok());
  EXPECT_EQ(RemoveBlock("WxnTempPath").code(), Status::Code::kNotFound);
  EXPECT_FALSE(SharedBlock::Open("WxnTempPath", Access::kRead).ok());
}

TEST_F(ShmTest, AnyNameStaysOneObjectInTheShmFolder) {
  const std::vector<std::string> names = {"ZvPerm11_3",
                                          "###0000012345",
                                          "a/b",
                                          "a%2fb",
                                          "..",
                                          "../../etc/passwd",
                                          "\\\\srv\\x",
                                          "Local\\Zvmkexe",
                                          "印刷",
                                          std::string(260, 'n'),
                                          std::string(259, 'n') + "m"};
  std::vector<SharedBlock> blocks;
  std::vector<std::string> objects;
  for (const auto& n : names) {
    auto obj = ObjectName(n);
    ASSERT_TRUE(obj.ok()) << n;
    EXPECT_EQ(obj->rfind('/'), 0u) << n;
    EXPECT_EQ(obj->find(".."), std::string::npos) << n;
    EXPECT_LE(obj->size(), 255u) << n;
    objects.push_back(*obj);
    auto b = SharedBlock::Create(n, 16);
    ASSERT_TRUE(b.ok()) << n << ": " << b.status().ToString();
    EXPECT_FALSE(b->existed()) << n;  // no two names meet in one object
    Put(*b, n.substr(0, 15));
    blocks.push_back(std::move(*b));
  }
  for (const auto& n : names) {
    auto b = SharedBlock::Open(n, Access::kRead);
    ASSERT_TRUE(b.ok()) << n;
    EXPECT_EQ(Text(b->bytes()), n.substr(0, 15));
  }
}

TEST_F(ShmTest, BadNamesAndSizesAreRefused) {
  struct Case {
    std::string name;
    std::size_t size;
  };
  const Case cases[] = {
      {"", 8}, {std::string(261, 'x'), 8}, {std::string("a\0b", 3), 8}, {"ok", 0}, {"ok", kMaxBlockSize + 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(SharedBlock::Create(c.name, c.size).status().code(), Status::Code::kInvalidArgument)
        << c.name.size() << " " << c.size;
  }
  EXPECT_EQ(SharedBlock::Open("", Access::kRead).status().code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(SharedBlock::Open("nothing-here", Access::kRead).status().code(), Status::Code::kNotFound);
}

TEST_F(ShmTest, EachRuntimeRootHasItsOwnBlocks) {
  auto mine = SharedBlock::Create("ZvPermanent", 8);
  ASSERT_TRUE(mine.ok());
  {
    zv::testing::TempRoot other;
    EXPECT_EQ(SharedBlock::Open("ZvPermanent", Access::kRead).status().code(), Status::Code::kNotFound);
  }
  EXPECT_TRUE(SharedBlock::Open("ZvPermanent", Access::kRead).ok());
}

// Objects under a block's name that were not made by Create: wrong mode, garbage header,
// a header promising more bytes than the object holds.
TEST_F(ShmTest, ForeignOrMalformedObjectsAreRefused) {
  struct Case {
    const char* label;
    mode_t mode;
    std::uint32_t magic;
    std::uint64_t claimed;
    std::size_t actual;
    Status::Code want;
  };
  const Case cases[] = {
      {"group-readable", 0644, 0x4D53565Au, 8, 64 + 8, Status::Code::kIOError},
      {"bad magic", 0600, 0xdeadbeefu, 8, 64 + 8, Status::Code::kCorruption},
      {"size beyond object", 0600, 0x4D53565Au, 4096, 64 + 8, Status::Code::kCorruption},
      {"zero size", 0600, 0x4D53565Au, 0, 64 + 8, Status::Code::kCorruption},
      {"huge size", 0600, 0x4D53565Au, ~0ull, 64 + 8, Status::Code::kCorruption},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string obj = *ObjectName("forged");
    ::shm_unlink(obj.c_str());
    int fd = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, c.mode), 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(c.actual)), 0);
    unsigned char header[64] = {};
    std::memcpy(header, &c.magic, 4);
    std::uint32_t version = 1;
    std::memcpy(header + 4, &version, 4);
    std::memcpy(header + 8, &c.claimed, 8);
    std::uint32_t lifetime = 1;
    std::memcpy(header + 20, &lifetime, 4);
    ASSERT_EQ(::pwrite(fd, header, sizeof header, 0), 64);
    ::close(fd);
    auto opened = SharedBlock::Open("forged", Access::kRead);
    EXPECT_EQ(opened.status().code(), c.want) << opened.status().ToString();
    EXPECT_EQ(SharedBlock::Create("forged", 8).status().code(), c.want);
    ::shm_unlink(obj.c_str());
  }
}

// A child process creates and fills a block; the parent reads it, answers through it, and
// after the child is killed without closing, finds the name gone.
TEST_F(ShmTest, BlockCrossesProcessesAndDiesWithItsKilledCreator) {
  int to_parent[2], to_child[2];
  ASSERT_EQ(::pipe(to_parent), 0);
  ASSERT_EQ(::pipe(to_child), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto b = SharedBlock::Create("ZELVORA_MONITOR", 128);
    if (!b.ok()) _exit(2);
    std::memcpy(b->mutable_bytes().data(), "order07-ann-pc1.an2", 20);
    char c = 'r';
    if (::write(to_parent[1], &c, 1) != 1) _exit(3);
    if (::read(to_child[0], &c, 1) != 1) _exit(4);
    c = Text(b->bytes()) == "seen" ? 'y' : 'n';
    if (::write(to_parent[1], &c, 1) != 1) _exit(5);
    ::pause();  // killed by the parent, never closes the block
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(to_parent[0], &c, 1), 1);
  {
    auto r = SharedBlock::Open("ZELVORA_MONITOR", Access::kRead);
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    EXPECT_EQ(Text(r->bytes()), "order07-ann-pc1.an2");
    auto w = SharedBlock::Open("ZELVORA_MONITOR", Access::kReadWrite);
    ASSERT_TRUE(w.ok());
    std::memcpy(w->mutable_bytes().data(), "seen", 5);
  }
  ASSERT_EQ(::write(to_child[1], "g", 1), 1);
  ASSERT_EQ(::read(to_parent[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');

  ::kill(child, SIGKILL);
  // Not yet reaped: the child is a zombie, which already counts as gone.
  for (int i = 0; i < 1000 && ProcessStartTime(child) != 0; ++i) ::usleep(1000);
  EXPECT_EQ(SharedBlock::Open("ZELVORA_MONITOR", Access::kRead).status().code(), Status::Code::kNotFound);
  EXPECT_FALSE(ObjectExists("ZELVORA_MONITOR"));
  int status = 0;
  ::waitpid(child, &status, 0);
  auto fresh = SharedBlock::Create("ZELVORA_MONITOR", 128);
  ASSERT_TRUE(fresh.ok());
  EXPECT_FALSE(fresh->existed());
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) ::close(fd);
}

TEST(ProcessIdentity, TellsLiveFromGone) {
  EXPECT_TRUE(IsAlive(SelfIdentity()));
  ProcessIdentity other = SelfIdentity();
  other.start_time += 1;  // same id, different process
  EXPECT_FALSE(IsAlive(other));
  EXPECT_FALSE(IsAlive(ProcessIdentity{0, 1}));
}

// Objects another user made under a block's name (it could only guess them with this
// user's key): Create passes over them, every program finds the block it made, they are
// left alone, and only a name whose every object is taken fails, with an error.
TEST_F(ShmTest, ObjectsOfAnotherUserUnderABlocksNameAreNeverUsedNorFatal) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another user's objects";
  auto squat = [](const std::string& object, mode_t mode) {
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && ::fchown(fd, 54321, 54321) == 0 && ::ftruncate(fd, 4096) == 0;
    ::close(fd);
    return ok;
  };
  std::vector<std::string> squatted;
  for (mode_t mode : {0600, 0666}) {
    SCOPED_TRACE(mode);
    const std::string name = "ZvPerm" + std::to_string(mode);
    const std::string first = *ObjectName(name, 0);
    ASSERT_TRUE(squat(first, mode));
    squatted.push_back(first);
    auto made = SharedBlock::Create(name, 32);
    ASSERT_TRUE(made.ok()) << made.status().ToString();
    EXPECT_FALSE(made->existed());
    Put(*made, "mine");
    auto again = SharedBlock::Create(name, 32);  // a second instance finds the first one's
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again->existed());
    auto read = SharedBlock::Open(name, Access::kRead);
    ASSERT_TRUE(read.ok()) << read.status().ToString();
    EXPECT_EQ(Text(read->bytes()), "mine");
    struct stat st;
    ASSERT_EQ(::stat(("/dev/shm" + first).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 54321u);  // left as it was
    EXPECT_TRUE(RemoveBlock(name).ok());
    EXPECT_EQ(::stat(("/dev/shm" + first).c_str(), &st), 0);
  }
  // Every object of one name taken: an error, not a crash or a hang.
  for (int c = 0; c < kNameCandidates; ++c) {
    squatted.push_back(*ObjectName("ZvTaken", c));
    ASSERT_TRUE(squat(squatted.back(), 0600));
  }
  EXPECT_EQ(SharedBlock::Create("ZvTaken", 8).status().code(), Status::Code::kIOError);
  EXPECT_EQ(SharedBlock::Open("ZvTaken", Access::kRead).status().code(), Status::Code::kNotFound);
  for (const auto& o : squatted) ::shm_unlink(o.c_str());
}

// The names rest on a key of the user's own in the root, private to the user: another key
// gives other names.
TEST_F(ShmTest, NamesComeFromAPrivateKeyOfTheRoot) {
  auto before = ObjectName("ZvPermanent");
  ASSERT_TRUE(before.ok()) << before.status().ToString();
  const std::string key = root_.str() + "/run/shm.key";
  struct stat st;
  ASSERT_EQ(::lstat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(before->find("ZvPermanent"), before->size() - 11);
  EXPECT_NE(*ObjectName("ZvPermanent", 1), *before);
  ASSERT_EQ(::unlink(key.c_str()), 0);
  auto after = ObjectName("ZvPermanent");
  ASSERT_TRUE(after.ok());
  EXPECT_NE(*after, *before);
  EXPECT_EQ(*ObjectName("ZvPermanent"), *after);
}

}  // namespace
}  // namespace zv::shm
