// The capture exports driven as the print processor drives them, against an in-process
// resident program and a test client window carrying the property "Zelvora".
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "capture/common/blocks.h"
#include "capture/common/log.h"
#include "capture/sarquen/sarquen.h"
#include "capture/ulmerith/resident.h"
#include "jobdoc/image.h"
#include "jobdoc/private_records.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"
#include "platform/gdi/emf/builder.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/handles/handles.h"
#include "platform/registry/registry.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"

namespace zv::capture {
namespace {

namespace sfs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

win::DEVMODEA Devmode(short paper, short orientation, short width, short length, short quality = 200) {
  win::DEVMODEA dm{};
  dm.dmSize = sizeof dm;
  dm.dmPaperSize = paper;
  dm.dmOrientation = orientation;
  dm.dmPaperWidth = width;
  dm.dmPaperLength = length;
  dm.dmPrintQuality = quality;
  return dm;
}

// A page of `w` x `h` pixels with a rectangle (and whatever `extra` adds).
Bytes Page(int w, int h, const std::function<void(emf::MetafileBuilder&)>& extra = nullptr) {
  emf::Writer::Options o;
  o.device = {w, h};
  o.millimeters = {w / 10, h / 10};
  emf::MetafileBuilder b(o);
  b.Rectangle(10, 10, w / 2, h / 2);
  if (extra) extra(b);
  return b.Build();
}

std::string Cp932(const std::string& utf8) { return *codepage::Utf8ToCp932(utf8); }

Bytes ReadAll(const std::string& path) {
  auto s = fs::ReadFile(path);
  return s.ok() ? Bytes(s->begin(), s->end()) : Bytes{};
}

std::string ReadText(const std::string& path) {
  auto s = fs::ReadFile(path);
  return s.ok() ? *s : std::string();
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { StartResident(); }

  void StartResident() {
    resident_.reset();
    Resident::Options o;
    o.start_program = [this](const std::vector<std::string>& argv) {
      started_.push_back(argv);
      if (start_client_) MakeClient(false);
      return Status::Ok();
    };
    auto r = Resident::Create(std::move(o));
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    resident_ = std::move(*r);
  }

  // A client main frame: the property "Zelvora", WM_COPYDATA texts recorded.
  void MakeClient(bool register_with_resident) {
    auto w = winmsg::Window::Create(
        "ClientFrame", "client",
        [this](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) -> winmsg::LRESULT {
          if (m == winmsg::WM_COPYDATA) {
            auto* cds = reinterpret_cast<const winmsg::COPYDATASTRUCT*>(lp);
            copydata_.emplace_back(static_cast<const char*>(cds->lpData), cds->cbData);
            return 1;
          }
          return winmsg::DefWindowProc(h, m, wp, lp);
        });
    ASSERT_TRUE(w.ok());
    client_ = std::move(*w);
    winmsg::SetProp(client_.hwnd(), kClientProperty, 1);
    if (register_with_resident) winmsg::SendMessage(resident_->hwnd(), WM_PERM_SETCLIENTWND, client_.hwnd(), 0);
  }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    std::string path = root_.str() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // The capture file handed to the client: the path before " /n ".
  std::string HandedPath() const {
    if (copydata_.empty()) return {};
    return copydata_.back().substr(0, copydata_.back().find(" /n "));
  }

  std::vector<std::string> CaptureFiles() const {
    std::vector<std::string> out;
    for (auto& e : sfs::directory_iterator(root_.path() / "tmp"))
      if (e.path().filename().string().rfind("WXQ", 0) == 0) out.push_back(e.path().string());
    return out;
  }

  std::string Log() const { return ReadText(CaptureLogPath()); }

  testing::TempRoot root_;
  std::unique_ptr<Resident> resident_;
  winmsg::Window client_;
  std::vector<std::string> copydata_;
  std::vector<std::vector<std::string>> started_;
  bool start_client_ = false;
};

TEST_F(CaptureTest, OutEmfPagesReachTheClientWindowAsACaptureFile) {
  MakeClient(true);
  const Bytes portrait = Page(2100, 2970);
  const Bytes landscape = Page(2970, 2100);
  const auto dm = Devmode(9, 1, 2100, 2970);
  ZvCaptureSession s = OpenMkExe(Cp932("Microsoft Word - report.DOC").c_str(), &dm);
  ASSERT_NE(s, 0u) << Log();
  ZvOutEmfRecord r1{36, s, gdi::SetEnhMetaFileBits(portrait), 9, 1, 2100, 2970, 11, 12};
  ZvOutEmfRecord r2{36, s, gdi::SetEnhMetaFileBits(landscape), 9, 2, 2100, 2970, 21, 22};
  EXPECT_EQ(OutEMF(&r1), 0);
  EXPECT_EQ(OutEMF(&r2), 0);
  EXPECT_EQ(EndEMF(s), 0);
  EXPECT_EQ(EndEMF(s), 1);  // the session is gone
  gdi::DeleteEnhMetaFile(r1.metafile);
  gdi::DeleteEnhMetaFile(r2.metafile);

  ASSERT_EQ(copydata_.size(), 1u) << Log();
  const std::string path = HandedPath();
  EXPECT_EQ(copydata_[0], path + " /n \"report\" " + std::string(1, '\0'));
  EXPECT_EQ(sfs::path(path).parent_path(), root_.path() / "tmp");
  EXPECT_EQ(sfs::status(path).permissions() & sfs::perms::all, sfs::perms::owner_read | sfs::perms::owner_write);

  const Bytes file = ReadAll(path);
  // The page-format record: the default with the device mode's paper, no chain.
  jobdoc::PageFormatRecord want = jobdoc::DefaultPageFormatRecord();
  want.paper_code = 9;
  want.paper_width = 2100;
  want.paper_length = 2970;
  ASSERT_GE(file.size(), 35u);
  EXPECT_EQ(0, std::memcmp(file.data(), &want, 35));
  // Each page: header patched to the written length and records, the font-scale record right
  // after the header, then the 36-byte record unchanged.
  std::size_t at = 35;
  for (const ZvOutEmfRecord& r : {r1, r2}) {
    ASSERT_LT(at + 88, file.size());
    const std::uint32_t bytes = U32(file, at + 48);
    const std::uint32_t header_size = U32(file, at + 4);
    auto mf = emf::Metafile::Parse(std::span(file).subspan(at, bytes));
    ASSERT_TRUE(mf.ok()) << mf.status().ToString();
    std::uint32_t count = 0;
    auto counted = emf::ForEachRecord(*mf, [&](const emf::Record&) {
      ++count;
      return Status::Ok();
    });
    ASSERT_TRUE(counted.ok());
    EXPECT_EQ(U32(file, at + 52), count);
    auto scale = jobdoc::ParsePrivateRecord(std::span(file).subspan(at + header_size, 12));
    ASSERT_TRUE(scale.ok());
    EXPECT_EQ(scale->kind, jobdoc::PrivateRecord::Kind::kFontScale);
    EXPECT_EQ(scale->text_height, 28);  // 200 dpi
    EXPECT_EQ(0, std::memcmp(file.data() + at + bytes, &r, 36));
    at += bytes + 36;
  }
  EXPECT_EQ(at, file.size());

  auto image = jobdoc::ReadDocumentImage(file, true);
  ASSERT_TRUE(image.ok()) << image.status().ToString();
  ASSERT_EQ(image->pages.size(), 2u);
  EXPECT_FALSE(image->pages[0].attributes.landscape());
  EXPECT_TRUE(image->pages[1].attributes.landscape());
}

TEST_F(CaptureTest, DeviceModeFillsThePageFormatRecord) {
  struct Case {
    short size_field, paper, orientation, width, length;
    std::uint16_t want_code, want_width, want_length;
    std::uint8_t want_flags;
  } cases[] = {
      {156, 9, 1, 2100, 2970, 9, 2100, 2970, 0},
      {156, 8, 2, 2970, 4200, 8, 2970, 4200, jobdoc::kFormatLandscape},
      {156, 9, 1, 0, 0, 9, 2100, 2970, 0},  // no paper size given
      {156, 70, 1, 999, 1479, 70, 2100, 2970, 0},
      {46, 11, 2, 1480, 2100, 0, 2100, 2970, jobdoc::kFormatLandscape},  // ends before the paper
      {400, 12, 1, 2570, 3640, 12, 2570, 3640, 0},                       // copied no further than 156 bytes
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buffer(400, 0);
    auto dm = Devmode(c.paper, c.orientation, c.width, c.length);
    dm.dmSize = static_cast<std::uint16_t>(c.size_field);
    std::memcpy(buffer.data(), &dm, sizeof dm);
    ZvCaptureSession s = OpenMkExe("doc", buffer.data());
    ASSERT_NE(s, 0u);
    auto files = CaptureFiles();
    ASSERT_EQ(files.size(), 1u);
    Bytes head = ReadAll(files[0]);
    ASSERT_EQ(head.size(), 35u);
    jobdoc::PageFormatRecord rec;
    std::memcpy(&rec, head.data(), 35);
    // Copied out of the packed record before comparing.
    const std::uint16_t code = rec.paper_code, width = rec.paper_width, length = rec.paper_length;
    const std::uint8_t flags = rec.flags;
    EXPECT_EQ(code, c.want_code) << c.paper;
    EXPECT_EQ(width, c.want_width) << c.paper;
    EXPECT_EQ(length, c.want_length) << c.paper;
    EXPECT_EQ(flags, c.want_flags) << c.paper;
    EXPECT_EQ(EndEMF(s), 0);
    EXPECT_TRUE(CaptureFiles().empty());  // no page call: deleted
  }
  EXPECT_EQ(OpenMkExe(nullptr, &cases), 0u);
  EXPECT_NE(Log().find("OpenMkExe failed"), std::string::npos);
}

TEST_F(CaptureTest, SetEmfTakesPagesOnlyWithinTheFile) {
  MakeClient(true);
  const Bytes page = Page(400, 600);
  auto concat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Bytes five = concat({page, page, page, page, page});
  Bytes zero_length = page;
  std::memset(zero_length.data() + 48, 0, 4);
  Bytes too_long = page;
  const std::uint32_t huge = static_cast<std::uint32_t>(page.size() + 4);
  std::memcpy(too_long.data() + 48, &huge, 4);
  Bytes not_header = page;
  not_header[0] = 2;
  Bytes early_signature = {' ', 'E', 'M', 'F', 0, 0, 0, 0};  // before offset 40: no page
  Bytes huge_device = page;
  const std::int32_t big = 1 << 30;
  std::memcpy(huge_device.data() + 72, &big, 4);

  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t limit;
    int pages;  // -1: refused
  } cases[] = {
      {"five, limit 2", five, 2, 2},
      {"five, all", five, 0, 5},
      {"signature too early", early_signature, 0, 0},
      {"nBytes 0", zero_length, 0, -1},
      {"nBytes past the end", too_long, 0, -1},
      {"not a header record", not_header, 0, -1},
      {"huge reference device", huge_device, 0, -1},
      {"garbage before a page", concat({Bytes(13, 0xEE), page}), 0, 1},
  };
  for (const Case& c : cases) {
    copydata_.clear();
    const std::string log_before = Log();
    const auto dm = Devmode(9, 1, 2100, 2970);
    ZvCaptureSession s = OpenMkExe("pages", &dm);
    ASSERT_NE(s, 0u);
    EXPECT_EQ(SetEmf(s, WriteFile("pages.emf", c.file).c_str(), c.limit), 1);
    EXPECT_EQ(EndEMF(s), 0);
    if (c.pages < 0) {
      EXPECT_TRUE(copydata_.empty()) << c.name;
      EXPECT_NE(Log().find("データ解析中にエラーが発生しました。", log_before.size()), std::string::npos) << c.name;
      for (const std::string& f : CaptureFiles()) sfs::remove(f);  // kept for the user
      continue;
    }
    ASSERT_EQ(copydata_.size(), 1u) << c.name << Log();
    auto image = jobdoc::ReadDocumentImage(ReadAll(HandedPath()), true);
    ASSERT_TRUE(image.ok()) << c.name << image.status().ToString();
    EXPECT_EQ(image->pages.size(), static_cast<std::size_t>(c.pages)) << c.name;
    sfs::remove(HandedPath());
  }
  EXPECT_EQ(SetEmf(0, "x", 0), 0);
}

TEST_F(CaptureTest, EmptyPageFilesAndBitmaps) {
  MakeClient(true);
  const auto dm = Devmode(9, 1, 2100, 2970);
  const std::string empty = WriteFile("empty.emf", {});
  const std::string page = WriteFile("page.emf", Page(300, 300));

  // An empty page after a real one leaves the job as it was.
  ZvCaptureSession s = OpenMkExe("two calls", &dm);
  EXPECT_EQ(AddEmf(s, page.c_str()), 1);
  EXPECT_EQ(AddEmf(s, empty.c_str()), 1);
  EXPECT_EQ(EndEMF(s), 0);
  ASSERT_EQ(copydata_.size(), 1u);
  auto image = jobdoc::ReadDocumentImage(ReadAll(HandedPath()), true);
  ASSERT_TRUE(image.ok()) << image.status().ToString();
  EXPECT_EQ(image->pages.size(), 1u);
  ASSERT_TRUE(image->pages[0].trailer);
  EXPECT_EQ(image->pages[0].trailer->paper_code, 9u);  // filled from the device mode
  sfs::remove(HandedPath());

  // As the only page call it leaves no document and no message.
  const std::string log_before = Log();
  s = OpenMkExe("empty", &dm);
  EXPECT_EQ(AddEmf(s, empty.c_str()), 1);
  EXPECT_EQ(EndEMF(s), 0);
  EXPECT_EQ(copydata_.size(), 1u);
  EXPECT_TRUE(CaptureFiles().empty());
  EXPECT_EQ(Log(), log_before);

  // A bitmap page: a metafile of the bitmap's own size on the paper, with a trailer.
  auto dib = emf::MakeTestDib(40, 30, 24);
  Bytes bmp(14, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  const std::uint32_t off = 14 + static_cast<std::uint32_t>(dib.info.size());
  std::memcpy(bmp.data() + 10, &off, 4);
  bmp.insert(bmp.end(), dib.info.begin(), dib.info.end());
  bmp.insert(bmp.end(), dib.bits.begin(), dib.bits.end());
  s = OpenMkExe("bitmap", &dm);
  EXPECT_EQ(SetDIB(s, WriteFile("p.bmp", bmp).c_str()), 1);
  EXPECT_EQ(EndEMF(s), 0);
  ASSERT_EQ(copydata_.size(), 2u);
  image = jobdoc::ReadDocumentImage(ReadAll(HandedPath()), true);
  ASSERT_TRUE(image.ok());
  ASSERT_EQ(image->pages.size(), 1u);
  auto mf = emf::Metafile::Parse(image->pages[0].metafile);
  ASSERT_TRUE(mf.ok());
  EXPECT_EQ(mf->header().device.cx, 40);
  EXPECT_EQ(mf->header().device.cy, 30);
  EXPECT_EQ(mf->header().frame.right, 21000);
  EXPECT_EQ(mf->header().bounds.right, 40);

  // A damaged bitmap closes the session to input; SetDIB then reports it.
  Bytes cut(bmp.begin(), bmp.begin() + 60);
  s = OpenMkExe("bad bitmap", &dm);
  EXPECT_EQ(SetDIB(s, WriteFile("bad.bmp", cut).c_str()), 1);
  EXPECT_EQ(SetDIB(s, WriteFile("p.bmp", bmp).c_str()), 0);
  EXPECT_EQ(EndEMF(s), 0);
  EXPECT_EQ(copydata_.size(), 2u);
}

TEST_F(CaptureTest, WithoutAClientWindowTheResidentProgramStartsTheClient) {
  start_client_ = true;  // the started "client" opens its frame at once
  const auto dm = Devmode(9, 1, 2100, 2970);
  ZvCaptureSession s = OpenMkExe(Cp932("Microsoft Word - 月次 \"報告\".doc").c_str(), &dm);
  ASSERT_NE(s, 0u);
  const std::string page = WriteFile("page.emf", Page(300, 300));
  AddEmf(s, page.c_str());
  EXPECT_EQ(EndEMF(s), 0);
  ASSERT_EQ(started_.size(), 1u) << Log();
  const auto& argv = started_[0];
  ASSERT_EQ(argv.size(), 4u);
  // Without "AppPath" the install's own client: <prefix>/bin/ostrane beside <prefix>/lib.
  const std::string installed = sfs::weakly_canonical(zv::testing::BinDir()).string() + "/ostrane";
  EXPECT_EQ(argv[0], installed);
  EXPECT_EQ(argv[2], "/n");
  EXPECT_EQ(argv[3], "月次 ”報告”");
  EXPECT_TRUE(sfs::exists(argv[1]));  // kept for the client, which deletes it after loading
  EXPECT_TRUE(copydata_.empty());

  // "AppPath" of the machine key: its ostrane when it holds one, else still the install's.
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0");
  ASSERT_TRUE(key.ok());
  const std::string app = root_.str() + "/app";
  sfs::create_directories(app);
  ASSERT_TRUE(key->SetString("AppPath", app).ok());
  client_.Reset();
  s = OpenMkExe("x", &dm);
  AddEmf(s, page.c_str());
  EndEMF(s);
  ASSERT_EQ(started_.size(), 2u);
  EXPECT_EQ(started_[1][0], installed);
  WriteFile("app/ostrane", Bytes{});
  client_.Reset();
  s = OpenMkExe("y", &dm);
  AddEmf(s, page.c_str());
  EndEMF(s);
  ASSERT_EQ(started_.size(), 3u);
  EXPECT_EQ(started_[2][0], app + "/ostrane");
}

TEST_F(CaptureTest, ControlCommentsChangeSlotsAndLeaveNoDocument) {
  MakeClient(true);
  const auto dm = Devmode(9, 1, 2100, 2970);
  auto comment = [](std::uint16_t code, std::uint32_t value, const std::vector<std::byte>& record) {
    Bytes data(10 + record.size(), 0);
    std::memcpy(data.data(), &code, 2);
    std::memcpy(data.data() + 2, "PRC\0", 4);
    std::memcpy(data.data() + 6, &value, 4);
    std::memcpy(data.data() + 10, record.data(), record.size());
    return data;
  };
  auto run = [&](const Bytes& data) {
    ZvCaptureSession s = OpenMkExe("control", &dm);
    AddEmf(s, WriteFile("c.emf", Page(300, 300, [&](emf::MetafileBuilder& b) { b.Comment(data); })).c_str());
    EndEMF(s);
  };
  auto block = [](int slot, int kind) {
    auto b = shm::SharedBlock::Open(SlotBlockName(slot, kind), shm::Access::kRead);
    return b.ok() ? CText(b->bytes().subspan(6)) : std::string("?");
  };

  const std::string out = root_.str() + "/out/";
  run(comment(200, 0, BuildOutputRecord(2, {out, out + "notice.txt"})));
  EXPECT_EQ(block(2, 1), out);
  EXPECT_EQ(resident_->out_kind(), 0u);
  EXPECT_TRUE(copydata_.empty());
  EXPECT_TRUE(CaptureFiles().empty());

  // Refused: relative or climbing paths, module paths, a record larger than its comment.
  const std::size_t log_before = Log().size();
  run(comment(200, 0, BuildOutputRecord(2, {"../../etc/", ""})));
  run(comment(200, 0, BuildOutputRecord(2, {out + "../x/", ""})));
  run(comment(201, 0, BuildConverterRecord(2, {100, "pdf", "/tmp/evil.so"})));
  run(comment(201, 0, BuildConverterRecord(2, {100, "p/f", "liblumbrel.so"})));
  auto oversized = BuildOutputRecord(2, {out, ""});
  oversized[0] = std::byte{200};
  run(comment(200, 0, oversized));
  EXPECT_EQ(block(2, 1), out);
  EXPECT_EQ(resident_->out_kind(), 0u);
  EXPECT_EQ(copydata_.size(), 5u);  // each went on as an ordinary job
  EXPECT_NE(Log().find("control comment refused", log_before), std::string::npos);
  for (const std::string& f : CaptureFiles()) sfs::remove(f);
}

// The conversion run through a converter module in the library's folder: a stub that
// describes what it got, or the real conversion library.
class ConversionTest : public CaptureTest {
 protected:
  void Configure(std::uint32_t type, std::uint32_t out_kind, int slot,
                 const std::string& module = "libzvstubconverter.so", const std::string& extension = "txt") {
    auto m = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0\\Conv");
    auto u = registry::Key::Create(registry::RootKey::kCurrentUser, "Software\\Orbelin\\Zelvora\\1.0\\Conv");
    ASSERT_TRUE(m.ok() && u.ok());
    const std::string n = std::to_string(slot);
    EXPECT_TRUE(m->SetDword(n + "_ID", type).ok());
    EXPECT_TRUE(m->SetString(n + "_EXT", extension).ok());
    EXPECT_TRUE(m->SetString(n, module).ok());
    EXPECT_TRUE(u->SetDword("OutKind", out_kind).ok());
    EXPECT_TRUE(u->SetString("Outdir", out_).ok());
    EXPECT_TRUE(u->SetString("notice2", root_.str() + "/notice.txt").ok());
    sfs::create_directories(out_);
    StartResident();
  }
  std::string out_ = root_.str() + "/out";
};

TEST_F(ConversionTest, ConverterGetsEveryPageAndTheNoticeFileTheOutcome) {
  Configure(100, 1u << 1, 1);
  const auto dm = Devmode(9, 2, 2100, 2970);
  ZvCaptureSession s = OpenMkExe("Microsoft Word - report.DOC", &dm);
  ASSERT_NE(s, 0u) << Log();
  const Bytes page = Page(500, 400);
  for (int i = 0; i < 3; ++i) {
    ZvOutEmfRecord r{36, s, gdi::SetEnhMetaFileBits(page), 9, 2, 2100, 2970, 0, 0};
    OutEMF(&r);
    gdi::DeleteEnhMetaFile(r.metafile);
  }
  EXPECT_EQ(EndEMF(s), 0);
  const std::string described = ReadText(out_ + "/report.txt");
  EXPECT_NE(described.find("pages=3 name=Microsoft Word - report.DOC"), std::string::npos) << Log();
  EXPECT_NE(described.find("page 2 offset="), std::string::npos);
  EXPECT_NE(described.find("type=1"), std::string::npos);
  EXPECT_NE(described.find("size=336755x238110"), std::string::npos);  // landscape A4 in 1/28800 in
  EXPECT_EQ(ReadText(root_.str() + "/notice.txt"), "gifcount=3\nerror=0\n");
  EXPECT_TRUE(CaptureFiles().empty());  // deleted after a successful run
  EXPECT_TRUE(copydata_.empty());
}

TEST_F(ConversionTest, EveryPageKeepsItsOwnSize) {
  // A portrait job with a landscape page and an A3 page among its A4 pages.
  Configure(100, 1u << 1, 1);
  const auto dm = Devmode(9, 1, 2100, 2970);
  ZvCaptureSession s = OpenMkExe("mixed", &dm);
  ASSERT_NE(s, 0u) << Log();
  const Bytes page = Page(300, 300);
  struct PagePaper {
    std::uint16_t paper, orientation, width, length;
  } papers[] = {{9, 1, 2100, 2970}, {9, 2, 2100, 2970}, {8, 1, 2970, 4200}};
  for (const auto& p : papers) {
    ZvOutEmfRecord r{36, s, gdi::SetEnhMetaFileBits(page), p.paper, p.orientation, p.width, p.length, 0, 0};
    OutEMF(&r);
    gdi::DeleteEnhMetaFile(r.metafile);
  }
  EXPECT_EQ(EndEMF(s), 0);
  // Each page's line of the stub's description ends with the size it was given.
  const std::string described = ReadText(out_ + "/mixed.txt");
  const char* sizes[] = {"size=238110x336755", "size=336755x238110", "size=336755x476220"};
  for (int i = 0; i < 3; ++i) {
    const size_t at = described.find("page " + std::to_string(i) + " offset=");
    ASSERT_NE(at, std::string::npos) << described;
    const std::string line = described.substr(at, described.find('\n', at) - at);
    EXPECT_TRUE(line.ends_with(sizes[i])) << line;
  }
}

TEST_F(ConversionTest, TheConversionLibraryWritesThePagesAsPdf) {
  // Loaded once for the whole process (as the programs keep it), so that unloading it after
  // the run leaves its caches alone.
  const std::string library = zv::testing::BinDir() + "/../lib/liblumbrel.so";
  ASSERT_NE(dlopen(library.c_str(), RTLD_NOW | RTLD_NODELETE), nullptr) << dlerror();
  Configure(100, 1u << 1, 1, "liblumbrel.so", "pdf");
  const auto dm = Devmode(9, 1, 2100, 2970);
  ZvCaptureSession s = OpenMkExe("Microsoft Word - report.DOC", &dm);
  ASSERT_NE(s, 0u) << Log();
  for (int i = 0; i < 2; ++i) AddEmf(s, WriteFile("p.emf", Page(300, 300)).c_str());
  EXPECT_EQ(EndEMF(s), 0);
  EXPECT_EQ(ReadText(root_.str() + "/notice.txt"), "gifcount=2\nerror=0\n") << Log();
  const std::string pdf = ReadText(out_ + "/report.pdf");
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf.find("/Count 2"), std::string::npos);
  EXPECT_TRUE(CaptureFiles().empty());
}

TEST_F(ConversionTest, FailedConversionKeepsTheCaptureAndReportsTheSlot) {
  struct Case {
    std::uint32_t type;
    int slot;
    int error;
  } cases[] = {{101, 1, 3}, {101, 2, 4}, {101, 3, 7}, {55, 1, 3}};
  for (const Case& c : cases) {
    Configure(c.type, 1u << c.slot, c.slot);
    const auto dm = Devmode(9, 1, 2100, 2970);
    ZvCaptureSession s = OpenMkExe("doc", &dm);
    ASSERT_NE(s, 0u);
    AddEmf(s, WriteFile("p.emf", Page(300, 300)).c_str());
    EndEMF(s);
    EXPECT_EQ(ReadText(root_.str() + "/notice.txt"), "gifcount=0\nerror=" + std::to_string(c.error) + "\n")
        << c.type << " " << c.slot;
    EXPECT_EQ(CaptureFiles().size(), 1u);
    EXPECT_NE(Log().find("conversion failed"), std::string::npos);
    for (const std::string& f : CaptureFiles()) sfs::remove(f);
  }
}

}  // namespace
}  // namespace zv::capture
