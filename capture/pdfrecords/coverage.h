// Which characters the installed faces can draw at all: the union of every installed face's
// character coverage, as fontconfig reports it, read once per process.
#pragma once

namespace zv::capture::pdfrecords {

// Takes a character; true when some installed face has a glyph for it.
bool InstalledFacesCover(char32_t c);

}  // namespace zv::capture::pdfrecords
