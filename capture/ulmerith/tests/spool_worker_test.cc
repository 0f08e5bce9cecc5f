// The resident program's spool worker with the real feeder: a good job reaches the client
// window and leaves the spool, a damaged one moves to failed/ and is reported.
#include "capture/ulmerith/spool_worker.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cairo-pdf.h>
#include <cairo.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "capture/common/log.h"
#include "capture/spool/spool.h"
#include "capture/ulmerith/resident.h"
#include "driver/kelvad/raster_job.h"
#include "jobdoc/image.h"
#include "jobdoc/private_records.h"
#include "platform/fs/files.h"
#include "platform/gdi/emf/builder.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "platform/gdi/testing/box_pdf.h"
#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace zv::capture {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;

// A resident program whose client start opens the client's frame at once (as the started
// client does, and the capture file from its arguments); `started` lists the command lines.
struct ResidentWithClient {
  std::vector<std::vector<std::string>> started;
  winmsg::Window client;
  Result<std::unique_ptr<Resident>> resident = Create();

 private:
  Result<std::unique_ptr<Resident>> Create() {
    Resident::Options o;
    o.start_program = [this](const std::vector<std::string>& argv) {
      started.push_back(argv);
      auto w = winmsg::Window::Create("ClientFrame", "client", winmsg::DefWindowProc);
      if (w.ok()) {
        client = std::move(*w);
        winmsg::SetProp(client.hwnd(), kClientProperty, 1);
      }
      return Status::Ok();
    };
    return Resident::Create(std::move(o));
  }
};

// Runs a feeder command line to its end while pumping the resident program's messages;
// gives its exit code.
Result<int> RunFeeder(const std::vector<std::string>& argv) {
  process::StartOptions p;
  p.argv = argv;
  auto feeder = process::Start(p);
  if (!feeder.ok()) return feeder.status();
  Result<int> code = Status::Timeout("running");
  for (int i = 0; i < 3000 && !code.ok(); ++i) {
    winmsg::PumpMessages();
    code = feeder->Wait(0);
    std::this_thread::sleep_for(10ms);
  }
  return code;
}

// Starts a spool worker on `spool` with the given feeder program, as the resident program does.
Result<std::unique_ptr<SpoolWorker>> StartWorker(const std::string& spool, const std::string& feeder) {
  SpoolWorker::Options so;
  so.folder = spool;
  so.feeder = feeder;
  so.rescan_ms = 100;
  so.seconds = 60;
  return SpoolWorker::Start(so);
}

