// Helpers for the PDF writer's tests: JPEG fixtures made with libjpeg, file and process
// helpers, and the expected file layout of small documents.
#pragma once

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace zv::pdf::testing {

struct JpegParams {
  int width = 64;
  int height = 48;
  int components = 3;  // 1 grey, 3 RGB, 4 CMYK
  unsigned char fill[4] = {255, 0, 0, 0};
  bool progressive = false;
  std::string app1;  // extra APP1 payload (e.g. a fake thumbnail)
};

// Encodes a solid-colour JPEG in memory.
inline std::string MakeJpeg(const JpegParams& params) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(params.width);
  c.image_height = static_cast<JDIMENSION>(params.height);
  c.input_components = params.components;
  c.in_color_space = params.components == 1 ? JCS_GRAYSCALE : params.components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (params.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  if (!params.app1.empty()) {
    jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(params.app1.data()),
                      static_cast<unsigned>(params.app1.size()));
  }
  std::vector<unsigned char> row(static_cast<size_t>(params.width * params.components));
  for (int x = 0; x < params.width; ++x) {
    for (int k = 0; k < params.components; ++k) row[static_cast<size_t>(x * params.components + k)] = params.fill[k];
  }
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  std::free(mem);
  return out;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& p, const std::string& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << data;
}

// Runs a shell command; gives its exit status and standard output.
struct RunResult {
  int status = -1;
  std::string out;
};
inline RunResult RunCommand(const std::string& cmd) {
  RunResult r;
  FILE* p = ::popen((cmd + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

inline std::string UserName() {
  struct passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_name && pw->pw_name[0] ? pw->pw_name : "Unknown";
}

// Replaces the 14 digits of each "(D:...)" date by "YYYYMMDDhhmmss" (same length).
inline std::string MaskDates(const std::string& pdf) {
  static const std::regex date(R"(\(D:\d{14}\))");
  return std::regex_replace(pdf, date, "(D:YYYYMMDDhhmmss)");
}

// The information dictionary body the writer gives a file of this title (dates masked).
inline std::string InfoBody(const std::string& title) {
  std::string author;
  for (char c : UserName()) {
    if (c == '\\' || c == '(' || c == ')') author += '\\';
    author += c;
  }
  return "<</Title (" + title + ")\r\n/Author (" + author +
         ")\r\n/Creator (Orbelin Limited https://www.orbelin.example/)\r\n/Producer (Zelvora)\r\n"
         "/CreationDate (D:YYYYMMDDhhmmss)\r\n/ModDate (D:YYYYMMDDhhmmss)\r\n>>\r\nendobj\r\n";
}

// A whole PDF 1.2 file from the bodies of objects 1.. (text after "N 0 obj\r\n"), with the
// cross-reference table and trailer computed from them.
inline std::string Assemble(const std::vector<std::string>& bodies) {
  std::string f = "%PDF-1.2\r\n%tolvamir\r\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < bodies.size(); ++i) {
    offsets.push_back(f.size());
    f += std::to_string(i + 1) + " 0 obj\r\n" + bodies[i];
  }
  const size_t xref = f.size();
  f += "xref\r\n0 " + std::to_string(bodies.size() + 1) + "\r\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char e[32];
    std::snprintf(e, sizeof e, "%010zu 00000 n \n", o);
    f += e;
  }
  f += "trailer\r\n<</Size " + std::to_string(bodies.size() + 1) +
       "\r\n/Info 2 0 R\r\n/Root 1 0 R\r\n>>\r\nstartxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n";
  return f;
}

}  // namespace zv::pdf::testing
