// libquorvel: writes PDF 1.2 files with pages, JPEG images, text in the built-in fonts,
// rectangles, lines and clipping. The whole interface is the class CQuorvel.
//
// Units are PDF units (1/72 inch), origin at the lower-left corner, y upwards; floating-point
// arguments are truncated toward zero. Calling order: Open; per page BeginPage, drawing
// calls, EndPage; Close. Nothing is written before Close, which writes the file under a
// temporary name in a private folder beside it and renames it into place.
//
// Each CQuorvel holds its own document: several objects may write several files at once
// (one thread per object). An object destroyed while a document is open drops it, leaving
// no file behind.
#pragma once

#define ZV_QUORVEL_API __attribute__((visibility("default")))

namespace zv {

namespace pdf {
class PdfFileWriter;
class PdfPage;
}  // namespace pdf

// The version number of the library (0).
extern ZV_QUORVEL_API int intQuorvelVersion;

// Takes nothing; gives intQuorvelVersion.
ZV_QUORVEL_API int getVersion();

class ZV_QUORVEL_API CQuorvel {
 public:
  // Receives the library's debug messages.
  using DebugHook = void (*)(const char* message);

  // Takes nothing; gives a closed writer without a debug hook.
  CQuorvel();
  // Takes another writer; both then refer to the same open document (shared: whichever
  // calls Close writes it, the other is then closed too).
  CQuorvel(const CQuorvel& other);
  // Takes another writer and copies it as the copy constructor does; gives *this.
  CQuorvel& operator=(const CQuorvel& other);
  // Drops an open document that no other writer shares, without writing it.
  ~CQuorvel();

  // Takes a hook or null; stores it and, if not null, calls it with
  // "As your wish == Output Debug Information".
  void SetDebugHook(DebugHook hook);

  // Takes the output path; starts a new document (catalog, information dictionary with the
  // file's base name as title, page tree). Gives 0, or -1 when no document could be set up
  // (null path, or a document is already open). A file that cannot be created does not
  // fail here: Close then writes nothing.
  int Open(const char* path);

  // Takes a name and a value; recognises none. Gives 0.
  int SetParameter(const char* name, const char* value);

  // Takes a key and a value; changes nothing (the title comes from the file name).
  void SetInfo(const char* key, const char* value);

  // Takes the page size; starts a page with the media box [0 0 width height], width clamped
  // to 1..59500 and height to 1..84200, and makes it the current page.
  void BeginPage(float width, float height);

  // Takes a kind, the path of a JPEG file, extra text and a flag (only the path is used);
  // gives the image's object number, or 0 (after the debug message "Can't open the source
  // file\r\nnow only support JPEG") when the file cannot be read as a JPEG with 1, 3 or 4
  // components of 8 bits. The file is copied into the PDF at Close and must stay in place
  // until then.
  int OpenImageFile(const char* kind, const char* path, const char* extra, int flag);

  // Takes 0, 90, 180 or 270 (other values count as 0); the current page is shown turned
  // clockwise by that much, as a page drawn in the frame of its turned text.
  void SetPageRotation(int degrees);

  // Takes an image number from OpenImageFile, the lower-left corner and a scale (not used);
  // draws the image on the current page at one unit per pixel. Unknown numbers are ignored.
  void PlaceImage(int image, float x, float y, float scale);

  // Takes a Windows face name (CP932 bytes; UTF-8 is accepted too) and the bold and italic
  // flags; gives the number of the font object, created at the first call for the style,
  // or -1 when the face is not in the built-in catalogue.
  int FindFont(const char* face, bool bold, bool italic);
  // The same with a UTF-16 face name.
  int FindFont(const char16_t* face, bool bold, bool italic);

  // Takes nothing; gives the number of the document's Unicode font (made at the first call):
  // its text is UTF-16, it draws from no program of its own, and readers of the PDF read its
  // characters back (for invisible text over a picture that draws the glyphs), or -1.
  int FindUnicodeFont();

  // Takes a font number from FindFont and a size; selects it for the following text of the
  // current page. Numbers that are not fonts of this document are ignored.
  void SetFont(int font, float size);

  // Takes the origin of the next text.
  void SetTextPos(float x, float y);

  // Takes a Windows COLORREF (0x00BBGGRR) for the next text.
  void SetTextColor(unsigned long color);

  // Takes a text render mode: 3 makes the following text invisible (kept for readers and
  // searches, drawn by nothing), anything else draws it filled as before.
  void SetTextRenderMode(int mode);

  // Takes text in the font's encoding (Windows ANSI or Shift_JIS) and draws it; refused
  // (nothing drawn) before a font was selected on the page.
  void ContinueText(const char* text);
  // Takes UTF-16 text of `count` code units and one advance (PDF units) per code unit, for
  // the Unicode font: each character is placed where the one before it plus its advance
  // puts it. Refused before a font was selected on the page.
  void ContinueTextW(const char16_t* text, int count, const float* advances);

  // Take a rectangle and a rule (0 nonzero winding, 1 even-odd, other: path only):
  // intersect the clipping path with it, fill it, or fill and stroke it.
  void ClipRect(int x, int y, int width, int height, int rule);
  void FillRect(int x, int y, int width, int height, int rule);
  void FillStrokeRect(int x, int y, int width, int height, int rule);

  // Takes a rectangle; strokes it.
  void StrokeRect(int x, int y, int width, int height);

  // Takes two end points; strokes the line between them.
  void StrokeLine(int x1, int y1, int x2, int y2);

  // Push / pop the graphics state.
  void Save();
  void Restore();

  // Takes nothing; fixes the current page's drawing as its content stream.
  void EndPage();

  // Takes nothing; writes the whole document (one blank A4 page if it has none), moves the
  // file into place and leaves the writer closed, ready for another Open.
  void Close();

  // Takes a text; gives its length in bytes (0 for null).
  int Test(const char* text);

  // Takes JPEG paths, their count, the output path and a flag (not used); writes a PDF with
  // one page per JPEG, each page the size of its image. Files that are not readable JPEGs
  // get no page. Gives false when the document could not be opened or a file was skipped.
  bool CreatePDFFromMultiJpg(char** files, int count, const char* output, bool flag);

 private:
  void Release();
  pdf::PdfPage* Page() const;

  DebugHook hook_;
  pdf::PdfFileWriter* writer_;
  pdf::PdfPage* page_;
};

}  // namespace zv
