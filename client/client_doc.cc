#include "client/client_doc.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "jobdoc/container.h"
#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"

namespace zv::client {
namespace fsys = std::filesystem;

namespace {
// A document image (capture file or packed document) holds up to 2^31-1 bytes; a page of the
// raster queue at 600 dpi alone is a 100 MB bitmap, far past ReadFile's default limit.
constexpr std::size_t kMaxDocumentBytes = std::size_t{3} << 30;
}  // namespace

bool IsCaptureFileName(const std::string& path) {
  fsys::path p(path);
  std::string base = p.stem().string();
  std::string ext = p.extension().string();
  return base.size() >= 3 && EqualsNoCase(base.substr(0, 3), "WXQ") && EqualsNoCase(ext, ".tmp");
}

bool IsInCaptureFolder(const std::string& path, const std::string& capture_folder) {
  if (path.empty() || capture_folder.empty()) return false;
  std::error_code ec;
  auto file = fsys::weakly_canonical(path, ec);
  if (ec) return false;
  auto folder = fsys::weakly_canonical(capture_folder, ec);
  if (ec) return false;
  return file.parent_path() == folder;
}

COstraneDoc::COstraneDoc() : viewer_(std::make_unique<viewer::CViewerDoc>()) {}
COstraneDoc::~COstraneDoc() = default;

bool COstraneDoc::ReadImage(const std::string& path, Prompt* prompt, std::vector<uint8_t>* image, bool* trailers,
                               int* version) {
  if (IsCaptureFileName(path)) {
    auto bytes = fs::ReadFile(path, kMaxDocumentBytes);
    // A capture file is read once, whatever came of it; files the capture side did not
    // write are kept.
    if (capture_folder_.empty() || IsInCaptureFolder(path, capture_folder_)) ::unlink(path.c_str());
    if (!bytes.ok()) return false;
    image->assign(bytes->begin(), bytes->end());
    *trailers = true;
    *version = 2;
    return true;
  }
  auto bytes = fs::ReadFile(path, kMaxDocumentBytes);
  jobdoc::UnpackResult r;
  if (bytes.ok()) {
    auto state = jobdoc::NewCodecState();
    r = jobdoc::UnpackDocumentBytes(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()), *state);
  }
  if (!bytes.ok() || !r.ok()) {
    std::error_code ec;
    if (prompt) {
      if (fsys::exists(path, ec)) {
        prompt->Show(kNotADocumentText, "Ostrane", PromptIcon::kExclamation);
      } else {
        prompt->Show(path + kNotFoundSuffix, "Ostrane", PromptIcon::kExclamation);
      }
    }
    return false;
  }
  auto img = r.document->image();
  image->assign(img.begin(), img.end());
  *trailers = r.document->has_page_trailers();
  *version = r.document->version == 3 ? 3 : r.document->version;
  return true;
}

int COstraneDoc::AddData(std::span<const uint8_t> image, bool trailers) {
  if (version_ == 1) return 0;  // pages of the older form cannot be converted
  jobdoc::ImageWalker walker(image, trailers);
  int added = 0;
  for (;;) {
    auto item = walker.Next();
    if (!item.ok()) break;
    using Kind = jobdoc::ImageItem::Kind;
    if (item->kind == Kind::kEnd) break;
    switch (item->kind) {
      case Kind::kPage: {
        const auto& a = item->attributes;
        uint32_t flags = (a.landscape() ? 2u : 0u) | (a.rotated() ? 1u : 0u);
        if (viewer_->AppendData(0x8000, a.word, a.width, a.length, item->bytes, flags, 0) != 1) return added;
        ++added;
        break;
      }
      case Kind::kText:
        if (item->type == 1) name_ = std::string(item->text);
        if (item->type == 2) text2_ = std::string(item->text);
        if (item->type == 3) text3_ = std::string(item->text);
        break;
      case Kind::kAttachment:
        attachments_.push_back(
            {item->time, std::string(item->text), std::vector<uint8_t>(item->bytes.begin(), item->bytes.end())});
        break;
      default:
        break;
    }
  }
  return added;
}

