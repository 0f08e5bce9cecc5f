// Test fixture: a small valid PDF made in code.
#pragma once

#include <filesystem>
#include <string>

namespace zv::spool::testing {

// A PDF of `pages` empty pages of width × height points, with a correct cross-reference table.
std::string TinyPdf(int pages, int width_pt = 595, int height_pt = 842);
// Writes TinyPdf to `path`; gives the path.
std::filesystem::path WriteTinyPdf(const std::filesystem::path& path, int pages, int width_pt = 595,
                                   int height_pt = 842);

}  // namespace zv::spool::testing
