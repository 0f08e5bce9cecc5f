// jobdoc-tool: makes, packs, unpacks and describes job documents.
//
//   jobdoc-tool sample OUT.prc [PAGES]   write a sample document (packed) of PAGES pages
//   jobdoc-tool unpack IN.prc OUT.img    write the image of a packed document, with page trailers
//   jobdoc-tool pack IN.img OUT.prc      pack an image that carries page trailers
//   jobdoc-tool info FILE                describe a packed document (.prc) or an image
//
// Texts inside documents are CP932; they are shown as UTF-8.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "jobdoc/container.h"
#include "jobdoc/image.h"
#include "jobdoc/private_records.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/codepage/codepage.h"
#include "platform/gdi/emf/reader.h"
#include "platform/process/usage.h"

namespace {

namespace jd = zv::jobdoc;
using Bytes = std::vector<std::uint8_t>;

constexpr zv::process::Usage kUsage{
    "jobdoc-tool",
    "Usage: jobdoc-tool sample OUT.prc [PAGES]\n"
    "       jobdoc-tool unpack IN.prc OUT.img\n"
    "       jobdoc-tool pack IN.img OUT.prc\n"
    "       jobdoc-tool info FILE\n"
    "Makes, packs, unpacks and describes job documents.\n"
    "\n"
    "Commands:\n"
    "  sample OUT.prc [PAGES]   write a packed sample document of PAGES pages (1 to 500, default 4)\n"
    "  unpack IN.prc OUT.img    write the image of a packed document, with page trailers\n"
    "  pack IN.img OUT.prc      pack an image that carries page trailers\n"
    "  info FILE                describe a packed document (.prc) or an image\n"
    "  --help                   show this text\n"
    "Texts inside documents are CP932; they are shown as UTF-8.\n"};

int Usage() { return kUsage.Error("wrong command line"); }

int Fail(const std::string& what, const zv::Status& s) {
  std::fprintf(stderr, "jobdoc-tool: %s: %s\n", what.c_str(), s.ToString().c_str());
  return 1;
}

bool IsPacked(const std::string& path) {
  return path.size() >= 4 &&
         (path.compare(path.size() - 4, 4, ".prc") == 0 || path.compare(path.size() - 4, 4, ".PRC") == 0);
}

std::string Show(std::string_view cp932) {
  auto utf8 = zv::codepage::Cp932ToUtf8(cp932, zv::codepage::OnError::kSubstitute);
  return utf8.ok() ? *utf8 : std::string(cp932);
}

// Loads a document: a .prc file is unpacked; any other file is an image with trailers.
zv::Result<jd::DocumentImage> Load(const std::string& path, std::string* about) {
  if (IsPacked(path)) {
    jd::UnpackResult r = jd::UnpackDocumentFile(path);
    if (!r.ok()) return r.status();
    if (about) {
      *about = "packed document, version " + std::to_string(r.document->version) + ", image of " +
               std::to_string(r.document->size) + " bytes";
    }
    return jd::ReadDocumentImage(r.document->image(), r.document->has_page_trailers());
  }
  zv::Result<jd::DocumentImage> doc = jd::ReadDocumentImageFile(path);
  if (doc.ok() && about) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    *about = ec ? std::string("image with page trailers") : "image with page trailers, " + std::to_string(size) + " bytes";
  }
  return doc;
}

const char* Orientation(const jd::PageAttributes& a) {
  if (a.landscape() && a.rotated()) return "landscape, rotated";
  if (a.landscape()) return "landscape";
  if (a.rotated()) return "portrait, rotated";
  return "portrait";
}

// Counts a page's records and private text records and gives its first text run.
std::string DescribePage(const Bytes& metafile) {
  auto mf = zv::emf::Metafile::Parse(metafile);
  if (!mf.ok()) return "unreadable metafile: " + mf.status().message();
  auto reader = mf->records();
  zv::emf::Record rec;
  int records = 0, runs = 0, lists = 0;
  std::string first;
  while (reader.Next(&rec)) {
    ++records;
    auto p = jd::ParsePrivateRecord(rec.bytes);
    if (!p.ok()) continue;
    if (p->kind == jd::PrivateRecord::Kind::kTextRun) {
      if (runs++ == 0) first = Show(p->run.text);
    } else if (p->kind == jd::PrivateRecord::Kind::kCharList) {
      ++lists;
    }
  }
  std::string s = std::to_string(records) + " records, " + std::to_string(runs) + " text runs, " +
                  std::to_string(lists) + " character lists";
  if (!first.empty()) s += ", first text \"" + first + "\"";
  return s;
}

