// The PDF writer's object model: every object of a document, the document's object list
// (PdfFileWriter) and the file layout written at the end.
//
// All state of a document lives in its PdfFileWriter: objects number themselves from the
// writer's counter, register in its list and are owned by it, and the font cache is the
// writer's. Two documents never share anything but the constant tables.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pdfwriter/output_file.h"

namespace zv::pdf {

class PdfFileWriter;
class PdfPage;

// Appends the "%d %d R" reference text.
std::string Reference(int number, int generation);
// Escapes a PDF literal string body: a backslash before "\", "(" and ")".
std::string EscapeLiteral(const std::string& s);

class PdfObject {
 public:
  // Takes the number and the generation; a negative generation marks an embedded object
  // (number 0, not listed). Listed objects get their number from PdfFileWriter::Make.
  PdfObject(int number, int generation) : number_(number), generation_(generation) {}
  virtual ~PdfObject() = default;
  PdfObject(const PdfObject&) = delete;
  PdfObject& operator=(const PdfObject&) = delete;

  // Writes the object: records the start offset, writes the text; false when the stream
  // was bad or the object could not be completed.
  virtual bool Write(OutputFile& out);

  int GetNumber() const { return number_; }
  int GetGeneration() const { return generation_; }
  std::string GetReference() const { return Reference(number_, generation_); }
  uint64_t GetOffset() const { return offset_; }
  bool embedded() const { return embedded_; }
  void set_embedded(bool e) { embedded_ = e; }

 protected:
  // Common start of every Write: false when the stream is bad; else records the offset
  // and writes "<number> <generation> obj\r\n".
  bool BeginWrite(OutputFile& out);

  int number_;
  int generation_;
  uint64_t offset_ = 0;
  bool embedded_ = false;
  std::string free_text_;
};

class PdfValueObject : public PdfObject {
 public:
  using PdfObject::PdfObject;
  void SetValue(long long v) { value_ = v; }
  bool Write(OutputFile& out) override;

 private:
  long long value_ = 0;
};

class PdfStream : public PdfObject {
 public:
  PdfStream(int number, int generation, PdfFileWriter* doc) : PdfObject(number, generation), doc_(doc) {}
  ~PdfStream() override;

  // Takes the stream's data (may be empty); creates the length object on first use.
  void SetData(std::string data);
  // Takes an open file descriptor (owned from now on) whose whole content is the data, and
  // the file's path; creates the length object on first use. With keep_open false the
  // descriptor is closed now and the file opened again when the stream is written (it is
  // then copied only if it is still the same file of the same size).
  void AttachFile(int fd, const std::string& path, bool keep_open);
  // Adds a filter name (without "/") and its decode parameters (may be empty).
  void AddFilter(const std::string& filter, const std::string& params);
  bool has_length() const { return length_ != nullptr; }

  bool Write(OutputFile& out) override;
  // The dictionary entries ("/Length ..." and the filters) and the data part, for owners
  // that write the stream inside their own dictionary.
  void WriteDictionaryEntries(OutputFile& out) const;
  bool WriteDataPart(OutputFile& out);

 private:
  void EnsureLength();

  PdfFileWriter* doc_;
  PdfValueObject* length_ = nullptr;
  std::string filters_;
  std::string params_;
  std::string data_;
  bool has_data_ = false;
  bool has_file_ = false;
  int fd_ = -1;
  std::string path_;
  uint64_t dev_ = 0;
  uint64_t ino_ = 0;
  int64_t size_ = 0;
};

// The drawing stream of a page: one entry per drawing call, joined at EndPage.
class PdfContentStream : public PdfStream {
 public:
  using PdfStream::PdfStream;

  void SetFont(int font, int size) {
    font_ = font;
    size_ = size;
  }
  void SetTextPos(int x, int y) {
    x_ = x;
    y_ = y;
  }
  void SetTextColor(uint32_t color) { color_ = color; }
  // 0 fills the following text (the default); 3 makes it invisible (text kept for readers
  // over a picture that draws its glyphs).
  void SetTextRenderMode(int mode) { render_ = mode == 3 ? 3 : 0; }
  // Appends one text block; false (nothing appended) when no font is selected.
  bool ContinueText(const char* text);
  // Appends one text block of UTF-16 code units in the selected Unicode font (two bytes a
  // code, each its own character), each moved by its advance (PDF units) rather than by the
  // font's width; false when no font is selected.
  bool ContinueTextW(const std::u16string& text, const std::vector<float>& advances);
  void ClipRect(int x, int y, int w, int h, int rule);
  void FillRect(int x, int y, int w, int h, int rule);
  void FillStrokeRect(int x, int y, int w, int h, int rule);
  void StrokeRect(int x, int y, int w, int h);
  void StrokeLine(int x1, int y1, int x2, int y2);
  void Save() { entries_.emplace_back("q\r\n"); }
  void Restore() { entries_.emplace_back("Q\r\n"); }
  // Joins the entries, each followed by "\r\n", into the stream data.
  void Finish();

