#include "pdfwriter/pdf_objects.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zv::pdf {

namespace {

// Versions the header can declare; the selector counts from zero.
const char* const kVersions[] = {"%PDF-1.1", "%PDF-1.2", "%PDF-1.3", "%PDF-1.4"};

// The maker's line in the information dictionary.
const char kCreator[] = "Orbelin Limited https://www.orbelin.example/";
const char kProducer[] = "Zelvora";

// Largest page in units: 100 times A4.
constexpr int kMaxPageWidth = 59500;
constexpr int kMaxPageHeight = 84200;

std::string UserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
      found->pw_name == nullptr || found->pw_name[0] == '\0') {
    return "Unknown";
  }
  return found->pw_name;
}

std::string DateText() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return buf;
}

// The file name of a path without folder and extension.
std::string TitleOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

std::string Reference(int number, int generation) {
  return std::to_string(number) + " " + std::to_string(generation) + " R";
}

std::string EscapeLiteral(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    if (c == '\\' || c == '(' || c == ')') out += '\\';
    out += c;
  }
  return out;
}

// ---- PdfObject -------------------------------------------------------------------------

bool PdfObject::BeginWrite(OutputFile& out) {
  if (!out.good()) return false;
  offset_ = out.Tell();
  out.Int(number_);
  out.Write(" ");
  out.Int(generation_);
  out.Write(" obj\r\n");
  return true;
}

bool PdfObject::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write(free_text_);
  out.Write("\r\n");
  return out.good();
}

bool PdfValueObject::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Int(value_);
  out.Write("\r\nendobj\r\n");
  return out.good();
}

// ---- PdfStream -------------------------------------------------------------------------

PdfStream::~PdfStream() {
  if (fd_ >= 0) ::close(fd_);
}

// The length is an object of its own: a copied file's size is known only once it has been
// written, after the stream's dictionary.
void PdfStream::EnsureLength() {
  if (length_ == nullptr) length_ = doc_->Make<PdfValueObject>();
}

void PdfStream::SetData(std::string data) {
  data_ = std::move(data);
  has_data_ = true;
  EnsureLength();
}

void PdfStream::AttachFile(int fd, const std::string& path, bool keep_open) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  has_file_ = true;
  path_ = path;
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    dev_ = static_cast<uint64_t>(st.st_dev);
    ino_ = static_cast<uint64_t>(st.st_ino);
    size_ = static_cast<int64_t>(st.st_size);
  }
  if (!keep_open) {
    ::close(fd_);
    fd_ = -1;
  }
  EnsureLength();
}

void PdfStream::AddFilter(const std::string& filter, const std::string& params) {
  if (!filters_.empty()) filters_ += ' ';
  filters_ += filter;
  if (!params.empty()) {
    if (!params_.empty()) params_ += ' ';
    params_ += params;
  }
}

void PdfStream::WriteDictionaryEntries(OutputFile& out) const {
  out.Write("/Length ");
  out.Write(length_ ? length_->GetReference() : std::string("0"));
  out.Write("\r\n");
  if (!filters_.empty()) {
    out.Write("/Filter[");
    out.Write(filters_);
    out.Write("]\r\n");
  }
  if (!params_.empty()) {
    out.Write("/DecodeParms[");
    out.Write(params_);
    out.Write("]\r\n");
  }
}

bool PdfStream::WriteDataPart(OutputFile& out) {
  if (has_file_ == has_data_ || length_ == nullptr) return false;
  out.Write("stream\r\n");
  if (has_data_) {
    out.Write(data_);
    length_->SetValue(static_cast<long long>(data_.size()));
  } else {
    int fd = fd_;
    if (fd < 0) {
      // The image's size and colours were read from that file; another file in its place would
      // not match the dictionary already written.
      // Opened again: copied only while it is still the file that was read.
      fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st;
      if (fd >= 0 && (::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_dev) != dev_ ||
                      static_cast<uint64_t>(st.st_ino) != ino_ || static_cast<int64_t>(st.st_size) != size_)) {
        ::close(fd);
        fd = -1;
      }
    }
    length_->SetValue(fd >= 0 ? static_cast<long long>(out.CopyFrom(fd)) : 0);
    if (fd >= 0 && fd != fd_) ::close(fd);
  }
  out.Write("\r\nendstream\r\n");
  return out.good();
}

bool PdfStream::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<<");
  WriteDictionaryEntries(out);
  out.Write(">>\r\n");
  if (!WriteDataPart(out)) return false;
  out.Write("endobj\r\n");
  return out.good();
}

// ---- PdfContentStream ------------------------------------------------------------------