int Info(const std::string& path) {
  std::string about;
  zv::Result<jd::DocumentImage> doc = Load(path, &about);
  if (!doc.ok()) return Fail(path, doc.status());
  std::printf("%s: %s\n", path.c_str(), about.c_str());
  if (doc->name.empty()) {
    // A capture file carries no name record: the client names the job from the title the
    // resident program passes with it.
    std::printf("  name: none stored (the client names the job from its title)\n");
  } else {
    std::printf("  name: \"%s\"\n", Show(doc->name).c_str());
  }
  if (!doc->text2.empty()) std::printf("  text 2: \"%s\"\n", Show(doc->text2).c_str());
  if (!doc->text3.empty()) std::printf("  text 3: \"%s\"\n", Show(doc->text3).c_str());
  // The page-format record of a capture file is the user's default record, whose page count
  // the capture library leaves as it is; the pages themselves are what counts.
  if (doc->format.page_count == doc->pages.size()) {
    std::printf("  pages: %zu, client mode %u\n", doc->pages.size(), unsigned{doc->format.client_mode});
  } else {
    std::printf("  pages: %zu (the page-format record's own count, %u, is not updated for captured pages), "
                "client mode %u\n",
                doc->pages.size(), unsigned{doc->format.page_count}, unsigned{doc->format.client_mode});
  }
  for (std::size_t i = 0; i < doc->pages.size(); ++i) {
    const jd::DocumentPage& p = doc->pages[i];
    std::printf("  page %zu: %zu bytes, paper %u, %u x %u (0.1 mm), %s; %s\n", i + 1, p.metafile.size(),
                unsigned{p.attributes.paper_code()}, unsigned{p.attributes.width}, unsigned{p.attributes.length},
                Orientation(p.attributes), DescribePage(p.metafile).c_str());
  }
  for (const jd::Attachment& a : doc->attachments) {
    std::printf("  attachment \"%s\": %zu bytes\n", Show(a.name).c_str(), a.data.size());
  }
  return 0;
}

int Sample(const std::string& out, int pages) {
  if (pages < 1 || pages > 500) {
    std::fprintf(stderr, "jobdoc-tool: pages must be 1 to 500\n");
    return 2;
  }
  jd::DocumentImage doc = jd::sample::MakeDocument(pages, 30, true);
  // Document texts are CP932 inside the file.
  if (auto name = zv::codepage::Utf8ToCp932("四半期報告書 (sample)"); name.ok()) doc.name = *name;
  if (auto dept = zv::codepage::Utf8ToCp932("営業部"); dept.ok()) doc.text2 = *dept;
  zv::Status s = jd::WriteDocumentData(doc, jd::DocumentWriteMode::kPacked, out);
  if (!s.ok()) return Fail(out, s);
  std::printf("wrote %s: %d pages\n", out.c_str(), pages);
  return 0;
}

int Convert(const std::string& in, const std::string& out, jd::DocumentWriteMode mode) {
  zv::Result<jd::DocumentImage> doc = Load(in, nullptr);
  if (!doc.ok()) return Fail(in, doc.status());
  zv::Status s = jd::WriteDocumentData(*doc, mode, out);
  if (!s.ok()) return Fail(out, s);
  std::printf("wrote %s\n", out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, {}, kUsage)) return *done;
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "sample" && argc <= 4) return Sample(argv[2], argc == 4 ? std::atoi(argv[3]) : 4);
  if (cmd == "unpack" && argc == 4) return Convert(argv[2], argv[3], jd::DocumentWriteMode::kUnpacked);
  if (cmd == "pack" && argc == 4) return Convert(argv[2], argv[3], jd::DocumentWriteMode::kPacked);
  if (cmd == "info" && argc == 3) return Info(argv[2]);
  return Usage();
}