 private:
  void Rect(int x, int y, int w, int h, int rule, const char* op0, const char* op1);
  // The start of a text object: font, place, colour and render mode.
  std::string TextObjectStart(std::size_t reserve) const;

  int font_ = -1;
  int size_ = 0;
  int x_ = 0;
  int y_ = 0;
  uint32_t color_ = 0;
  int render_ = 0;
  std::vector<std::string> entries_;
};

class PdfNamedObject : public PdfObject {
 public:
  using PdfObject::PdfObject;
  virtual void SetName(const std::string& name) { name_ = name; }
  const std::string& name() const { return name_; }

 protected:
  std::string name_;
};

class PdfImage : public PdfNamedObject {
 public:
  PdfImage(int number, int generation, PdfFileWriter* doc);
  // Sets the frame values and hands over the open JPEG file as the DCT-encoded data.
  void Setup(int width, int height, int bits, int components, int fd, const std::string& path, bool keep_open);
  int width() const { return width_; }
  int height() const { return height_; }
  int components() const { return components_; }
  bool Write(OutputFile& out) override;

 private:
  int width_ = 0;
  int height_ = 0;
  int bits_ = 0;
  int components_ = 0;
  std::string color_space_;
  std::unique_ptr<PdfStream> data_;
};

class PdfCatalog : public PdfObject {
 public:
  using PdfObject::PdfObject;
  void SetPages(const std::string& ref) { pages_ = ref; }
  bool Write(OutputFile& out) override;

 private:
  std::string pages_;
};

class PdfInfo : public PdfObject {
 public:
  PdfInfo(int number, int generation, std::string title);
  bool Write(OutputFile& out) override;

 private:
  std::string title_;
  std::string creator_;
  std::string producer_;
};

class PdfPageTree : public PdfObject {
 public:
  using PdfObject::PdfObject;
  // Appends a page; gives its number.
  int AddPage(PdfPage* page);
  int count() const { return static_cast<int>(kids_.size()); }
  const std::vector<PdfPage*>& kids() const { return kids_; }
  bool Write(OutputFile& out) override;

 private:
  std::vector<PdfPage*> kids_;
};

class PdfResources : public PdfObject {
 public:
  using PdfObject::PdfObject;
  void AddFont(int font) { fonts_.insert(font); }
  // Adds an image's XObject entry (once per image) and the procedure set.
  void AddImage(const PdfImage& image);
  bool Write(OutputFile& out) override;

 private:
  std::set<int> fonts_;
  std::set<int> images_;
  bool gray_ = false;
  bool color_ = false;
  std::string xobjects_;
};

class PdfPage : public PdfObject {
 public:
  PdfPage(int number, int generation, PdfPageTree* parent);
  // Sets the media box, with width and height clamped to 1..59500 and 1..84200.
  void SetMediaBox(int width, int height);
  // Takes 0, 90, 180 or 270: the page is shown turned clockwise by that much (/Rotate).
  void SetRotation(int degrees) { rotation_ = degrees == 90 || degrees == 180 || degrees == 270 ? degrees : 0; }
  void AddContentStream(PdfStream* s) { contents_.push_back(s); }
  PdfContentStream* drawing() const { return drawing_; }
  void set_drawing(PdfContentStream* s) { drawing_ = s; }
  PdfResources* resources() const { return resources_; }
  void set_resources(PdfResources* r) { resources_ = r; }
  bool Write(OutputFile& out) override;

 private:
  PdfContentStream* drawing_ = nullptr;
  std::vector<PdfStream*> contents_;
  PdfResources* resources_ = nullptr;
  std::string media_box_;
  int rotation_ = 0;
  int width_ = 0;
  int height_ = 0;
  PdfPageTree* parent_;
};

class PdfFontDescriptor : public PdfObject {
 public:
  PdfFontDescriptor(int number, int generation, std::string font_name, std::string text, bool italic)
      : PdfObject(number, generation), text_(std::move(text)), font_name_(std::move(font_name)), italic_(italic) {}
  bool Write(OutputFile& out) override;

