// Test helper: PDF files written object by object, for documents no drawing library makes
// (hostile ones among them).
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace zv::testing {

// Takes the objects' texts (object 1 is the catalog); gives the whole file with its
// cross-reference table.
inline std::string PdfFromObjects(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::string table;
  for (std::size_t n = 0; n < objects.size(); ++n) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    table += entry;
    pdf += std::to_string(n + 1) + " 0 obj\n" + objects[n] + "\nendobj\n";
  }
  const std::size_t at = pdf.size();
  const std::string count = std::to_string(objects.size() + 1);
  return pdf + "xref\n0 " + count + "\n0000000000 65535 f \n" + table + "trailer\n<< /Size " + count +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
}

// Writes a one-page A4 PDF of a few kilobytes whose forms fan out: the page draws form 1,
// and each form draws the next `fan` times, `levels` deep, so the last form's small box is
// drawn fan^levels times (a denial of service for any renderer).
inline void WriteFanOutPdf(const std::string& path, int levels = 14, int fan = 8) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /XObject "
                                      "<< /F 5 0 R >> >> /Contents 4 0 R >>"};
  auto stream = [](const std::string& dict, const std::string& body) {
    return "<< " + dict + " /Length " + std::to_string(body.size()) + " >>\nstream\n" + body + "\nendstream";
  };
  objects.push_back(stream("", "q 500 0 0 700 40 60 cm /F Do Q"));
  for (int level = 0; level < levels; ++level) {
    std::string body;
    for (int i = 0; i < fan; ++i)
      body += "q 0.5 0 0 0.5 " + std::to_string((i % 3) * 0.25) + " " + std::to_string((i / 3) * 0.2) + " cm /N Do Q\n";
    const int next = 5 + level + 1;
    objects.push_back(stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /N " +
                                 std::to_string(next) + " 0 R >> >>",
                             body));
  }
  objects.push_back(stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1]", "0 0 0.5 0.5 re f"));
  std::ofstream(path, std::ios::binary) << PdfFromObjects(objects);
}

}  // namespace zv::testing