namespace {

// "%5.4f" of each colour byte divided by 255, formatted once.
const std::string& ColourComponent(unsigned byte) {
  static const auto table = [] {
    std::vector<std::string> t(256);
    for (unsigned i = 0; i < 256; ++i) t[i] = Format("%5.4f", i / 255.0);
    return t;
  }();
  return table[byte & 0xFF];
}

void AppendInt(std::string& s, long long v) {
  char tmp[24];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  s.append(tmp, static_cast<size_t>(r.ptr - tmp));
}

}  // namespace

std::string PdfContentStream::TextObjectStart(std::size_t reserve) const {
  std::string e;
  e.reserve(reserve);
  e += "BT\r\n/F";
  AppendInt(e, font_);
  e += ' ';
  AppendInt(e, size_);
  e += " Tf\r\n";
  AppendInt(e, x_);
  e += ' ';
  AppendInt(e, y_);
  e += " TD\r\n";
  e += ColourComponent(color_);
  e += ' ';
  e += ColourComponent(color_ >> 8);
  e += ' ';
  e += ColourComponent(color_ >> 16);
  e += "  rg\r\n 0 Tc\r\n";
  // Invisible text sets its render mode inside its own text object and sets it back, so the
  // text after it draws as before.
  if (render_ == 3) e += "3 Tr\r\n";
  return e;
}

bool PdfContentStream::ContinueText(const char* text) {
  if (font_ < 0) return false;
  std::string e = TextObjectStart(96 + std::strlen(text));
  e += '(';
  for (const char* p = text; *p; ++p) {
    if (*p == '\\' || *p == '(' || *p == ')') e += '\\';
    e += *p;
  }
  e += ")Tj\r\n";
  if (render_ == 3) e += "0 Tr\r\n";
  e += "ET\r\n";
  entries_.push_back(std::move(e));
  return true;
}

bool PdfContentStream::ContinueTextW(const std::u16string& text, const std::vector<float>& advances) {
  if (font_ < 0 || size_ <= 0) return false;
  std::string e = TextObjectStart(96 + 24 * text.size());
  // Each code is one em wide in the font: a horizontal scaling of its own makes it as wide as
  // its advance, so readers see each character where the page puts it and as wide as it is
  // there.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const double advance = std::max(0.0, double(i < advances.size() ? advances[i] : float(size_)));
    const double scale = std::min(advance * 100.0 / size_, 10000.0);
    if (c < 0xD800 || c > 0xDFFF) {
      e += Format("%.2f Tz <%04X>Tj\r\n", scale, unsigned(c));
    } else {
      e += Format("100 Tz [%ld]TJ\r\n", std::lround(-advance * 1000.0 / size_));  // no code: only its advance
    }
  }
  e += "100 Tz\r\n";
  if (render_ == 3) e += "0 Tr\r\n";
  e += "ET\r\n";
  entries_.push_back(std::move(e));
  return true;
}

void PdfContentStream::Rect(int x, int y, int w, int h, int rule, const char* op0, const char* op1) {
  std::string e = Format("%d %d %d %d re\r\n", x, y, w, h);
  if (rule == 0) e += op0;
  if (rule == 1) e += op1;
  entries_.push_back(std::move(e));
}

void PdfContentStream::ClipRect(int x, int y, int w, int h, int rule) { Rect(x, y, w, h, rule, "W n\r\n", "W* n\r\n"); }
void PdfContentStream::FillRect(int x, int y, int w, int h, int rule) { Rect(x, y, w, h, rule, "f\r\n", "f*\r\n"); }
void PdfContentStream::FillStrokeRect(int x, int y, int w, int h, int rule) {
  Rect(x, y, w, h, rule, "B\r\n", "B*\r\n");
}
void PdfContentStream::StrokeRect(int x, int y, int w, int h) { Rect(x, y, w, h, 0, "S\r\n", ""); }

void PdfContentStream::StrokeLine(int x1, int y1, int x2, int y2) {
  entries_.push_back(Format("%d %d m\r\n%d %d l\r\nS\r\n", x1, y1, x2, y2));
}

void PdfContentStream::Finish() {
  size_t total = 0;
  for (const auto& e : entries_) total += e.size() + 2;
  std::string data;
  data.reserve(total);
  for (const auto& e : entries_) {
    data += e;
    data += "\r\n";
  }
  SetData(std::move(data));
}

// ---- PdfImage --------------------------------------------------------------------------

PdfImage::PdfImage(int number, int generation, PdfFileWriter* doc)
    : PdfNamedObject(number, generation), data_(std::make_unique<PdfStream>(0, -1, doc)) {}

void PdfImage::Setup(int width, int height, int bits, int components, int fd, const std::string& path, bool keep_open) {
  width_ = width;
  height_ = height;
  bits_ = bits;
  components_ = components;
  color_space_ = components == 1 ? "DeviceGray" : components == 4 ? "DeviceCMYK" : "DeviceRGB";
  data_->AttachFile(fd, path, keep_open);
  data_->set_embedded(true);
  data_->AddFilter("/DCTDecode", "<<>>");
  SetName("SampleImage" + std::to_string(number_));
}

