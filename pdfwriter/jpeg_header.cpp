#include "pdfwriter/jpeg_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zv::pdf {

JpegHeaderReader::~JpegHeaderReader() { Close(); }

bool JpegHeaderReader::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  uint8_t soi[2];
  if (!Bytes(soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) {
    Close();
    return false;
  }
  return true;
}

int JpegHeaderReader::ReleaseFd() {
  int fd = fd_;
  fd_ = -1;
  Close();
  return fd;
}

void JpegHeaderReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = pos_ = 0;
  len_ = off_ = 0;
}

bool JpegHeaderReader::Byte(uint8_t* b) {
  if (off_ == len_) {
    if (fd_ < 0) return false;
    pos_ += len_;
    len_ = off_ = 0;
    ssize_t n;
    do {
      n = ::pread(fd_, buf_, sizeof buf_, static_cast<off_t>(pos_));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    len_ = static_cast<size_t>(n);
  }
  *b = buf_[off_++];
  return true;
}

bool JpegHeaderReader::Bytes(uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!Byte(&dst[i])) return false;
  }
  return true;
}

bool JpegHeaderReader::Skip(uint64_t n) {
  uint64_t here = pos_ + off_;
  if (n > size_ - here) return false;  // the segment runs past the end of the file
  uint64_t in_buf = len_ - off_;
  if (n <= in_buf) {
    off_ += static_cast<size_t>(n);
  } else {
    pos_ = here + n;
    len_ = off_ = 0;
  }
  return true;
}

Status JpegHeaderReader::ReadFrameHeader() {
  precision_ = height_ = width_ = components_ = 0;
  markers_ = 0;
  if (fd_ < 0) return Status::InvalidArgument("JPEG file is not open");
  for (;;) {
    // Next marker: skip to a 0xFF, then over fill bytes 0xFF.
    uint8_t b = 0;
    do {
      if (!Byte(&b)) return Status::Corruption("JPEG file ends before its image data");
    } while (b != 0xFF);
    do {
      if (!Byte(&b)) return Status::Corruption("JPEG file ends inside a marker");
    } while (b == 0xFF);
    const uint8_t marker = b;
    ++markers_;
    // Markers without a segment: TEM, RST0-7, SOI. A zero byte is no marker.
    if (marker == 0x00) return Status::Corruption("JPEG marker expected");
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;
    if (marker == 0xD9) return Status::Corruption("JPEG file has no image data");

    uint8_t lb[2];
    if (!Bytes(lb, 2)) return Status::Corruption("JPEG file ends inside a segment length");
    const unsigned length = (static_cast<unsigned>(lb[0]) << 8) | lb[1];
    if (length < 2) return Status::Corruption("JPEG segment length below 2");
    if (marker == 0xDA) {
      if (width_ == 0 && height_ == 0 && components_ == 0) {
        return Status::Corruption("JPEG file has no frame header before its scan");
      }
      return Status::Ok();
    }
    // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) share the frame range
    // but carry no frame header.
    const bool frame = (marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      uint8_t h[6];
      if (length < 8) return Status::Corruption("JPEG frame header too short");
      if (!Bytes(h, 6)) return Status::Corruption("JPEG file ends inside a frame header");
      precision_ = h[0];
      height_ = (h[1] << 8) | h[2];
      width_ = (h[3] << 8) | h[4];
      components_ = h[5];
      if (length < 8u + 3u * components_) return Status::Corruption("JPEG frame header too short");
      if (!Skip(length - 8)) return Status::Corruption("JPEG file ends inside a frame header");
      continue;
    }
    if (!Skip(length - 2)) return Status::Corruption("JPEG file ends inside a segment");
  }
}

}  // namespace zv::pdf
