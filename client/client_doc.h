// The client's document: one print job set held in a viewer document (the pages) with the
// job's own data (format record, mode, name, two texts, attachments). Opens packed job
// documents and capture files ("WXQ*.tmp", deleted after reading), appends further jobs,
// and writes itself as a packed job document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/prompt.h"
#include "jobdoc/image.h"
#include "platform/base/status.h"
#include "viewer/viewer_doc.h"

namespace zv::client {

inline constexpr char kOpenFailedText[] = "ファイルを開く際に失敗しました";
inline constexpr char kNotADocumentText[] = "'Tarvessa文書'ではないか、または扱えない形式の'Tarvessa文書'です";
inline constexpr char kNotFoundSuffix[] = " が見つかりませんでした。";

// True for a capture file: a base name beginning "WXQ" and the extension ".tmp", both
// compared without regard to case.
bool IsCaptureFileName(const std::string& path);

// Takes a file's path and a folder; true only when the file lies directly in that folder
// (after resolving "..", links and relative parts).
bool IsInCaptureFolder(const std::string& path, const std::string& capture_folder);

class COstraneDoc {
 public:
  COstraneDoc();
  ~COstraneDoc();
  COstraneDoc(const COstraneDoc&) = delete;
  COstraneDoc& operator=(const COstraneDoc&) = delete;

  // Takes a path (a document path, or a capture file), the job name a capture file takes as
  // its document name (UTF-8, kept as CP932: characters CP932 lacks become "？") and the
  // prompt for the failure messages; opens it as the document.
  // A capture file is deleted whether it could be read or not. Gives true when opened.
  bool OnOpenDocument(const std::string& path, const std::string& job_name, Prompt* prompt);
  // Appends another job (a path, possibly in double quotes) after the pages; on an empty
  // document opens it instead. Gives true when pages were added.
  bool AddTempDoc(const std::string& path, const std::string& job_name, Prompt* prompt);

  // Takes the capture folder: a capture file is deleted after reading only when it lies
  // there; one elsewhere is read and kept. Empty (the default) deletes every capture file.
  void set_capture_folder(std::string folder) { capture_folder_ = std::move(folder); }

  // Gives the page count.
  int GetAllPage() const { return viewer_->page_count(); }
  viewer::CViewerDoc& viewer() { return *viewer_; }
  const viewer::CViewerDoc& viewer() const { return *viewer_; }
  const jobdoc::PageFormatRecord& format() const { return format_; }
  uint8_t mode() const { return mode_; }
  void set_mode(uint8_t m) { mode_ = m > 2 ? 0 : m; }
  // The document name as stored (CP932 bytes) and as UTF-8 (for requests and windows).
  const std::string& name() const { return name_; }
  std::string DisplayName() const;
  void set_name(std::string n) { name_ = std::move(n); }
  const std::string& text2() const { return text2_; }
  const std::string& text3() const { return text3_; }
  const std::vector<jobdoc::Attachment>& attachments() const { return attachments_; }
  int version() const { return version_; }

  // Gives the document as the job document reader sees it: the format record, the pages
  // (bytes and attributes), name, texts and attachments.
  Result<jobdoc::DocumentImage> Snapshot() const;
  // Gives the packed job document's bytes (version 2, the image length, the packed
  // blocks), whatever the target's name will be.
  Result<std::vector<uint8_t>> EncodePacked() const;
  // Writes the packed job document to `path` (through a temporary name). Gives the failure.
  Status Save(const std::string& path) const;
  // Takes the mode and a path; writes the document there through a temporary name: mode 0
  // the packed job document (as Save), mode 1 the image unpacked with a 36-byte trailer
  // behind each page (paper code, orientation, width and length of the page), as a capture
  // file holds it. Gives the failure; InvalidArgument for another mode.
  Status WriteData(int mode, const std::string& path) const;

 private:
  // Takes an image and whether its pages carry trailers; reads names, texts, attachments
  // and appends the pages. Gives the pages appended (0 on a damaged image).
  int AddData(std::span<const uint8_t> image, bool trailers);
  // Reads a file into an image; false with the message shown when it cannot.
  bool ReadImage(const std::string& path, Prompt* prompt, std::vector<uint8_t>* image, bool* trailers, int* version);

  std::unique_ptr<viewer::CViewerDoc> viewer_;
  jobdoc::PageFormatRecord format_ = jobdoc::DefaultPageFormatRecord();
  uint8_t mode_ = 0;
  std::string name_, text2_, text3_;
  std::vector<jobdoc::Attachment> attachments_;
  int version_ = 2;
  std::string capture_folder_;
};

}  // namespace zv::client