bool COstraneDoc::OnOpenDocument(const std::string& path, const std::string& job_name, Prompt* prompt) {
  std::vector<uint8_t> image;
  bool trailers = false;
  int version = 2;
  if (!ReadImage(path, prompt, &image, &trailers, &version)) return false;
  auto fail = [&] {
    if (prompt) prompt->Show(kOpenFailedText, "Ostrane", PromptIcon::kExclamation);
    return false;
  };
  jobdoc::PageFormatRecord rec{};
  std::vector<uint8_t> older;
  if (!jobdoc::JustfyShoshiki(image, rec, &older)) return fail();
  rec.client_mode = jobdoc::ClientMode(rec);
  rec.flags &= static_cast<uint8_t>(~0x08);
  rec.chain_offset = 0;
  // The record alone starts the viewer document (without its viewing password for the
  // load); the pages follow one by one.
  jobdoc::PageFormatRecord load = rec;
  load.flags &= static_cast<uint8_t>(~jobdoc::kFormatViewPassword);
  std::vector<uint8_t> record(sizeof load);
  std::memcpy(record.data(), &load, sizeof load);
  if (viewer_->LoadFromBuffer(record, std::max<uint16_t>(1, rec.page_count)) != 1) return fail();
  format_ = rec;
  mode_ = rec.client_mode;
  version_ = version;
  name_.clear();
  text2_.clear();
  text3_.clear();
  attachments_.clear();
  if (AddData(image, trailers) == 0) return fail();
  if (IsCaptureFileName(path)) {
    // The capture road names its job in UTF-8; the document keeps its name in CP932.
    name_ = codepage::Utf8ToCp932Marking(job_name);
    text2_.clear();
    text3_.clear();
  }
  // The viewer document's name goes to the print road (the spooler's job name, the duplicate
  // check against the job list): UTF-8, as every name inside the program.
  viewer_->SetDocName(DisplayName());
  return true;
}

bool COstraneDoc::AddTempDoc(const std::string& quoted, const std::string& job_name, Prompt* prompt) {
  std::string path = quoted;
  if (!path.empty() && path[0] == '"') {
    size_t end = path.find('"', 1);
    path = path.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  if (GetAllPage() == 0) return OnOpenDocument(path, job_name, prompt);
  std::vector<uint8_t> image;
  bool trailers = false;
  int version = 2;
  if (!ReadImage(path, prompt, &image, &trailers, &version)) return false;
  if (version == 1) return false;
  return AddData(image, trailers) > 0;
}

std::string COstraneDoc::DisplayName() const {
  auto utf8 = codepage::Cp932ToUtf8(name_, codepage::OnError::kSubstitute);
  return utf8.ok() ? *utf8 : std::string();
}

Result<jobdoc::DocumentImage> COstraneDoc::Snapshot() const {
  jobdoc::DocumentImage d;
  d.format = format_;
  d.format.client_mode = mode_;
  d.name = name_;
  d.text2 = text2_;
  d.text3 = text3_;
  d.attachments = attachments_;
  auto& v = const_cast<viewer::CViewerDoc&>(*viewer_);
  for (int i = 0; i < v.page_count(); ++i) {
    viewer::ViewerPage* p = v.page(i);
    if (!p) return Status::Corruption("page " + std::to_string(i) + " is missing");
    auto data = p->GetPageData();
    jobdoc::DocumentPage page;
    page.metafile.assign(data.begin(), data.end());
    p->ReleasePageData();
    if (page.metafile.empty()) return Status::IOError("page " + std::to_string(i) + " has no data");
    page.attributes = {p->attributes(), p->width(), p->length()};
    d.pages.push_back(std::move(page));
  }
  return d;
}

Result<std::vector<uint8_t>> COstraneDoc::EncodePacked() const {
  auto d = Snapshot();
  if (!d.ok()) return d.status();
  return jobdoc::EncodeDocumentData(*d, jobdoc::DocumentWriteMode::kPacked);
}

Status COstraneDoc::Save(const std::string& path) const { return WriteData(0, path); }

Status COstraneDoc::WriteData(int mode, const std::string& path) const {
  if (mode != 0 && mode != 1) return Status::InvalidArgument("no write mode " + std::to_string(mode));
  auto d = Snapshot();
  if (!d.ok()) return d.status();
  return jobdoc::WriteDocumentData(
      *d, mode == 0 ? jobdoc::DocumentWriteMode::kPacked : jobdoc::DocumentWriteMode::kUnpacked, path);
}

}  // namespace zv::client
