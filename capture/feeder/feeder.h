// The feeder: what the print processor does on Windows. It draws each page of a spooled PDF as
// the drawing records of a metafile page (capture/pdfrecords), as an application drawing with
// the platform's calls would, and hands the pages to the capture library's exports: OpenMkExe
// with the title and a device mode built from the job, one OutEMF per page, EndEMF. A page
// whose records would pass 64 MB, whose drawing takes over 10 s, or that cannot be drawn as
// records is rendered with poppler at the job's resolution onto a white image instead and
// recorded as one bitmap in the smallest DIB format that keeps it (1 bit for two colours, 8
// bits with a colour table for up to 256, 24 bits beyond); the capture log counts both kinds
// of page.
// From the command line it sends metafile or PDF files through the same exports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/feeder/pdf_render.h"
#include "capture/spool/spool.h"
#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::capture {

// Takes a page's pixels and the paper it lies on (0.1 mm, already turned for landscape);
// gives a metafile with one bitmap of the pixels' size on a frame of the paper's size, in the
// smallest of 1, 8 (both with a colour table) and 24 bits per pixel that keeps every pixel.
// `bits_used` gets the choice.
Result<std::vector<std::uint8_t>> RecordBitmapPage(const RenderedPage& page, int paper_width, int paper_length,
                                                   int* bits_used = nullptr);

// Sets up the process for feeding pages (keeps large page buffers in the heap); called once
// at the start of the feeder program.
void PrepareFeederProcess();

// The exit code of a feeder whose page passed its limit.
inline constexpr int kPageLimitExit = 3;

// Bounds the work of each page from outside the drawing: a thread that ends the process
// (exit code kPageLimitExit, with a line in the capture log naming `job` and the page) when
// the current page has taken more than `cpu_seconds` of the process's processor time or
// `wall_seconds` in all. Pages are counted from the call on, each by NotePageStart.
void StartPageWatchdog(int cpu_seconds, int wall_seconds, std::string job);
// Takes the index (from 0) of the page whose work begins now.
void NotePageStart(int index);

// Takes a job; gives the device mode the capture library is opened with.
win::DEVMODEA DevmodeForJob(const SpoolJob& job);

// How a PDF's pages are captured: as drawing records (pictures only for the pages that need
// them), or every page as a picture (for comparison in benchmarks).
enum class PdfRoad { kRecords, kPictures };

// Feeds a spooled job (the PDF beside its job file) through the exports. Gives the failure
// of drawing or of opening the capture (a failed job is not handed over: EndEMF is called
// only for a job fed whole); what happens to the pages afterwards is the capture library's
// (hand-over, conversion, or a line in the capture log).
Status FeedJob(const SpoolJob& job, const std::string& pdf_path, PdfRoad road = PdfRoad::kRecords);

// Feeds a job that came as a page raster stream (the raster queue's "<id>.zvr"): reads it with
// the stream's checked reader and makes each page a bitmap of the whole paper with the
// printable area at its offsets. A page of at most 256 colours (grey, black and white) goes
// to the capture library as a metafile of the 1-bit or 8-bit bitmap, as does a page turned
// otherwise than the first (its record carries its own orientation); other pages go through
// SetDIB as 24-bit bitmaps. The job's paper, orientation and resolution are those of the
// first page's device mode. Corruption for a damaged stream, IOError when the capture cannot
// be opened; a job that fails is not handed over.
Status FeedRasterJob(const SpoolJob& job, const std::string& stream_path);

// Feeds files (".pdf" rendered, anything else sent as metafile pages through SetEmf) as one
// job with the given title and settings.
Status FeedFiles(const std::vector<std::string>& files, const SpoolJob& settings, PdfRoad road = PdfRoad::kRecords);

}  // namespace zv::capture