bool PdfImage::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type/XObject\r\n/Subtype/Image\r\n/Width ");
  out.Int(width_);
  out.Write("\r\n/Height ");
  out.Int(height_);
  out.Write("\r\n");
  if (!color_space_.empty()) {
    out.Write("/ColorSpace/");
    out.Write(color_space_);
    out.Write("\r\n");
  }
  if (bits_ != 0) {
    out.Write("/BitsPerComponent ");
    out.Int(bits_);
    out.Write("\r\n");
  }
  if (!name_.empty()) {
    out.Write("/Name /");
    out.Write(name_);
    out.Write("\r\n");
  }
  data_->WriteDictionaryEntries(out);
  out.Write(">>\r\n");
  if (!data_->WriteDataPart(out)) return false;
  out.Write("endobj\r\n");
  return out.good();
}

// ---- document structure ----------------------------------------------------------------

bool PdfCatalog::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type/Catalog\r\n/Pages ");
  out.Write(pages_);
  out.Write("\r\n>>\r\nendobj\r\n");
  return out.good();
}

PdfInfo::PdfInfo(int number, int generation, std::string title)
    : PdfObject(number, generation), title_(std::move(title)), creator_(kCreator), producer_(kProducer) {}

bool PdfInfo::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  const std::string date = DateText();
  out.Write("<<");
  if (!title_.empty()) {
    out.Write("/Title (");
    out.Write(EscapeLiteral(title_));
    out.Write(")\r\n");
  }
  out.Write("/Author (");
  out.Write(EscapeLiteral(UserName()));
  out.Write(")\r\n/Creator (");
  out.Write(creator_);
  out.Write(")\r\n/Producer (");
  out.Write(producer_);
  out.Write(")\r\n/CreationDate (D:");
  out.Write(date);
  out.Write(")\r\n/ModDate (D:");
  out.Write(date);
  out.Write(")\r\n>>\r\nendobj\r\n");
  return out.good();
}

int PdfPageTree::AddPage(PdfPage* page) {
  kids_.push_back(page);
  return page->GetNumber();
}

bool PdfPageTree::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type/Pages\r\n/Count ");
  out.Int(count());
  out.Write("\r\n/Kids[");
  for (const PdfPage* p : kids_) {
    out.Write(p->GetReference());
    out.Write(" ");
  }
  out.Write("]\r\n>>\r\nendobj\r\n");
  return out.good();
}

void PdfResources::AddImage(const PdfImage& image) {
  if (image.components() == 1) gray_ = true;
  if (image.components() == 3 || image.components() == 4) color_ = true;
  if (!images_.insert(image.GetNumber()).second) return;
  xobjects_ += "/" + image.name() + " " + image.GetReference() + "\r\n";
}

bool PdfResources::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<<");
  if (!fonts_.empty()) {
    out.Write("/Font<<\r\n");
    for (int f : fonts_) {
      out.Write("/F");
      out.Int(f);
      out.Write("   ");
      out.Write(Reference(f, 0));
      out.Write("\r\n");
    }
    out.Write(">>\r\n");
  }
  if (gray_ || color_) {
    out.Write("/ProcSet[/PDF/");
    if (gray_ && color_) {
      out.Write("ImageB/ImageC");
    } else {
      out.Write(gray_ ? "ImageB" : "ImageC");
    }
    out.Write("  /Text ]\r\n");
  }
  out.Write("/XObject<<\r\n");
  out.Write(xobjects_);
  out.Write(">>\r\n>>\r\nendobj\r\n");
  return out.good();
}

PdfPage::PdfPage(int number, int generation, PdfPageTree* parent) : PdfObject(number, generation), parent_(parent) {}

void PdfPage::SetMediaBox(int width, int height) {
  width_ = std::clamp(width, 1, kMaxPageWidth);
  height_ = std::clamp(height, 1, kMaxPageHeight);
  media_box_ = "[0 0 " + std::to_string(width_) + " " + std::to_string(height_) + "]";
}

bool PdfPage::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type/Page\r\n/Parent ");
  out.Write(parent_->GetReference());
  out.Write("\r\n/Resources ");
  out.Write(resources_->GetReference());
  out.Write("\r\n/MediaBox");
  out.Write(media_box_);
  if (rotation_ != 0) {
    out.Write("\r\n/Rotate ");
    out.Write(std::to_string(rotation_));
  }
  out.Write("\r\n/Contents[\r\n");
  for (const PdfStream* s : contents_) {
    out.Write(s->GetReference());
    out.Write("\r\n");
  }
  out.Write("]\r\n>>\r\nendobj\r\n");
  return out.good();
}

