// The share's file rules on a local folder, plain and through layers that behave as the
// network mounts an office uses (smbnetfs: no rename without replace, no links; sshfs: a
// name that exists gives EPERM).
#include "engine/hevrasto/share_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
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