// Runs the worker (pumping the resident program's messages) until it is idle and jobs 1 and
// 2 have left the spool folder, for a minute at most; gives whether they did.
bool RunUntilJobsOneAndTwoLeave(SpoolWorker& worker, const std::string& spool) {
  auto done = [&] { return !worker.busy() && !sfs::exists(spool + "/1.job") && !sfs::exists(spool + "/2.job"); };
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!done() && std::chrono::steady_clock::now() < end) {
    winmsg::PumpMessages();
    worker.Tick();
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// A spool folder that is a link, or another user's, is refused before anything in it is
// touched: the link's target keeps its mode.
TEST(SpoolWorker, RefusesALinkedOrForeignSpoolFolder) {
  testing::TempRoot root;
  const std::string target = root.str() + "/elsewhere";
  sfs::create_directories(target);
  ::chmod(target.c_str(), 0755);
  sfs::create_directory_symlink(target, root.str() + "/linked");
  sfs::create_directories(root.str() + "/foreign");
  const bool can_chown = ::chown((root.str() + "/foreign").c_str(), 4242, 4242) == 0;
  struct Case {
    const char* folder;
    bool accepted;
  } cases[] = {{"/linked", false}, {"/foreign", !can_chown}, {"/fresh/spool", true}};
  for (const Case& c : cases) {
    SpoolWorker::Options so;
    so.folder = root.str() + c.folder;
    so.feeder = testing::BinPath("zelvora-feeder");
    auto worker = SpoolWorker::Start(so);
    EXPECT_EQ(worker.ok(), c.accepted) << c.folder;
  }
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ASSERT_EQ(::stat((root.str() + "/fresh/spool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(SpoolWorker, FeedsJobsAndSetsFailedOnesAside) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const auto& started = rc.started;

  const std::string spool = root.str() + "/spool";
  auto worker = StartWorker(spool, testing::BinPath("zelvora-feeder"));
  ASSERT_TRUE(worker.ok()) << worker.status().ToString();

  // Job 1: a one-page PDF; job 2: not a PDF; job 3: its PDF has not arrived.
  zv::testing::WriteBoxPdf(spool + "/1.pdf", {{595.28, 841.89, 10, 10, 100, 100}});
  std::ofstream(spool + "/2.pdf") << "not a document";
  for (const char* id : {"1", "2", "3"}) {
    ASSERT_TRUE(fs::WriteFileAtomic(spool + "/" + id + ".job",
                                    FormatJobFile(JobFromOptions(id, "Microsoft Word - job.DOC", 1, "")), 0600)
                    .ok());
  }

  ASSERT_TRUE(RunUntilJobsOneAndTwoLeave(**worker, spool));
  // No client ran: the resident program was asked to start one for job 1.
  ASSERT_EQ(started.size(), 1u);
  ASSERT_EQ(started[0].size(), 4u);
  EXPECT_EQ(started[0][3], "job");
  EXPECT_TRUE(sfs::exists(started[0][1]));  // the capture file, kept for the client
  EXPECT_FALSE(sfs::exists(spool + "/1.pdf"));
  EXPECT_TRUE(sfs::exists(spool + "/failed/2.pdf"));
  EXPECT_TRUE(sfs::exists(spool + "/failed/2.job"));
  EXPECT_TRUE(sfs::exists(spool + "/3.job"));
  auto log = fs::ReadFile(CaptureLogPath());
  ASSERT_TRUE(log.ok());
  EXPECT_NE(log->find("print job 2 failed"), std::string::npos);
}

// A document that brings the feeder down (poppler is not proof against every damaged file)
// costs only its own job: the job moves to failed/ with a log line naming the signal, and
// the next job is fed.
TEST(SpoolWorker, AFeederEndedBySignalFailsOnlyItsJob) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const auto& started = rc.started;

  // The feeder of job 1 dies as a crash in the interpreter would; other jobs get the real one.
  const std::string script = root.str() + "/feeder.sh";
  std::ofstream(script) << "#!/bin/sh\ncase \"$2\" in */1.job) ulimit -c 0; kill -SEGV $$ ;; esac\nexec '"
                        << testing::BinPath("zelvora-feeder") << "' \"$@\"\n";
  ::chmod(script.c_str(), 0755);
  const std::string spool = root.str() + "/spool";
  auto worker = StartWorker(spool, script);
  ASSERT_TRUE(worker.ok()) << worker.status().ToString();
  for (const char* id : {"1", "2"}) {
    zv::testing::WriteBoxPdf(spool + "/" + id + ".pdf", {{595.28, 841.89, 10, 10, 100, 100}});
    ASSERT_TRUE(
        fs::WriteFileAtomic(spool + "/" + id + ".job", FormatJobFile(JobFromOptions(id, "job", 1, "")), 0600).ok());
  }
  ASSERT_TRUE(RunUntilJobsOneAndTwoLeave(**worker, spool));
  EXPECT_TRUE(sfs::exists(spool + "/failed/1.pdf"));
  EXPECT_TRUE(sfs::exists(spool + "/failed/1.job"));
  EXPECT_FALSE(sfs::exists(spool + "/2.pdf"));
  EXPECT_EQ(started.size(), 1u);  // job 2 reached the client
  auto log = fs::ReadFile(CaptureLogPath());
  ASSERT_TRUE(log.ok());
  EXPECT_NE(log->find("print job 1 failed (the feeder was ended by signal 11)"), std::string::npos) << *log;
}

// The limits bound each page, not the length of a document: a thousand pages of text arrive
// whole through the worker under the page limits every job is fed with.
TEST(SpoolWorker, AThousandPageDocumentArrivesWhole) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const std::string spool = root.str() + "/spool";
  auto worker = StartWorker(spool, testing::BinPath("zelvora-feeder"));
  ASSERT_TRUE(worker.ok()) << worker.status().ToString();
  {
    cairo_surface_t* s = cairo_pdf_surface_create((spool + "/1.pdf").c_str(), 595.28, 841.89);
    cairo_t* cr = cairo_create(s);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10);
    for (int page = 1; page <= 1000; ++page) {
      for (int line = 0; line < 20; ++line) {
        cairo_move_to(cr, 50, 60 + line * 14);
        cairo_show_text(cr, ("Page " + std::to_string(page) + ", line " + std::to_string(line)).c_str());
      }
      cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
  }
  ASSERT_TRUE(fs::WriteFileAtomic(spool + "/1.job", FormatJobFile(JobFromOptions("1", "long", 1, "")), 0600).ok());
  ASSERT_TRUE(RunUntilJobsOneAndTwoLeave(**worker, spool));
  ASSERT_EQ(rc.started.size(), 1u);
  auto doc = jobdoc::ReadDocumentImageFile(rc.started[0][1]);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  EXPECT_EQ(doc->pages.size(), 1000u);
  EXPECT_FALSE(sfs::exists(spool + "/failed"));
}

TEST(Feeder, CommandLineSendsMetafilesAndPdfsAsOneJob) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const auto& started = rc.started;

  // Two metafile pages in one file, and a one-page PDF.
  std::vector<std::uint8_t> page = emf::MetafileBuilder().Rectangle(5, 5, 50, 50).Build();
  const std::string emf_path = root.str() + "/pages.emf";
  {
    std::ofstream f(emf_path, std::ios::binary);
    for (int i = 0; i < 2; ++i)
      f.write(reinterpret_cast<const char*>(page.data()), static_cast<std::streamsize>(page.size()));
  }
  const std::string pdf_path = root.str() + "/one.pdf";
  zv::testing::WriteBoxPdf(pdf_path, {});

  Result<int> code = RunFeeder(
      {testing::BinPath("zelvora-feeder"), "--title", "Microsoft Word - cli.DOC", "--paper", "B5", emf_path, pdf_path});
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0][3], "cli");
  auto doc = jobdoc::ReadDocumentImageFile(started[0][1]);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  ASSERT_EQ(doc->pages.size(), 3u);
  EXPECT_EQ(doc->pages[2].trailer->paper_code, 13u);  // B5
}

