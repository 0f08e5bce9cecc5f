#include "platform/spool/tests/tiny_pdf.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace zv::spool::testing {

std::string TinyPdf(int pages, int width_pt, int height_pt) {
  std::vector<std::string> objs;
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  for (int i = 0; i < pages; ++i) {
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width_pt) + " " +
                   std::to_string(height_pt) + "] >>");
  }
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objs.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
  for (auto off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objs.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::filesystem::path WriteTinyPdf(const std::filesystem::path& path, int pages, int width_pt, int height_pt) {
  std::ofstream(path, std::ios::binary) << TinyPdf(pages, width_pt, height_pt);
  return path;
}

}  // namespace zv::spool::testing