// ---- fonts -----------------------------------------------------------------------------

bool PdfFontDescriptor::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type /FontDescriptor\r\n/FontName /");
  out.Write(font_name_);
  out.Write("\r\n");
  out.Write(text_);
  out.Write(italic_ ? "\r\n/ItalicAngle -11\r\n" : "\r\n/ItalicAngle 0\r\n");
  out.Write(">>\r\nendobj\r\n");
  return out.good();
}

bool PdfFont::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type /Font\r\n/Subtype /");
  out.Write(subtype_);
  out.Write("\r\n/BaseFont /");
  out.Write(base_font_);
  out.Write("\r\n");
  out.Write(text_);
  out.Write("\r\n");
  if (descriptor_) {
    out.Write("/FontDescriptor ");
    out.Write(descriptor_->GetReference());
    out.Write("\r\n");
  }
  out.Write(">>\r\nendobj\r\n");
  return out.good();
}

bool PdfCidFont::Write(OutputFile& out) { return PdfFont::Write(out); }

bool PdfType0Font::Write(OutputFile& out) {
  if (!BeginWrite(out)) return false;
  out.Write("<</Type /Font\r\n/Subtype /Type0\r\n/BaseFont /");
  out.Write(base_font_);
  out.Write("\r\n");
  out.Write(text_);
  out.Write("\r\n/DescendantFonts [ ");
  for (const PdfCidFont* d : descendants_) {
    out.Write(d->GetReference());
    out.Write(" ");
  }
  out.Write("]\r\n>>\r\nendobj\r\n");
  return out.good();
}

// ---- PdfFileWriter ---------------------------------------------------------------------

PdfFileWriter::PdfFileWriter(int version) : version_(version >= 1 && version <= 3 ? version : 1) {
  objects_.push_back(nullptr);  // number 0: the free entry of the cross-reference table
}

PdfFileWriter::~PdfFileWriter() = default;

void PdfFileWriter::OpenFile(const std::string& path) {
  out_.Open(path);
  catalog_ = Make<PdfCatalog>();
  info_ = Make<PdfInfo>(TitleOf(path));
  tree_ = Make<PdfPageTree>();
  catalog_->SetPages(tree_->GetReference());
}

PdfObject* PdfFileWriter::GetObject(int number) const {
  if (number <= 0 || number >= static_cast<int>(objects_.size())) return nullptr;
  return objects_[static_cast<size_t>(number)].get();
}

PdfPage* PdfFileWriter::NewPage(int width, int height) {
  // The resource dictionary takes the number after the page's.
  auto* page = Make<PdfPage>(tree_);
  page->set_resources(Make<PdfResources>());
  page->SetMediaBox(width, height);
  tree_->AddPage(page);
  return page;
}

void PdfFileWriter::Clear() {
  font_cache_.clear();
  catalog_ = nullptr;
  info_ = nullptr;
  tree_ = nullptr;
  objects_.clear();
  objects_.shrink_to_fit();
  out_.Discard();
}

bool PdfFileWriter::Write() {
  if (!out_.good()) {
    out_.Discard();
    return false;
  }
  // A document needs a page, and every drawing stream needs its data.
  if (tree_->count() == 0) NewPage(595, 842);
  for (PdfPage* page : tree_->kids()) {
    if (page->drawing() && !page->drawing()->has_length()) page->drawing()->Finish();
  }

  out_.Write(kVersions[version_]);
  out_.Write("\r\n%tolvamir\r\n");
  for (size_t i = 1; i < objects_.size(); ++i) {
    if (!objects_[i]->embedded()) objects_[i]->Write(out_);
  }
  const uint64_t xref = out_.Tell();
  const size_t count = objects_.size();
  out_.Write("xref\r\n0 ");
  out_.Int(static_cast<long long>(count));
  out_.Write("\r\n0000000000 65535 f \n");
  for (size_t i = 1; i < count; ++i) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010llu %05d n \n", static_cast<unsigned long long>(objects_[i]->GetOffset()),
                  objects_[i]->GetGeneration());
    // Readers find an object by index into the table, so every entry is exactly 20 bytes, ending
    // in a space and a line feed.
    out_.Write(entry, 20);
  }
  out_.Write("trailer\r\n<</Size ");
  out_.Int(static_cast<long long>(count));
  out_.Write("\r\n/Info ");
  out_.Write(info_->GetReference());
  out_.Write("\r\n/Root ");
  out_.Write(catalog_->GetReference());
  out_.Write("\r\n>>\r\nstartxref\r\n");
  out_.Int(static_cast<long long>(xref));
  out_.Write("\r\n%%EOF\r\n");
  return out_.Commit();
}

}  // namespace zv::pdf