// A PDF of text arrives as drawing: its page holds the words as the private text records the
// capture library re-records text into (the page is no picture), and the capture log counts
// the page as records.
TEST(Feeder, TextPdfArrivesAsTextRecords) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const auto& started = rc.started;

  const std::string pdf_path = root.str() + "/letter.pdf";
  {
    cairo_surface_t* s = cairo_pdf_surface_create(pdf_path.c_str(), 595.28, 841.89);
    cairo_t* cr = cairo_create(s);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 12);
    cairo_move_to(cr, 72, 100);
    cairo_show_text(cr, "Dear colleague");
    cairo_select_font_face(cr, "IPAGothic", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_move_to(cr, 72, 130);
    cairo_show_text(cr, "会議");
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(s);
    cairo_surface_destroy(s);
  }
  Result<int> code =
      RunFeeder({testing::BinPath("zelvora-feeder"), "--title", "letter", "--resolution", "300", pdf_path});
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  ASSERT_EQ(started.size(), 1u);
  auto doc = jobdoc::ReadDocumentImageFile(started[0][1]);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  ASSERT_EQ(doc->pages.size(), 1u);
  const std::vector<std::uint8_t>& mf = doc->pages[0].metafile;
  std::string text;
  bool bitmap = false;
  for (std::size_t at = 0; at + 8 <= mf.size();) {
    std::uint32_t type, size;
    std::memcpy(&type, mf.data() + at, 4);
    std::memcpy(&size, mf.data() + at + 4, 4);
    if (size < 8 || at + size > mf.size()) break;
    if (type == 81) bitmap = true;  // STRETCHDIBITS
    auto pr = jobdoc::ParsePrivateRecord(std::span<const std::uint8_t>(mf.data() + at, size));
    if (pr.ok() && pr->kind == jobdoc::PrivateRecord::Kind::kTextRun) text += pr->run.text;
    if (pr.ok() && pr->kind == jobdoc::PrivateRecord::Kind::kCharList)
      for (const auto& c : pr->chars) {
        if (c.code > 0xFF) text.push_back(static_cast<char>(c.code >> 8));
        text.push_back(static_cast<char>(c.code & 0xFF));
      }
    at += size;
  }
  EXPECT_FALSE(bitmap);
  EXPECT_NE(text.find("Dear"), std::string::npos) << text;
  EXPECT_NE(text.find("colleague"), std::string::npos) << text;
  EXPECT_NE(text.find("\x89\xEF\x8B\x63"), std::string::npos);  // 会議 in CP932
  auto log = fs::ReadFile(CaptureLogPath());
  ASSERT_TRUE(log.ok());
  EXPECT_NE(log->find("1 pages as records"), std::string::npos) << *log;
  EXPECT_NE(log->find("0 pages as pictures"), std::string::npos) << *log;
  EXPECT_NE(log->find("0 glyphs as outlines, 0 characters lost"), std::string::npos) << *log;
}

// Writes a one-page A4 PDF holding one 200 dpi picture of the whole page: a grey scan (many
// shades of grey) or a colour photo (more colours than a table holds).
void WriteScanPdf(const std::string& path, bool colour) {
  const int w = 1654, h = 2339;  // A4 at 200 dpi
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  auto* data = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(image));
  const int stride = cairo_image_surface_get_stride(image) / 4;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = 96 + static_cast<std::uint32_t>((x * 31 + y * 17 + (x ^ y)) % 150);
      data[y * stride + x] = colour ? (v << 16) | (((v + x) & 0xFF) << 8) | ((v + y) & 0xFF) : v * 0x010101;
    }
  cairo_surface_mark_dirty(image);
  cairo_surface_t* pdf = cairo_pdf_surface_create(path.c_str(), 595.28, 841.89);
  cairo_t* cr = cairo_create(pdf);
  cairo_scale(cr, 72.0 / 200, 72.0 / 200);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_paint(cr);
  cairo_show_page(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(pdf);
  cairo_surface_destroy(image);
}

