// PDF pages as drawing records: each page of a PDF is interpreted by poppler's own
// content-stream interpreter and every operation is drawn into our metafile recorder, as an
// application drawing with the platform's calls would: paths as paths, text as ExtTextOutW runs
// with the document's font names, images as StretchDIBits or AlphaBlend at their own
// resolution. What the records cannot express (transparency groups, soft masks, blend modes,
// constant alpha) becomes a picture of just that area of the page.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/spool/spool.h"
#include "platform/base/status.h"

namespace zv::capture::pdfrecords {

struct Limits {
  // A page whose records would grow beyond this many bytes is not finished as records.
  std::size_t max_bytes = 64u << 20;
  // A page whose drawing takes longer is not finished as records.
  std::chrono::milliseconds max_time{10000};
};

struct PageStats {
  std::size_t records = 0;         // records of the finished page
  std::size_t text_runs = 0;       // ExtTextOutW records
  std::size_t images = 0;          // bitmaps of the document's own images
  std::size_t area_pictures = 0;   // areas drawn as pictures (transparency, blend modes)
  std::size_t outline_glyphs = 0;  // glyphs drawn as outline paths
  // Characters no installed face draws and no outline of the document's own font draws
  // either: lost from the page. `lost_text` names the first of them, each once, with its code
  // point ("× U+00D7", or "code 0x41" for a glyph that stands for no character), separated by
  // ", "; `lost_names` counts the names.
  std::size_t lost_chars = 0;
  std::string lost_text;
  std::size_t lost_names = 0;
  std::size_t dropped_images = 0;  // images of absurd size (damaged files), not drawn
};

struct PageRecords {
  int index = 0;                  // 0-based page number
  int orientation = 1;            // 1 portrait, 2 landscape (the paper the page lies on)
  std::vector<std::uint8_t> emf;  // a whole enhanced metafile
  PageStats stats;
};

// Takes one page's outcome: its records, or why the page could not be drawn as records
// (Busy: its records exceed the byte limit; Timeout: its drawing took too long; Corruption or
// InvalidArgument: the page could not be drawn). `index` is the 0-based page number either
// way. A non-OK status given back stops the document.
using PageCallback = std::function<Status(int index, Result<PageRecords> page)>;

// Takes a PDF file, the job's paper, its resolution (dots per inch) and a callback; draws each
// page fitted into the paper (turned for landscape pages, as the picture road does) at its
// CropBox with its /Rotate and its printable annotations, in order. Gives InvalidArgument when
// the file is no readable PDF or has no pages, else the callback's first error or OK.
// `orientation` 1 or 2 puts every page on the paper turned that way; 0 takes each page's shape.
Status DrawPdf(const std::string& path, const VirtualPaper& paper, int resolution, const PageCallback& each,
               const Limits& limits = {}, int orientation = 0);

// Takes a PostScript font name as a PDF carries it; gives the face name without its subset
// prefix ("ABCDEF+") and style suffix ("-Bold", ",Italic"), and the style the suffix names.
struct FaceOfName {
  std::string face;
  bool bold = false;
  bool italic = false;
};
FaceOfName FaceFromFontName(const std::string& name);

}  // namespace zv::capture::pdfrecords
