// The share's file rules on a local folder, plain and through layers that behave as the
// network mounts an office uses (smbnetfs: no rename without replace, no links; sshfs: a
// name that exists gives EPERM).
#include "engine/hevrasto/share_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

#include "engine/hevrasto/request_slots.h"
#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::share {
namespace {

namespace fsys = std::filesystem;

enum class Mount { kLocal, kSmbnetfs, kSshfs };
const char* Name(Mount m) { return m == Mount::kLocal ? "local" : m == Mount::kSmbnetfs ? "smbnetfs" : "sshfs"; }

class ShareFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = root_.str() + "/share";
    ASSERT_TRUE(fs::MakeDirs(folder_).ok());
  }
  void Clear() {
    for (auto& e : fsys::directory_iterator(folder_)) fsys::remove_all(e.path());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (auto& e : fsys::directory_iterator(folder_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  zv::testing::TempRoot root_;
  std::string folder_;
};

// A layer for tests whose look at a path fails with a chosen errno.
class FailingLstat : public FileOps {
 public:
  std::map<std::string, int> errors;
  int Lstat(const std::string& path, struct stat* st) override {
    if (auto it = errors.find(path); it != errors.end()) {
      errno = it->second;
      return -1;
    }
    return FileOps::Lstat(path, st);
  }
};

TEST_F(ShareFilesTest, RequestsArePlacedWholeOnEveryMountAndATakenSlotIsPassedOver) {
  const std::string text = SealRequestText("[RequestInfo]\nAccountName=tanaka\n", "0123456789abcdef01234567");
  for (Mount m : {Mount::kLocal, Mount::kSmbnetfs, Mount::kSshfs}) {
    for (bool race : {false, true}) {
      SCOPED_TRACE(std::string(Name(m)) + (race ? ", slot taken meanwhile" : ""));
      Clear();
      ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/order05.lst", "earlier").ok());
      std::unique_ptr<NetworkMountOps> layer;
      FileOps* ops = &DefaultFileOps();
      if (m != Mount::kLocal) {
        layer = std::make_unique<NetworkMountOps>(DefaultFileOps(),
                                                  m == Mount::kSmbnetfs ? MountKind::kSmbnetfs : MountKind::kSshfs);
        layer->FailNextCreates(1);  // a transient EBUSY, as smbnetfs gave one in 27
        ops = layer.get();
      }
      std::vector<int> tried;
      // Another client takes slot 06 between the look and the rename (or, on a mount that
      // claims slots, the exclusive create: the mount's own error for it then).
      auto take = [&] { ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/order06.lst", "theirs").ok()); };
      if (layer && race)
        layer->before_create = [&](const std::string& path) {
          if (path == folder_ + "/order06.lst") take();
        };
      auto meanwhile = [&](int slot) {
        tried.push_back(slot);
        if (!layer && race && slot == 6) take();
        return true;
      };
      auto slot = PlaceRequestText(*ops, folder_, text, 5, meanwhile);
      ASSERT_TRUE(slot.ok()) << slot.status().ToString();
      EXPECT_EQ(*slot, race ? 7 : 6);
      const std::vector<int> want_tried = race ? std::vector<int>{6, 7} : std::vector<int>{6};
      EXPECT_EQ(tried, want_tried);
      struct stat st {};
      auto placed = fs::ReadFile(folder_ + "/" + engine::SlotFileName(*slot), 1 << 16, &st);
      ASSERT_TRUE(placed.ok());
      EXPECT_EQ(*placed, text);
      EXPECT_EQ(ClassifyRequestText(*placed), RequestTextState::kWhole);
      EXPECT_EQ(st.st_mode & 0777, kRequestMode);
      EXPECT_EQ(st.st_nlink, 1u);
      EXPECT_EQ(*fs::ReadFile(folder_ + "/order05.lst"), "earlier");
      // Nothing else is left: no temporary name, no second name.
      std::vector<std::string> want = {"order05.lst", engine::SlotFileName(*slot)};
      if (race) want.insert(want.begin() + 1, "order06.lst");
      EXPECT_EQ(Names(), want);
    }
  }
}

// Samba refuses a create in a name that holds another user's file with EACCES, and the
// engine may take that file away before the client looks: the slot is tried again, and
// taken when it is free; the job file's name too.
TEST_F(ShareFilesTest, ANameRefusedWhileAnotherUsersFileWasThereIsTriedAgain) {
  class RefusedOnce : public FileOps {
   public:
    std::string refused;
    int Open(const std::string& path, int flags, mode_t mode) override {
      if (path == refused) {
        refused.clear();
        errno = EACCES;
        return -1;
      }
      return FileOps::Open(path, flags, mode);
    }
  } ops;
  const std::string text = SealRequestText("[RequestInfo]\nAccountName=tanaka\n", "0123456789abcdef01234567");
  ops.refused = folder_ + "/order03.lst";
  NetworkMountOps smb(ops, MountKind::kSmbnetfs);
  auto slot = PlaceRequestText(smb, folder_, text, 3);
  ASSERT_TRUE(slot.ok()) << slot.status().ToString();
  EXPECT_EQ(*slot, 3);
  ops.refused = folder_ + "/pc0.prc";
  const std::uint8_t bytes[] = {1, 2, 3};
  auto job = WriteJobFile(smb, folder_, "pc", bytes);
  ASSERT_TRUE(job.ok()) << job.status().ToString();
  EXPECT_EQ(*job, "pc0.prc");
}

TEST_F(ShareFilesTest, FullSlotsAreBusyAndAFolderThatRefusesIsAnError) {
  NetworkMountOps smb(DefaultFileOps(), MountKind::kSmbnetfs);
  for (int s = 0; s < engine::kSlotCount; ++s)
    ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/" + engine::SlotFileName(s), "x").ok());
  EXPECT_EQ(PlaceRequestText(smb, folder_, "[RequestInfo]\n", 0).status().code(), Status::Code::kBusy);
  EXPECT_EQ(Names().size(), static_cast<size_t>(engine::kSlotCount));
  EXPECT_EQ(PlaceRequestText(smb, folder_ + "/missing", "[RequestInfo]\n", 0).status().code(), Status::Code::kIOError);
}

TEST_F(ShareFilesTest, JobFilesAreWrittenInPlacePastNamesTakenWhateverTheMountSays) {
  const std::vector<uint8_t> bytes = {1, 2, 3, 0, 4};
  for (Mount m : {Mount::kLocal, Mount::kSmbnetfs, Mount::kSshfs}) {
    SCOPED_TRACE(Name(m));
    Clear();
    ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/PC010.prc", "").ok());
    NetworkMountOps layer(DefaultFileOps(), m == Mount::kSshfs ? MountKind::kSshfs : MountKind::kSmbnetfs);
    FileOps& ops = m == Mount::kLocal ? DefaultFileOps() : layer;
    layer.FailNextCreates(2);
    layer.before_create = [&](const std::string& path) {
      if (path == folder_ + "/PC011.prc" && !fsys::exists(path)) {
        ASSERT_TRUE(fs::WriteFileAtomic(path, "").ok());
      }
    };
    auto name = WriteJobFile(ops, folder_, "PC01", bytes);
    ASSERT_TRUE(name.ok()) << name.status().ToString();
    EXPECT_EQ(*name, m == Mount::kLocal ? "PC011.prc" : "PC012.prc");
    struct stat st {};
    auto written = fs::ReadFile(folder_ + "/" + *name, 1 << 16, &st);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(*written, std::string("\x01\x02\x03\x00\x04", 5));
    EXPECT_EQ(st.st_mode & 0777, kJobMode);
  }
  EXPECT_EQ(WriteJobFile(DefaultFileOps(), folder_, "../x", bytes).status().code(), Status::Code::kInvalidArgument);
}

TEST(RequestText, WholeAndPartialRequests) {
  const std::string id = "0123456789abcdef01234567";
  const std::string sealed = SealRequestText("[RequestInfo]\nAccountName=a\nRotate=0\n", id);
  EXPECT_EQ(sealed, "[RequestInfo]\nRequestID=" + id + "\nAccountName=a\nRotate=0\nRequestEnd=" + id + "\n");
  struct Case {
    const char* what;
    std::string text;
    RequestTextState want;
  } cases[] = {
      {"an empty claim", "", RequestTextState::kPartial},
      {"the section line begun", "[Requ", RequestTextState::kPartial},
      {"the key begun", "[RequestInfo]\nRequestID=0123", RequestTextState::kPartial},
      {"cut before the end", sealed.substr(0, sealed.size() - 10), RequestTextState::kPartial},
      {"the end without its line feed", sealed.substr(0, sealed.size() - 1), RequestTextState::kPartial},
      {"the end of another key", "[RequestInfo]\nRequestID=" + id + "\nRequestEnd=ffff\n", RequestTextState::kPartial},
      {"sealed and whole", sealed, RequestTextState::kWhole},
      {"an older client's request", "[RequestInfo]\nAccountName=a\n", RequestTextState::kWhole},
      {"an older client's, with CR LF", "[RequestInfo]\r\nAccountName=a\r\n", RequestTextState::kWhole},
      {"anything else", "garbage", RequestTextState::kWhole},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyRequestText(c.text), c.want) << c.what;
  EXPECT_EQ(RequestIdOf(sealed), id);
  EXPECT_EQ(RequestIdOf("[PrintResult]\r\nResult=0\r\nRequestID=" + id + "\r\n\r\n[PrintLimit]\r\n"), id);
  EXPECT_EQ(RequestIdOf("[PrintResult]\r\nResult=0\r\n\r\n[PrintLimit]\r\nRequestID=" + id + "\r\n"), "");
  EXPECT_EQ(RequestIdOf("[PrintResult]\r\nRequestID=../../x\r\n"), "");
  EXPECT_TRUE(IsRequestId(NewRequestId()));
  EXPECT_NE(NewRequestId(), NewRequestId());
}

TEST(RequestText, AnAnswerBelongsToTheRequestWhoseKeyItCarries) {
  struct Case {
    const char *sent, *carried;
    bool keyless, want;
  } cases[] = {
      {"aaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaa", false, true},
      {"aaaaaaaaaaaaaaaa", "bbbbbbbbbbbbbbbb", false, false},
      {"aaaaaaaaaaaaaaaa", "bbbbbbbbbbbbbbbb", true, false},
      {"aaaaaaaaaaaaaaaa", "", false, false},
      {"aaaaaaaaaaaaaaaa", "", true, true},
      {"", "bbbbbbbbbbbbbbbb", false, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AnswerBelongs(c.sent, c.carried, c.keyless), c.want) << c.sent << " " << c.carried << " " << c.keyless;
}

// Which file in an answer copy's name holds the next answer of its slot back: only the
// fresh answer of another request, written by the engine (the account's owner, or root).
TEST_F(ShareFilesTest, OnlyAnotherRequestsFreshAnswerCopyIsAwaited) {
  const std::string ours = "0123456789abcdef01234567", theirs = "fedcba9876543210fedcba98";
  const std::string copy = folder_ + "/order03-aiko-pc.an2";
  const uid_t owner = 4242, other = 4343;
  const auto now = std::chrono::system_clock::now();
  const auto old = now + std::chrono::milliseconds(2 * kAwaitedCopyHoldMs);
  const auto answer = [](const std::string& key) {
    return "[PrintResult]\r\nResult=0\r\nRequestID=" + key + "\r\n\r\n[NormalMessage]\r\nTitle=t\r\n";
  };
  struct Case {
    const char* what;
    std::string text;  // "" for no file
    uid_t uid;
    std::chrono::system_clock::time_point at;
    bool want;
  } cases[] = {
      {"no copy", "", owner, now, false},
      {"another request's, fresh", answer(theirs), owner, now, true},
      {"another request's, written by root", answer(theirs), 0, now, true},
      {"another request's, old", answer(theirs), owner, old, false},
      {"this request's own", answer(ours), owner, now, false},
      {"a keyless one", "[PrintResult]\r\nResult=0\r\n", owner, now, false},
      {"planted by another member", answer(theirs), other, now, false},
  };
  for (const auto& c : cases) {
    ::unlink(copy.c_str());
    if (!c.text.empty()) {
      ASSERT_TRUE(fs::WriteFileAtomic(copy, c.text).ok());
      ASSERT_EQ(::chown(copy.c_str(), c.uid, 0), 0);
    }
    EXPECT_EQ(AnswerCopyAwaited(copy, ours, owner, c.at), c.want) << c.what;
  }
  ASSERT_EQ(::unlink(copy.c_str()), 0);
  ASSERT_EQ(::symlink("order04-aiko-pc.an2", copy.c_str()), 0);
  ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/order04-aiko-pc.an2", answer(theirs)).ok());
  EXPECT_FALSE(AnswerCopyAwaited(copy, ours, 0, now)) << "a link";
}

// Two senders of one user on one machine: the second looked at slot 00's copy name before
// the first's answer was written there (here: a mount that keeps the names it did not
// find), so it sees no copy, finds the slot freed and takes it. The engine holds the second
// request until the first sender has taken its copy, and serves it then.
TEST_F(ShareFilesTest, ARequestWaitsWhileItsAnswerWouldReplaceAnAnswerNotTakenYet) {
  const std::string requests = folder_ + "/PrintInfo", results = folder_ + "/Result";
  ASSERT_TRUE(fs::MakeDirs(requests).ok());
  ASSERT_TRUE(fs::MakeDirs(results).ok());
  const std::string first = "0123456789abcdef01234567", second = "fedcba9876543210fedcba98";
  const std::string copy = results + "/order00-aiko-pc.an2";
  NetworkMountOps smb(DefaultFileOps(), MountKind::kSmbnetfs);
  smb.CacheMisses(true);
  // The client's own rule: a slot whose copy is there is passed over.
  auto no_copy_seen = [&](int) {
    struct stat st {};
    return smb.Lstat(copy, &st) != 0;
  };
  ASSERT_TRUE(no_copy_seen(0));
  // The first request was placed in slot 00, answered, and its slot freed.
  ASSERT_TRUE(
      fs::WriteFileAtomic(copy, "[PrintResult]\r\nResult=0\r\nRequestID=" + first + "\r\n").ok());
  auto slot = PlaceRequestText(smb, requests, SealRequestText("[RequestInfo]\nAccountName=aiko\n", second), 0,
                               no_copy_seen);
  ASSERT_TRUE(slot.ok()) << slot.status().ToString();
  ASSERT_EQ(*slot, 0) << "the mount showed the copy: nothing to hold";

  AwaitedCopyHolds holds;
  const auto now = std::chrono::system_clock::now();
  const std::string request = requests + "/" + engine::SlotFileName(0);
  EXPECT_TRUE(holds.Hold(0, request, copy, second, ::getuid(), now));
  std::array<bool, engine::kSlotCount> present{};
  present[0] = present[1] = true;
  EXPECT_EQ(holds.PassOver(present, 1000, now), kAwaitedCopyPollMs);
  EXPECT_FALSE(present[0]);
  EXPECT_TRUE(present[1]);
  // The first sender takes its copy: the second request is served.
  ASSERT_EQ(::unlink(copy.c_str()), 0);
  present[0] = true;
  EXPECT_EQ(holds.PassOver(present, 1000, now), 1000);
  EXPECT_TRUE(present[0]);
  EXPECT_TRUE(holds.empty());
  EXPECT_FALSE(holds.Hold(0, request, copy, second, ::getuid(), now));
  // A copy nobody takes holds the request for a while only; a request that changed in its
  // slot is looked at anew.
  ASSERT_TRUE(
      fs::WriteFileAtomic(copy, "[PrintResult]\r\nResult=0\r\nRequestID=" + first + "\r\n").ok());
  EXPECT_TRUE(holds.Hold(0, request, copy, second, ::getuid(), now));
  EXPECT_EQ(holds.PassOver(present, 1000, now + std::chrono::milliseconds(2 * kAwaitedCopyHoldMs)), 1000);
  EXPECT_TRUE(present[0]);
  EXPECT_TRUE(holds.Hold(0, request, copy, second, ::getuid(), now));
  ASSERT_EQ(::unlink(request.c_str()), 0);
  EXPECT_EQ(holds.PassOver(present, 1000, now), 1000);
  EXPECT_TRUE(holds.empty());
}

TEST_F(ShareFilesTest, AShareThatCannotBeReachedIsNotAnEngineThatDoesNotRun) {
  FailingLstat ops;
  EXPECT_EQ(CheckRequestFolder(ops, folder_).state, ShareCheck::kNotRunning);
  ASSERT_TRUE(fs::WriteFileAtomic(folder_ + "/Wakeup.inf", "").ok());
  EXPECT_EQ(CheckRequestFolder(ops, folder_).state, ShareCheck::kRunning);
  struct Case {
    std::string path;
    int error;
    ShareCheck::State want;
  } cases[] = {
      {folder_, EACCES, ShareCheck::kUnreadable},
      {folder_, ENOTCONN, ShareCheck::kUnreachable},
      {folder_, ENOENT, ShareCheck::kUnreachable},
      {folder_ + "/Wakeup.inf", EACCES, ShareCheck::kUnreadable},
      {folder_ + "/Wakeup.inf", EIO, ShareCheck::kUnreachable},
  };
  for (const auto& c : cases) {
    ops.errors = {{c.path, c.error}};
    ShareCheck got = CheckRequestFolder(ops, folder_);
    EXPECT_EQ(got.state, c.want) << c.path << " " << c.error;
    EXPECT_EQ(got.error, c.error);
  }
  // The share back: used again at once.
  ops.errors.clear();
  EXPECT_EQ(CheckRequestFolder(ops, folder_).state, ShareCheck::kRunning);
  EXPECT_EQ(CheckRequestFolder(ops, folder_ + "/Wakeup.inf").state, ShareCheck::kUnreachable);  // no folder
}

}  // namespace
}  // namespace zv::share
