#include "pdfwriter/quorvel.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "pdfwriter/jpeg_header.h"
#include "pdfwriter/pdf_objects.h"
#include "platform/codepage/codepage.h"

namespace zv {

int intQuorvelVersion = 0;

int getVersion() { return intQuorvelVersion; }

namespace {

const char kHookMessage[] = "As your wish == Output Debug Information";
const char kOpenMessage[] = "Create Blank PDF File";
const char kImageMessage[] = "Can't open the source file\r\nnow only support JPEG";

// Truncates toward zero; NaN gives 0 and values beyond the int range its limits.
int Trunc(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0f) return INT_MAX;
  if (v <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(v);
}

// Runs an operation so that no exception (only bad_alloc can arise) leaves the library.
template <typename F, typename R>
R Guard(F&& f, R fallback) {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}
template <typename F>
void Guard(F&& f) {
  try {
    f();
  } catch (...) {
  }
}

// A readable JPEG the writer can embed: its frame values and its open file.
struct JpegFile {
  int width = 0;
  int height = 0;
  int precision = 0;
  int components = 0;
  int fd = -1;
};

// Opens and scans a JPEG; false unless it has a frame of 1, 3 or 4 components of 8 bits
// and a non-zero size before its first scan. On success the caller owns jpeg->fd.
bool ProbeJpeg(const char* path, JpegFile* jpeg) {
  if (path == nullptr) return false;
  pdf::JpegHeaderReader reader;
  if (!reader.Open(path)) return false;
  if (!reader.ReadFrameHeader().ok()) return false;
  const int c = reader.components();
  if (c != 1 && c != 3 && c != 4) return false;
  if (reader.precision() != 8 || reader.width() == 0 || reader.height() == 0) return false;
  jpeg->width = reader.width();
  jpeg->height = reader.height();
  jpeg->precision = reader.precision();
  jpeg->components = c;
  jpeg->fd = reader.ReleaseFd();
  return true;
}

// Finishes an open document: writes it, frees its objects; false when no file resulted.
bool CloseDocument(pdf::PdfFileWriter* writer) {
  bool ok = Guard([&] { return writer->Write(); }, false);
  writer->set_closed();
  writer->Clear();
  return ok;
}

}  // namespace

CQuorvel::CQuorvel() : hook_(nullptr), writer_(nullptr), page_(nullptr) {}

CQuorvel::CQuorvel(const CQuorvel& other) : hook_(other.hook_), writer_(other.writer_), page_(other.page_) {
  if (writer_) writer_->AddRef();
}

CQuorvel& CQuorvel::operator=(const CQuorvel& other) {
  if (this == &other) return *this;
  // Taken before our own is released: when both share the writer, releasing first could delete it.
  if (other.writer_) other.writer_->AddRef();
  Release();
  hook_ = other.hook_;
  writer_ = other.writer_;
  page_ = other.page_;
  return *this;
}

CQuorvel::~CQuorvel() { Release(); }

void CQuorvel::Release() {
  if (writer_ && writer_->Release()) {
    if (!writer_->closed()) writer_->Abandon();
    delete writer_;
  }
  writer_ = nullptr;
  page_ = nullptr;
}

pdf::PdfPage* CQuorvel::Page() const {
  if (writer_ == nullptr || writer_->closed()) return nullptr;
  return page_;
}

void CQuorvel::SetDebugHook(DebugHook hook) {
  hook_ = hook;
  if (hook_) hook_(kHookMessage);
}

int CQuorvel::Open(const char* path) {
  if (writer_ && !writer_->closed()) return -1;
  Release();
  if (path == nullptr) return -1;
  return Guard(
      [&] {
        auto* writer = new pdf::PdfFileWriter(1);
        writer_ = writer;
        if (hook_) hook_(kOpenMessage);
        writer->OpenFile(path);
        return 0;
      },
      -1);
}

int CQuorvel::SetParameter(const char*, const char*) { return 0; }

void CQuorvel::SetInfo(const char*, const char*) {}

void CQuorvel::BeginPage(float width, float height) {
  if (writer_ == nullptr || writer_->closed()) return;
  Guard([&] { page_ = writer_->NewPage(Trunc(width), Trunc(height)); });
}

void CQuorvel::SetPageRotation(int degrees) {
  if (pdf::PdfPage* page = Page()) page->SetRotation(degrees);
}

int CQuorvel::OpenImageFile(const char*, const char* path, const char*, int) {
  if (writer_ == nullptr || writer_->closed()) return 0;
  JpegFile jpeg;
  if (!ProbeJpeg(path, &jpeg)) {
    if (hook_) hook_(kImageMessage);
    return 0;
  }
  const int number = Guard(
      [&] {
        // The image and its length object are numbered only once the file has been read,
        // so a failed load leaves no object behind.
        auto* image = writer_->Make<pdf::PdfImage>(writer_);
        image->Setup(jpeg.width, jpeg.height, jpeg.precision, jpeg.components, jpeg.fd, path, writer_->TakeFileSlot());
        jpeg.fd = -1;
        return image->GetNumber();
      },
      0);
  if (jpeg.fd >= 0) ::close(jpeg.fd);
  return number;
}

void CQuorvel::PlaceImage(int image, float x, float y, float) {
  pdf::PdfPage* page = Page();
  if (page == nullptr) return;
  auto* img = dynamic_cast<pdf::PdfImage*>(writer_->GetObject(image));
  if (img == nullptr) return;
  Guard([&] {
    page->resources()->AddImage(*img);
    auto* stream = writer_->Make<pdf::PdfStream>(writer_);
    std::string data = "q\r\n" + std::to_string(img->width()) + " 0 0 " + std::to_string(img->height()) + " " +
                       std::to_string(Trunc(x)) + " " + std::to_string(Trunc(y)) + " cm\r\n/" + img->name() +
                       " Do\r\nQ";
    stream->SetData(std::move(data));
    page->AddContentStream(stream);
  });
}

int CQuorvel::FindFont(const char* face, bool bold, bool italic) {
  if (writer_ == nullptr || writer_->closed() || face == nullptr) return -1;
  const int style = (bold ? 1 : 0) + (italic ? 2 : 0);
  return Guard(
      [&] {
        std::string name = face;
        pdf::PdfFont* font = writer_->FindFontEntry(name, style);
        if (font == nullptr) {
          // Not a catalogue key as CP932 bytes: try the name as UTF-8.
          auto cp932 = codepage::Utf8ToCp932(name);
          if (cp932.ok() && *cp932 != name) font = writer_->FindFontEntry(*cp932, style);
        }
        return font ? font->GetNumber() : -1;
      },
      -1);
}

int CQuorvel::FindFont(const char16_t* face, bool bold, bool italic) {
  if (writer_ == nullptr || writer_->closed() || face == nullptr) return -1;
  const int style = (bold ? 1 : 0) + (italic ? 2 : 0);
  return Guard(
      [&] {
        auto utf8 = codepage::Utf16ToUtf8(face);
        if (!utf8.ok()) return -1;
        auto cp932 = codepage::Utf8ToCp932(*utf8);
        if (!cp932.ok()) return -1;
        pdf::PdfFont* font = writer_->FindFontEntry(*cp932, style);
        return font ? font->GetNumber() : -1;
      },
      -1);
}

namespace {

// The page's drawing stream, created (and added to the page's content) at its first use.
pdf::PdfContentStream* Drawing(pdf::PdfFileWriter* writer, pdf::PdfPage* page) {
  if (page->drawing() == nullptr) {
    auto* s = writer->Make<pdf::PdfContentStream>(writer);
    page->set_drawing(s);
    page->AddContentStream(s);
  }
  return page->drawing();
}

}  // namespace

void CQuorvel::SetFont(int font, float size) {
  pdf::PdfPage* page = Page();
  if (page == nullptr) return;
  auto* f = dynamic_cast<pdf::PdfFont*>(writer_->GetObject(font));
  if (f == nullptr || !f->selectable()) return;
  Guard([&] {
    Drawing(writer_, page)->SetFont(font, Trunc(size));
    page->resources()->AddFont(font);
  });
}

void CQuorvel::SetTextPos(float x, float y) {
  pdf::PdfPage* page = Page();
  if (page == nullptr) return;
  Guard([&] { Drawing(writer_, page)->SetTextPos(Trunc(x), Trunc(y)); });
}

void CQuorvel::SetTextColor(unsigned long color) {
  pdf::PdfPage* page = Page();
  if (page == nullptr) return;
  Guard([&] { Drawing(writer_, page)->SetTextColor(static_cast<uint32_t>(color & 0xFFFFFF)); });
}

void CQuorvel::SetTextRenderMode(int mode) {
  pdf::PdfPage* page = Page();
  if (page == nullptr) return;
  Guard([&] { Drawing(writer_, page)->SetTextRenderMode(mode); });
}

void CQuorvel::ContinueText(const char* text) {
  pdf::PdfPage* page = Page();
  // Text needs a selected font, and a font needs the drawing stream.
  if (page == nullptr || text == nullptr || page->drawing() == nullptr) return;
  Guard([&] { page->drawing()->ContinueText(text); });
}

int CQuorvel::FindUnicodeFont() {
  if (writer_ == nullptr || writer_->closed()) return -1;
  return Guard([&] { return writer_->UnicodeFont()->GetNumber(); }, -1);
}

void CQuorvel::ContinueTextW(const char16_t* text, int count, const float* advances) {
  pdf::PdfPage* page = Page();
  if (page == nullptr || text == nullptr || count <= 0 || advances == nullptr || page->drawing() == nullptr) return;
  Guard([&] {
    page->drawing()->ContinueTextW(std::u16string(text, std::size_t(count)),
                                   std::vector<float>(advances, advances + count));
  });
}

void CQuorvel::ClipRect(int x, int y, int width, int height, int rule) {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->ClipRect(x, y, width, height, rule); });
}

