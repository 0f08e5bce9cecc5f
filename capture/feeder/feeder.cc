#include "capture/feeder/feeder.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "capture/common/log.h"
#include "capture/lumbrel/image_files.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "capture/sarquen/sarquen.h"
#include "capture/spool/placement.h"
#include "driver/kelvad/device.h"
#include "driver/kelvad/stream.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/dib_depth.h"
#include "platform/gdi/handles/handles.h"
#include "platform/gdi/recorder/recorder.h"

namespace zv::capture {
namespace {

std::string TitleCp932(const std::string& utf8) {
  auto t = codepage::Utf8ToCp932(utf8, codepage::OnError::kSubstitute);
  return t.ok() ? *t : std::string();
}

}  // namespace

void PrepareFeederProcess() {
  // Page buffers of several megabytes come and go with every page: keep them in the heap
  // instead of mapping and faulting them in afresh each time.
  mallopt(M_MMAP_THRESHOLD, 512 << 20);
  mallopt(M_TRIM_THRESHOLD, 1024 << 20);
}

namespace {

struct PageClock {
  std::atomic<long long> cpu_ns{0};
  std::atomic<long long> wall_ns{0};
  std::atomic<int> index{0};
};

PageClock& Clock() {
  static PageClock* c = new PageClock;  // read by the watchdog until the process ends
  return *c;
}

long long Nanoseconds(clockid_t id) {
  timespec t{};
  ::clock_gettime(id, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace

void NotePageStart(int index) {
  PageClock& c = Clock();
  c.cpu_ns = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID);
  c.wall_ns = Nanoseconds(CLOCK_MONOTONIC);
  c.index = index;
}

void StartPageWatchdog(int cpu_seconds, int wall_seconds, std::string job) {
  NotePageStart(0);
  std::thread([cpu_seconds, wall_seconds, job = std::move(job)] {
    PageClock& c = Clock();
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const long long cpu = Nanoseconds(CLOCK_PROCESS_CPUTIME_ID) - c.cpu_ns;
      const long long wall = Nanoseconds(CLOCK_MONOTONIC) - c.wall_ns;
      if (cpu < cpu_seconds * 1000000000LL && wall < wall_seconds * 1000000000LL) continue;
      AppendCaptureLog("feeder: print job " + job + ", page " + std::to_string(c.index + 1) + " passed its limit (" +
                       std::to_string(cpu_seconds) + " s of work, " + std::to_string(wall_seconds) +
                       " s in all); the job is ended");
      std::fprintf(stderr, "zelvora-feeder: page %d passed its limit\n", c.index + 1);
      ::_exit(kPageLimitExit);
    }
  }).detach();
}

win::DEVMODEA DevmodeForJob(const SpoolJob& job) {
  win::DEVMODEA dm{};
  std::strncpy(dm.dmDeviceName, "Zelvora Printer", sizeof dm.dmDeviceName - 1);
  dm.dmSpecVersion = 0x401;
  dm.dmSize = sizeof dm;
  dm.dmFields = 0x1 | 0x2 | 0x4 | 0x8 | 0x100 | 0x400 | 0x2000;  // orientation, paper, size, copies, quality
  const VirtualPaper paper = FindPaper(job.paper).value_or(VirtualPapers()[0]);
  dm.dmOrientation = static_cast<short>(job.orientation == 2 ? 2 : 1);
  dm.dmPaperSize = static_cast<short>(paper.code);
  dm.dmPaperWidth = static_cast<short>(paper.width);
  dm.dmPaperLength = static_cast<short>(paper.length);
  dm.dmScale = 100;
  dm.dmCopies = static_cast<short>(std::clamp(job.copies, 1, 9999));
  dm.dmPrintQuality = static_cast<short>(job.resolution);
  dm.dmYResolution = static_cast<short>(job.resolution);
  dm.dmColor = 2;
  return dm;
}

namespace {

// Takes a bitmap and the paper it lies on (0.1 mm, already turned for landscape); gives a
// metafile of one StretchDIBits of the bitmap's size on a frame of the paper's size.
Result<std::vector<std::uint8_t>> RecordDibPage(const gdi::Dib& dib, int width, int height, int paper_width,
                                                int paper_length) {
  gdi::MetafileRecorder::Options o;
  o.device = {width, height};
  o.millimeters = {std::max(1, paper_width / 10), std::max(1, paper_length / 10)};
  o.frame = win::RECTL{0, 0, paper_width * 10, paper_length * 10};
  gdi::MetafileRecorder rec(o);
  if (!rec.StretchDIBits(0, 0, width, height, 0, 0, width, height, dib.ref(), win::SRCCOPY))
    return Status::InvalidArgument("the bitmap could not be recorded");
  return rec.Close();
}

}  // namespace

Result<std::vector<std::uint8_t>> RecordBitmapPage(const RenderedPage& page, int paper_width, int paper_length,
                                                   int* bits_used) {
  const int w = page.width, h = page.height;
  if (w <= 0 || h <= 0 || page.pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
    return Status::InvalidArgument("page pixels do not match the page size");
  // The smallest depth that holds the page exactly: a page of black text stays a 1-bit bitmap,
  // a twenty-fourth of the 24-bit size.
  gdi::Dib dib = gdi::EncodeDib(w, h, page.pixels);
  int bits = 24;
  if (auto narrow = gdi::NarrowDib(dib.ref())) {
    dib = std::move(*narrow);
    bits = dib.info[14];
  }
  if (bits_used) *bits_used = bits;
  return RecordDibPage(dib, w, h, paper_width, paper_length);
}

namespace {

// Hands one page's metafile to the open session.
Status HandOverPage(ZvCaptureSession session, const std::vector<std::uint8_t>& bytes, const VirtualPaper& paper,
                    int orientation) {
  gdi::HENHMETAFILE handle = gdi::SetEnhMetaFileBits(bytes);
  if (handle == 0) return Status::InvalidArgument("the recorded page is no metafile");
  ZvOutEmfRecord record{36,          session,      handle, paper.code, static_cast<std::uint32_t>(orientation),
                        paper.width, paper.length, 0,      0};
  OutEMF(&record);
  gdi::DeleteEnhMetaFile(handle);
  return Status::Ok();
}

// Hands one raster page, its bitmap as wide and high as the laid-out paper, as a metafile
// page with the page's own paper and orientation.
Status HandOverRasterPage(ZvCaptureSession session, const gdi::Dib& dib, const driver::PaperRow& row,
                          int orientation) {
  const int w = row.width_px, h = row.height_px;
  auto bytes = RecordDibPage(dib, w, h, row.width_mm10, row.height_mm10);
  if (!bytes.ok()) return bytes.status();
  const auto portrait_w = static_cast<std::uint16_t>(std::min(row.width_mm10, row.height_mm10));
  const auto portrait_l = static_cast<std::uint16_t>(std::max(row.width_mm10, row.height_mm10));
  const VirtualPaper paper = FindPaperByCode(row.code).value_or(VirtualPaper{"", row.code, portrait_w, portrait_l});
  return HandOverPage(session, *bytes, paper, orientation);
}

// Names a page in the capture log: "print job 281, page 2" (or the file's path for a
// command-line job).
std::string PageLabel(const SpoolJob& job, const std::string& path, int index) {
  return (job.id.empty() ? path : "print job " + job.id) + ", page " + std::to_string(index + 1);
}

// Draws a PDF into an open session as drawing records, one OutEMF per page. A page that
// cannot be drawn as records within the limits (or at all) is rendered as a picture instead,
// with a line in the capture log.
Status FeedPdfPages(ZvCaptureSession session, const std::string& path, const SpoolJob& job, PdfRoad road) {
  const VirtualPaper paper = FindPaper(job.paper).value_or(VirtualPapers()[0]);
  auto picture = [&](const RenderedPage& page, int orientation) -> Status {
    const LaidPaper laid = LayPaper(paper, orientation);
    auto bytes = RecordBitmapPage(page, laid.width, laid.length);
    if (!bytes.ok()) return bytes.status();
    return HandOverPage(session, *bytes, paper, orientation);
  };
  if (road == PdfRoad::kPictures) return RenderPdf(path, paper, job.resolution, picture);
  std::size_t record_pages = 0, picture_pages = 0, records = 0, areas = 0, outlines = 0, lost = 0;
  // The document opened for pictures at its first page that needs one, then kept for the rest.
  std::unique_ptr<PdfPictures> pictures;
  Status s = pdfrecords::DrawPdf(
      path, paper, job.resolution, [&](int index, Result<pdfrecords::PageRecords> page) -> Status {
        // The next page's time starts when this one has been handed over.
        struct NextPage {
          int index;
          ~NextPage() { NotePageStart(index + 1); }
        } next{index};
        if (page.ok()) {
          if (page->stats.dropped_images > 0)
            AppendCaptureLog("feeder: " + PageLabel(job, path, index) + ": " +
                             std::to_string(page->stats.dropped_images) + " damaged images of absurd size not drawn");
          if (page->stats.lost_chars > 0) {
            AppendCaptureLog("feeder: page " + std::to_string(index + 1) + " of " + job.id + ": " +
                             std::to_string(page->stats.lost_chars) +
                             " characters lost: no installed face and no outline of the document's font draws them (" +
                             page->stats.lost_text + ")");
          }
          ++record_pages;
          records += page->stats.records;
          areas += page->stats.area_pictures;
          outlines += page->stats.outline_glyphs;
          lost += page->stats.lost_chars;
          return HandOverPage(session, page->emf, paper, page->orientation);
        }
        ++picture_pages;
        AppendCaptureLog("feeder: " + PageLabel(job, path, index) + " drawn as a picture (" +
                         page.status().ToString() + ")");
        if (!pictures) {
          auto opened = PdfPictures::Open(path);
          if (!opened.ok()) return opened.status();
          pictures = std::move(*opened);
        }
        return pictures->Render(index, paper, job.resolution, picture);
      });
  AppendCaptureLog("feeder: " + (job.id.empty() ? path : job.id) + ": " + std::to_string(record_pages) +
                   " pages as records (" + std::to_string(records) + " records, " + std::to_string(areas) +
                   " areas as pictures), " + std::to_string(picture_pages) + " pages as pictures, " +
                   std::to_string(outlines) + " glyphs as outlines, " + std::to_string(lost) + " characters lost");
  return s;
}

}  // namespace

Status FeedJob(const SpoolJob& job, const std::string& pdf_path, PdfRoad road) {
  return FeedFiles({pdf_path}, job, road);
}

Status FeedFiles(const std::vector<std::string>& files, const SpoolJob& settings, PdfRoad road) {
  const win::DEVMODEA dm = DevmodeForJob(settings);
  const std::string title = TitleCp932(settings.title);
  ZvCaptureSession session = OpenMkExe(title.c_str(), &dm);
  if (session == 0) return Status::IOError("the capture library refused the job (see log/capture.log)");
  Status result;
  for (const std::string& f : files) {
    const bool pdf = f.size() > 4 && (f.substr(f.size() - 4) == ".pdf" || f.substr(f.size() - 4) == ".PDF");
    if (pdf) {
      result = FeedPdfPages(session, f, settings, road);
    } else {
      SetEmf(session, f.c_str(), 0);
    }
    if (!result.ok()) break;
  }
  // A job that failed is handed over nowhere: it goes to failed/ whole, and the capture file
  // it began is swept once this process has ended (its lock goes with it).
  if (result.ok()) EndEMF(session);
  return result;
}

Status FeedRasterJob(const SpoolJob& job, const std::string& stream_path) {
  const int fd = ::open(stream_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::IOError("cannot open " + stream_path);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  driver::PageStreamReader reader([fd](std::span<std::uint8_t> b) -> std::optional<std::size_t> {
    for (;;) {
      ssize_t n = ::read(fd, b.data(), b.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::nullopt;
      return static_cast<std::size_t>(n);
    }
  });
  auto first = reader.NextPage();
  if (!first.ok()) return first.status();
  if (!first->has_value()) return Status::Corruption(stream_path + " holds no page");

  // The capture is opened with the paper, orientation and resolution the pages were made with.
  SpoolJob settings = job;
  const driver::PRIVDEVMODE& mode0 = (*first)->mode;
  if (auto paper = FindPaperByCode(static_cast<std::uint16_t>(mode0.dm.dmPaperSize))) settings.paper = paper->name;
  settings.orientation = mode0.dm.dmOrientation == 2 ? 2 : 1;
  settings.resolution = static_cast<std::uint16_t>(mode0.dm.dmPrintQuality);
  const win::DEVMODEA dm = DevmodeForJob(settings);
  const std::string title = TitleCp932(settings.title);
  ZvCaptureSession session = OpenMkExe(title.c_str(), &dm);
  if (session == 0) return Status::IOError("the capture library refused the job (see log/capture.log)");

  const std::string bmp = stream_path + ".page.bmp";
  Status result;
  int page_index = 0;
  std::optional<driver::PageInfo> page = std::move(*first);
  while (page) {
    auto layout = driver::ComputePageLayout(page->mode);
    if (!layout.ok()) {
      result = layout.status();
      break;
    }
    const driver::PaperRow& paper = layout->paper;
    const std::uint32_t w = paper.width_px, h = paper.height_px;
    const std::size_t stride = (std::size_t{w} * 3 + 3) & ~std::size_t{3};
    gdi::Dib dib;
    win::BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = static_cast<win::LONG>(w);
    bih.biHeight = static_cast<win::LONG>(h);  // bottom-up
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = win::BI_RGB;
    bih.biSizeImage = static_cast<win::DWORD>(stride * h);
    bih.biXPelsPerMeter = bih.biYPelsPerMeter = static_cast<win::LONG>(std::lround(paper.dpi * 10000.0 / 254.0));
    dib.info.resize(sizeof bih);
    std::memcpy(dib.info.data(), &bih, sizeof bih);
    dib.bits.assign(stride * h, 0xFF);
    std::vector<std::uint8_t> row(page->bytes_per_row);
    for (std::uint32_t y = 0; y < page->height && result.ok(); ++y) {
      result = reader.ReadRow(row);
      const std::uint32_t py = paper.top_px + y;
      // Rows beyond the paper are still read: the stream holds them, and the next page starts after them.
      if (!result.ok() || py >= h) continue;
      std::uint8_t* out = dib.bits.data() + std::size_t{h - 1 - py} * stride;
      for (std::uint32_t x = 0; x < page->width && paper.left_px + x < w; ++x) {
        std::uint8_t* px = out + std::size_t{paper.left_px + x} * 3;
        // The stream's rows are red, green, blue; a bitmap stores blue first.
        px[0] = row[3 * x + 2];
        px[1] = row[3 * x + 1];
        px[2] = row[3 * x];
      }
    }
    if (!result.ok()) break;
    // A page of at most 256 colours (grey, black and white) goes as a metafile of the smaller
    // bitmap, and so does a page turned otherwise than the job (its record carries its own
    // orientation); SetDIB takes the 24-bit rest.
    const int orientation = page->mode.dm.dmOrientation == 2 ? 2 : 1;
    std::optional<gdi::Dib> narrow = gdi::NarrowDib(dib.ref());
    if (narrow || orientation != settings.orientation) {
      result = HandOverRasterPage(session, narrow ? *narrow : dib, paper, orientation);
      if (!result.ok()) break;
    } else {
      result = lumbrel::WriteBmp(bmp, dib);
      if (!result.ok()) break;
      SetDIB(session, bmp.c_str());
      ::unlink(bmp.c_str());
    }
    auto next = reader.NextPage();
    if (!next.ok()) {
      result = next.status();
      break;
    }
    page = std::move(*next);
    NotePageStart(++page_index);
  }
  ::unlink(bmp.c_str());
  if (result.ok()) EndEMF(session);
  return result;
}

}  // namespace zv::capture
