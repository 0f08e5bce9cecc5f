// The output of a PDF document: a buffered binary file written in a private folder beside
// its destination and renamed into place once it is complete, so no reader ever sees a
// half-written file and an abandoned document leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zv::pdf {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Takes the destination path; creates a private folder (mode 0700) in the destination's
  // folder and the file inside it. On failure the stream is left bad (good() is false).
  void Open(const std::string& path);

  // True while nothing has failed.
  bool good() const { return good_; }

  // Appends bytes (nothing once the stream is bad).
  void Write(const char* data, size_t n);
  void Write(std::string_view s) { Write(s.data(), s.size()); }
  // Appends a decimal integer.
  void Int(long long v);

  // Bytes written so far: the position of the next byte.
  uint64_t Tell() const { return written_ + buf_.size(); }

  // Copies the whole of an open file (from its start) to the output; gives the number of
  // bytes copied.
  uint64_t CopyFrom(int fd);

  // Writes out the buffer; false (and the stream bad) on failure.
  bool Flush();

  // Flushes, closes and renames the file onto the destination, then removes the private
  // folder. False, with nothing left at the destination's side, when anything failed.
  bool Commit();

  // Closes and removes the file and the private folder without touching the destination.
  void Discard();

 private:
  int fd_ = -1;
  bool good_ = false;
  uint64_t written_ = 0;
  std::string buf_;
  std::string dest_;
  std::string dir_;
  std::string temp_;
};

}  // namespace zv::pdf