void CQuorvel::FillRect(int x, int y, int width, int height, int rule) {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->FillRect(x, y, width, height, rule); });
}

void CQuorvel::FillStrokeRect(int x, int y, int width, int height, int rule) {
  if (pdf::PdfPage* page = Page()) {
    Guard([&] { Drawing(writer_, page)->FillStrokeRect(x, y, width, height, rule); });
  }
}

void CQuorvel::StrokeRect(int x, int y, int width, int height) {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->StrokeRect(x, y, width, height); });
}

void CQuorvel::StrokeLine(int x1, int y1, int x2, int y2) {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->StrokeLine(x1, y1, x2, y2); });
}

void CQuorvel::Save() {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->Save(); });
}

void CQuorvel::Restore() {
  if (pdf::PdfPage* page = Page()) Guard([&] { Drawing(writer_, page)->Restore(); });
}

void CQuorvel::EndPage() {
  pdf::PdfPage* page = Page();
  if (page == nullptr || page->drawing() == nullptr) return;
  Guard([&] { page->drawing()->Finish(); });
}

void CQuorvel::Close() {
  if (writer_ && !writer_->closed()) CloseDocument(writer_);
  Release();
}

int CQuorvel::Test(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

bool CQuorvel::CreatePDFFromMultiJpg(char** files, int count, const char* output, bool) {
  if (Open(output) == -1) return false;
  bool all = true;
  for (int i = 0; files != nullptr && i < count; ++i) {
    // Files that are not readable JPEGs get no page.
    JpegFile probe;
    if (!ProbeJpeg(files[i], &probe)) {
      all = false;
      continue;
    }
    ::close(probe.fd);
    // A placeholder size: the page takes the picture's size once its file is read.
    BeginPage(2000, 2000);
    const int image = OpenImageFile("jpeg", files[i], "", 1);
    if (image == 0) {
      all = false;
    } else if (pdf::PdfPage* page = Page()) {
      auto* img = static_cast<pdf::PdfImage*>(writer_->GetObject(image));
      page->SetMediaBox(img->width(), img->height());
      PlaceImage(image, 0, 0, 1);
    }
    EndPage();
  }
  bool written = CloseDocument(writer_);
  Release();
  return written && all;
}

}  // namespace zv
