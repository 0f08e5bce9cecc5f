#include "platform/registry/hive.h"

#include <random>

#include <gtest/gtest.h>

namespace zv::registry {
namespace {

TEST(Hive, KeysAndValuesIgnoreCaseAndKeepTheirOwn) {
  HiveData h;
  ASSERT_TRUE(h.CreateKey("Software\\Orbelin\\Zelvora\\1.0\\Settings").ok());
  EXPECT_TRUE(h.HasKey("software\\ORBELIN"));
  EXPECT_TRUE(h.HasKey("\\Software\\Orbelin\\Zelvora\\1.0\\"));
  ASSERT_TRUE(h.Set("SOFTWARE\\orbelin\\zelvora\\1.0", "AppPath", {kRegSz, std::string("/a\0", 3)}).ok());
  ASSERT_TRUE(h.Set("Software\\Orbelin\\Zelvora\\1.0", "APPPATH", {kRegSz, std::string("/b\0", 3)}).ok());
  ASSERT_NE(h.Find("software\\orbelin\\zelvora\\1.0", "apppath"), nullptr);
  EXPECT_EQ(h.Find("software\\orbelin\\zelvora\\1.0", "apppath")->data, std::string("/b\0", 3));
  EXPECT_EQ(h.ValueNames("Software\\Orbelin\\Zelvora\\1.0").value(), std::vector<std::string>{"AppPath"});
  EXPECT_EQ(h.SubKeyNames("software\\orbelin\\zelvora\\1.0").value(), std::vector<std::string>{"Settings"});
  EXPECT_EQ(h.Set("Software\\Missing", "x", {kRegDword, "1234"}).code(), Status::Code::kNotFound);
  EXPECT_EQ(h.Set("Software", std::string(kMaxValueNameLength + 1, 'n'), {}).code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(h.Set("Software", "big", {kRegBinary, std::string(kMaxValueSize + 1, 'x')}).code(),
            Status::Code::kInvalidArgument);
  EXPECT_FALSE(h.CreateKey(std::string(kMaxKeyNameLength + 1, 'k')).ok());
}

TEST(Hive, DeleteKeyTakesItsSubtreeOnly) {
  HiveData h;
  ASSERT_TRUE(h.CreateKey("A\\B\\C").ok());
  ASSERT_TRUE(h.CreateKey("A\\BB").ok());
  ASSERT_TRUE(h.DeleteKey("a\\b").ok());
  EXPECT_FALSE(h.HasKey("A\\B\\C"));
  EXPECT_FALSE(h.HasKey("A\\B"));
  EXPECT_TRUE(h.HasKey("A\\BB"));
  EXPECT_EQ(h.DeleteKey("A\\B").code(), Status::Code::kNotFound);
  EXPECT_EQ(h.DeleteKey("").code(), Status::Code::kInvalidArgument);
}

TEST(Hive, SerializeParsesBackByteForByte) {
  HiveData h;
  ASSERT_TRUE(h.CreateKey("Software\\Zelvora Service\\Odd \"name\" %20").ok());
  const std::string key = "Software\\Zelvora Service\\Odd \"name\" %20";
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  ASSERT_TRUE(h.Set(key, "Text", {kRegSz, "印刷 a=b\r\n%\"\0"}).ok());
  ASSERT_TRUE(h.Set(key, "Num", {kRegDword, std::string("\x32\0\0\x80", 4)}).ok());
  ASSERT_TRUE(h.Set(key, "Short", {kRegDword, std::string("\x01\x02", 2)}).ok());
  ASSERT_TRUE(h.Set(key, "Bin", {kRegBinary, all_bytes}).ok());
  ASSERT_TRUE(h.Set(key, "Empty", {kRegBinary, ""}).ok());
  ASSERT_TRUE(h.Set(key, "Odd type", {99, "xyz"}).ok());
  ASSERT_TRUE(h.Set(key, "", {kRegSz, std::string("default\0", 8)}).ok());
  ASSERT_TRUE(h.Set(key, "Multi", {kRegMultiSz, std::string("a\0b\0\0", 5)}).ok());
  auto text = h.Serialize();
  auto back = HiveData::Parse(text);
  ASSERT_TRUE(back.ok()) << back.status().ToString() << "\n" << text;
  EXPECT_EQ(back->Serialize(), text);
  auto names = h.ValueNames(key);
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(names->size(), 8u);
  for (const auto& name : *names) {
    ASSERT_NE(back->Find(key, name), nullptr) << name;
    EXPECT_EQ(*back->Find(key, name), *h.Find(key, name)) << name;
  }
  EXPECT_NE(text.find("value \"Num\" dword 2147483698\n"), std::string::npos) << text;
}

TEST(Hive, DamagedFilesAreRefused) {
  for (const char* bad :
       {"not a hive\n", "zelvora-registry 1\nkey\n", "zelvora-registry 1\nkey \"a\" \"b\"\n",
        "zelvora-registry 1\nkey \"\"\n", "zelvora-registry 1\nvalue \"x\" sz \"abc\n",
        "zelvora-registry 1\nvalue \"x\" dword 99999999999\n", "zelvora-registry 1\nvalue \"x\" binary hex:abc\n",
        "zelvora-registry 1\nvalue \"x\" binary hex:zz\n", "zelvora-registry 1\nvalue \"x%2\" sz \"a\"\n",
        "zelvora-registry 1\nvalue \"x\" bogus \"a\"\n", "zelvora-registry 1\nvalue \"x\" type \"a\"\n",
        "zelvora-registry 1\nsomething\n"}) {
    auto r = HiveData::Parse(bad);
    EXPECT_EQ(r.status().code(), Status::Code::kCorruption) << bad;
  }
  EXPECT_TRUE(HiveData::Parse("").ok());
  EXPECT_TRUE(HiveData::Parse("zelvora-registry 1\r\n\r\n   \n# note\n").ok());
}

TEST(Hive, DamagedCopiesOfAGoodFileNeverCrashTheReader) {
  HiveData h;
  ASSERT_TRUE(h.CreateKey("Software\\Orbelin\\Zelvora\\1.0\\Conv").ok());
  ASSERT_TRUE(h.Set("Software\\Orbelin\\Zelvora\\1.0", "AppPath", {kRegSz, std::string("/srv/z\0", 7)}).ok());
  ASSERT_TRUE(h.Set("Software\\Orbelin\\Zelvora\\1.0", "MaxPages", {kRegDword, std::string("\x32\0\0\0", 4)}).ok());
  ASSERT_TRUE(h.Set("Software\\Orbelin\\Zelvora\\1.0\\Conv", "Bin", {kRegBinary, "\x01\x02"}).ok());
  const std::string good = h.Serialize();
  std::mt19937 rng(11);
  const char noise[] = {'"', '%', ' ', '\n', '\\', 'z', '0', ':', '\0', '\xff'};
  for (int i = 0; i < 3000; ++i) {
    std::string t = good;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      size_t at = rng() % t.size();
      switch (rng() % 3) {
        case 0:
          t[at] = noise[rng() % sizeof noise];
          break;
        case 1:
          t.erase(at, 1 + rng() % 6);
          break;
        default:
          t.insert(at, 1, noise[rng() % sizeof noise]);
      }
      if (t.empty()) t = "x";
    }
    auto r = HiveData::Parse(t);
    if (r.ok()) {
      EXPECT_TRUE(HiveData::Parse(r->Serialize()).ok());
    }
  }
}

}  // namespace
}  // namespace zv::registry
