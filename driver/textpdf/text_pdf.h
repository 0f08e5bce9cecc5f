// The queues' text filter as a library: a plain text file (UTF-8) laid out on the job's paper
// in a Japanese-capable fixed-pitch face and written as PDF with the text as text. Pango lays
// the lines out, so a character the face lacks falls back to an installed face that has it
// (fontconfig's coverage), and Greek and Cyrillic come from a Latin face, half-width; long
// lines wrap at the last space (or other break) before the right margin, inside a word only
// where the word alone is longer than the line; tabs stop every eight
// columns, a form feed starts a new page. CUPS's text options cpi, lpi and page-left,
// page-right, page-top, page-bottom (points) are taken; copies are left to CUPS.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::driver {

// How a text job is laid out: the sheet as printed and the text's place and pitch on it.
struct TextLayout {
  double width = 595.28, height = 841.89;               // the sheet in points (turned for landscape)
  double left = 36, right = 36, top = 36, bottom = 36;  // margins in points
  double cpi = 12;                                      // half-width characters per inch
  double lpi = 6;                                       // lines per inch
  std::string family = "IPAGothic";                     // the text's face
  // The face of Greek and Cyrillic letters, which the Japanese face draws full-width: a
  // Latin and Cyrillic fixed-pitch face, set so that each letter is half-width.
  std::string western_family = "DejaVu Sans Mono";
  std::string title;                                    // the PDF's title
};

// Takes the queue's PPD text (empty: none) and the job's CUPS option text; gives the layout:
// the paper of PageSize or media (else the PPD's default PageSize, else A4) in the size the
// queue's paper table gives it, turned for orientation-requested 4/5 or landscape, and the
// text options above where their values are sensible (others keep the defaults).
TextLayout TextLayoutForJob(std::string_view ppd, std::string_view options);

// Takes the bytes of a text file; gives the text to print: valid UTF-8 with every invalid
// byte sequence as U+FFFD, CR LF and a lone CR as LF, a leading byte order mark and the
// control characters other than tab, line feed and form feed left out.
std::string PrintableText(std::string_view bytes);

using TextPdfWrite = std::function<bool(std::span<const std::uint8_t>)>;

// Takes printable text (PrintableText), the layout and the output's write; writes the PDF
// (at least one page). `pages` gets the pages written. IOError when a write fails,
// InvalidArgument for a layout without room for a line.
Status WriteTextPdf(std::string_view text, const TextLayout& layout, const TextPdfWrite& write, int* pages = nullptr);

}  // namespace zv::driver