// Captured pictures take the bytes their pixels need: a grey scanned A4 page at 200 dpi stays
// under 4 MB (8 bits a pixel where 24 took 11.6 MB), a black-and-white page of the raster
// queue at 600 dpi under an eighth of its 24-bit size (1 bit a pixel), a colour photo keeps
// its 24 bits. The sizes are printed for the record.
TEST(Feeder, CapturedPicturesKeepTheirOwnDepth) {
  testing::TempRoot root;
  ResidentWithClient rc;
  ASSERT_TRUE(rc.resident.ok());
  const auto& started = rc.started;
  auto capture_size = [&](std::size_t job) -> std::uintmax_t {
    if (started.size() <= job) return 0;
    return sfs::file_size(started[job][1]);
  };
  const std::string grey = root.str() + "/grey.pdf", photo = root.str() + "/photo.pdf";
  WriteScanPdf(grey, false);
  WriteScanPdf(photo, true);
  for (const std::string* pdf : {&grey, &photo}) {
    Result<int> code = RunFeeder({testing::BinPath("zelvora-feeder"), "--title", "scan", "--resolution", "200", *pdf});
    ASSERT_TRUE(code.ok());
    EXPECT_EQ(*code, 0);
  }
  const std::uintmax_t full = 1654ull * 2339 * 3;
  std::printf("grey scan: %ju bytes, colour photo: %ju bytes (24 bits a pixel: %ju)\n", capture_size(0),
              capture_size(1), full);
  EXPECT_LE(capture_size(0), 4000000u);
  EXPECT_GE(capture_size(1), full);

  // Two 600 dpi pages of the raster queue, black boxes on white: portrait, then landscape
  // (which keeps its orientation).
  const std::string spool = root.str() + "/spool";
  sfs::create_directories(spool);
  const std::string box = root.str() + "/box.pdf";
  zv::testing::WriteBoxPdf(box, {{595.28, 841.89, 72, 72, 300, 200, 0, 0, 0}, {841.89, 595.28, 72, 72, 300, 200, 0, 0, 0}});
  driver::PpdQueuePlatform ops("Zelvora-Raster", "");
  std::ofstream stream(spool + "/1.zvr", std::ios::binary);
  ASSERT_TRUE(driver::WriteRasterJob(box, ops, "Zelvora-Raster", driver::JobDevmode(ops, "Zelvora-Raster", "Resolution=600dpi"),
                                     [&](std::span<const std::uint8_t> b) {
                                       stream.write(reinterpret_cast<const char*>(b.data()),
                                                    static_cast<std::streamsize>(b.size()));
                                       return true;
                                     })
                  .ok());
  stream.close();
  ASSERT_TRUE(fs::WriteFileAtomic(spool + "/1.job", FormatJobFile(JobFromOptions("1", "bilevel", 1, "")), 0600).ok());
  Result<int> code = RunFeeder({testing::BinPath("zelvora-feeder"), "--job", spool + "/1.job"});
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  const std::uintmax_t full600 = 4961ull * 7016 * 3;
  std::printf("600 dpi black-and-white raster page: %ju bytes (24 bits a pixel: %ju)\n", capture_size(2) / 2, full600);
  ASSERT_EQ(started.size(), 3u);
  EXPECT_LE(capture_size(2), 2 * full600 / 8);
  // The same pixels: the box is black, the paper around it white.
  auto doc = jobdoc::ReadDocumentImageFile(started[2][1]);
  ASSERT_TRUE(doc.ok()) << doc.status().ToString();
  ASSERT_EQ(doc->pages.size(), 2u);
  ASSERT_TRUE(doc->pages[0].trailer && doc->pages[1].trailer);
  EXPECT_EQ(doc->pages[0].trailer->orientation, 1u);
  EXPECT_EQ(doc->pages[1].trailer->orientation, 2u);
  auto bmp = gdi::MemoryBitmap::Create(4961 / 10, 7016 / 10, 24);
  ASSERT_TRUE(bmp.ok());
  win::RECT rect{0, 0, 4961 / 10, 7016 / 10};
  ASSERT_TRUE(gdi::PlayMetafile((*bmp)->dc(), doc->pages[0].metafile, &rect).ok());
  EXPECT_EQ((*bmp)->Pixel(150, 100) & 0xFFFFFF, 0u);          // inside the box (1 to 5 inches across)
  EXPECT_EQ((*bmp)->Pixel(400, 500) & 0xFFFFFF, 0xFFFFFFu);   // below it
}

}  // namespace
}  // namespace zv::capture
