// A document file mapped read-only for as long as the object lives (the preview windows
// and the print entry load documents straight from the mapping).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/base/status.h"

namespace zv::viewer::view {

class MappedFile {
 public:
  // Takes a path; maps the whole regular file read-only. Gives NotFound / IOError /
  // InvalidArgument (an empty file or one that is not a regular file).
  static Result<MappedFile> Open(const std::string& path);
  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile();

  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace zv::viewer::view