 private:
  std::string text_;
  std::string font_name_;
  bool italic_;
};

class PdfFont : public PdfObject {
 public:
  PdfFont(int number, int generation, std::string subtype, std::string base_font, std::string text)
      : PdfObject(number, generation),
        subtype_(std::move(subtype)),
        base_font_(std::move(base_font)),
        text_(std::move(text)) {}
  void SetDescriptor(PdfFontDescriptor* d) { descriptor_ = d; }
  // True for the font that FindFont returned (not a descendant).
  bool selectable() const { return selectable_; }
  void set_selectable(bool s) { selectable_ = s; }
  bool Write(OutputFile& out) override;

 protected:
  std::string subtype_;
  std::string base_font_;
  std::string text_;  // widths, descendant or encoding text
  PdfFontDescriptor* descriptor_ = nullptr;
  bool selectable_ = false;
};

class PdfCidFont : public PdfFont {
 public:
  PdfCidFont(int number, int generation, std::string base_font, std::string text)
      : PdfFont(number, generation, "CIDFontType2", std::move(base_font), std::move(text)) {}
  bool Write(OutputFile& out) override;
};

class PdfType0Font : public PdfFont {
 public:
  PdfType0Font(int number, int generation, std::string base_font, std::string encoding)
      : PdfFont(number, generation, "Type0", std::move(base_font), std::move(encoding)) {}
  void AddDescendant(PdfCidFont* f) { descendants_.push_back(f); }
  bool Write(OutputFile& out) override;

 private:
  std::vector<PdfCidFont*> descendants_;
};

// The document: its object list, counter, font cache and output file.
class PdfFileWriter {
 public:
  explicit PdfFileWriter(int version);
  ~PdfFileWriter();
  PdfFileWriter(const PdfFileWriter&) = delete;
  PdfFileWriter& operator=(const PdfFileWriter&) = delete;

  // Takes the output path; opens the output (a failure only leaves it bad) and creates
  // the catalog, the information dictionary and the page tree.
  void OpenFile(const std::string& path);

  // Creates a listed object with the next number; the document owns it.
  template <typename T, typename... Args>
  T* Make(Args&&... args) {
    int number = static_cast<int>(objects_.size());
    auto obj = std::make_unique<T>(number, 0, std::forward<Args>(args)...);
    T* raw = obj.get();
    objects_.push_back(std::move(obj));
    return raw;
  }

  // The listed object with a number, or null.
  PdfObject* GetObject(int number) const;
  PdfPageTree* GetPageTree() const { return tree_; }
  int object_count() const { return static_cast<int>(objects_.size()); }

  // Creates a page with its resource dictionary and media box and appends it to the tree.
  PdfPage* NewPage(int width, int height);

  // Finds or creates the font objects of a catalogue face for a style (bold + 2 x italic);
  // null when the face is not in the catalogue.
  PdfFont* FindFontEntry(const std::string& face, int style);
  // The document's Unicode font (made at the first call): codes are UTF-16 code units, read
  // back through its ToUnicode map; no program of its own, so it serves text kept for
  // readers (invisible text over a picture that draws the glyphs).
  PdfFont* UnicodeFont();

  // Writes the whole file and moves it into place; false when nothing usable was written.
  bool Write();
  // Frees every object (after Write), so a document still shared by another writer holds
  // no memory.
  void Clear();
  // Drops the document without writing; nothing is left at the destination.
  void Abandon() { out_.Discard(); }

  // True while the document may keep one more image file open until it is written (a
  // bounded number, so large documents do not run out of descriptors); counts it.
  bool TakeFileSlot() {
    if (open_files_ >= kMaxOpenFiles) return false;
    ++open_files_;
    return true;
  }

  // Shared ownership by CQuorvel objects that were assigned from one another.
  void AddRef() { ++refs_; }
  bool Release() { return --refs_ == 0; }
  bool closed() const { return closed_; }
  void set_closed() { closed_ = true; }

 private:
  int version_;
  std::vector<std::unique_ptr<PdfObject>> objects_;  // [0] stands for the writer itself
  std::map<std::string, PdfFont*> font_cache_;
  PdfFont* unicode_font_ = nullptr;
  PdfCatalog* catalog_ = nullptr;
  PdfInfo* info_ = nullptr;
  PdfPageTree* tree_ = nullptr;
  OutputFile out_;
  static constexpr int kMaxOpenFiles = 200;
  int open_files_ = 0;
  int refs_ = 1;
  bool closed_ = false;
};

// The PDF name of a face: "System" gives "#82l#82r#82o#83S#83V#83b#83N"; otherwise blanks are
// dropped, bytes 0x00-0x7E copied and bytes 0x7F-0xFF written as "#%X".
std::string MakeBaseFontName(const std::string& face);

}  // namespace zv::pdf
