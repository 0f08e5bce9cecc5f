// Reads the frame header of a JPEG file (size, sample precision, component count) by
// walking its marker segments; no pixel is decoded.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/status.h"

namespace zv::pdf {

class JpegHeaderReader {
 public:
  JpegHeaderReader() = default;
  ~JpegHeaderReader();
  JpegHeaderReader(const JpegHeaderReader&) = delete;
  JpegHeaderReader& operator=(const JpegHeaderReader&) = delete;

  // Takes a path; opens the file for reading and gives true when it opened and begins
  // with the start-of-image marker 0xFF 0xD8 (both bytes consumed).
  bool Open(const std::string& path);

  // Walks the marker segments after the start-of-image marker up to the start of the first
  // scan and keeps the last frame header seen. Gives OK when the scan was reached; an error
  // when a segment is shorter than its own length field, the file ends inside a segment or
  // before the first scan, or a frame header is malformed.
  Status ReadFrameHeader();

  // Gives up the open file descriptor to the caller (who then owns it); -1 when closed.
  int ReleaseFd();

  // Closes the file (also done by the destructor).
  void Close();

  // Values of the last frame header read (0 when none was found).
  int precision() const { return precision_; }
  int height() const { return height_; }
  int width() const { return width_; }
  int components() const { return components_; }
  // Number of markers read by ReadFrameHeader.
  int markers() const { return markers_; }

 private:
  // Reads one byte; false at the end of the file or on a read error.
  bool Byte(uint8_t* b);
  // Reads n bytes; false if the file ends first.
  bool Bytes(uint8_t* dst, size_t n);
  // Moves forward n bytes; false if that passes the end of the file.
  bool Skip(uint64_t n);

  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;  // file position of buf_[0]
  uint8_t buf_[4096];
  size_t len_ = 0;  // bytes valid in buf_
  size_t off_ = 0;  // next byte in buf_
  int precision_ = 0;
  int height_ = 0;
  int width_ = 0;
  int components_ = 0;
  int markers_ = 0;
};

}  // namespace zv::pdf
