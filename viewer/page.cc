#include "viewer/page.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/paths/paths.h"

namespace zv::viewer {

namespace {

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::size_t kNBytesOffset = 48;

std::uint32_t Le32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

Status WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::IOError(std::string("write page file: ") + std::strerror(errno));
    }
    done += std::size_t(n);
  }
  return Status::Ok();
}

}  // namespace

ViewerPage::ViewerPage(std::uint16_t attributes, std::uint16_t width, std::uint16_t length)
    : attributes_(attributes), width_(width), length_(length) {
  ComputeExtent();
  if (landscape()) std::swap(extent_x_, extent_y_);
  if (rotated()) std::swap(extent_x_, extent_y_);
}

ViewerPage::~ViewerPage() { DropData(); }

void ViewerPage::DropData() {
  if (mapping_) {
    ::munmap(mapping_, data_size_);
    mapping_ = nullptr;
  }
  if (!file_path_.empty()) {
    ::unlink(file_path_.c_str());
    file_path_.clear();
  }
  memory_.clear();
  memory_.shrink_to_fit();
  data_size_ = 0;
  use_count_ = 0;
}

void ViewerPage::ComputeExtent() {
  extent_x_ = std::int32_t(TenthMmToPageUnits(width_));
  extent_y_ = std::int32_t(TenthMmToPageUnits(length_));
}

void ViewerPage::set_attributes(std::uint16_t a, std::uint16_t w, std::uint16_t l) {
  attributes_ = a;
  width_ = w;
  length_ = l;
  ComputeExtent();
  if (landscape()) std::swap(extent_x_, extent_y_);
  if (rotated()) std::swap(extent_x_, extent_y_);
}

void ViewerPage::ApplyOrientation(std::uint32_t flags) {
  ComputeExtent();
  if (landscape()) std::swap(extent_x_, extent_y_);
  if (rotated()) std::swap(extent_x_, extent_y_);
  if ((flags & 2) && !landscape()) {
    attributes_ |= jobdoc::kAttrLandscape;
    std::swap(extent_x_, extent_y_);
  }
  if ((flags & 1) && !rotated()) {
    attributes_ |= jobdoc::kAttrRotated;
    std::swap(extent_x_, extent_y_);
  }
}

Status ViewerPage::StoreEmfPage(std::span<const std::uint8_t> mf) {
  if (mf.size() < kNBytesOffset + 4 || Le32(mf.data()) != kEmrHeader) {
    return Status::InvalidArgument("page data is not an enhanced metafile");
  }
  const std::uint32_t n = Le32(mf.data() + kNBytesOffset);
  if (n < kNBytesOffset + 4 || n > mf.size()) {
    return Status::InvalidArgument("metafile length " + std::to_string(n) + " does not fit the " +
                                   std::to_string(mf.size()) + " bytes given");
  }
  DropData();
  const auto bytes = mf.first(n);
  if (n <= kMaxInMemoryPage) {
    memory_.assign(bytes.begin(), bytes.end());
    data_size_ = n;
    return Status::Ok();
  }
  // Large pages wait in a file and are mapped only while drawn: a long document's pages would
  // otherwise all sit in memory at once.
  auto folder = paths::TempFolder();
  if (!folder.ok()) return folder.status();
  auto path = paths::CreateTempFile(*folder, "PRC", ".tmp");
  if (!path.ok()) return path.status();
  const int fd = ::open(path->c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    ::unlink(path->c_str());
    return Status::IOError("open " + *path + ": " + std::strerror(errno));
  }
  Status s = WriteAll(fd, bytes);
  ::close(fd);
  if (!s.ok()) {
    ::unlink(path->c_str());
    return s;
  }
  file_path_ = *path;
  data_size_ = n;
  return Status::Ok();
}

std::span<const std::uint8_t> ViewerPage::GetPageData() {
  if (data_size_ == 0) return {};
  if (file_path_.empty()) {
    ++use_count_;
    return {memory_.data(), memory_.size()};
  }
  if (!mapping_) {
    const int fd = ::open(file_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    void* p = ::mmap(nullptr, data_size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) return {};
    mapping_ = p;
  }
  ++use_count_;
  return {static_cast<const std::uint8_t*>(mapping_), data_size_};
}

void ViewerPage::ReleasePageData() {
  if (use_count_ == 0) return;
  // Unmapped when the last user lets go, so an idle page holds no address space.
  if (--use_count_ == 0 && mapping_) {
    ::munmap(mapping_, data_size_);
    mapping_ = nullptr;
  }
}

void ViewerPage::SetTrailer(std::span<const std::uint8_t> trailer) {
  if (trailer.size() < jobdoc::kPageTrailerSize) return;
  std::memcpy(trailer_, trailer.data(), jobdoc::kPageTrailerSize);
}

void ViewerPage::FillTrailer() {
  Put32(trailer_ + 0, jobdoc::kPageTrailerSize);
  Put32(trailer_ + 12, paper_code());
  Put32(trailer_ + 16, landscape() ? 2 : 1);
  Put32(trailer_ + 20, width_);
  Put32(trailer_ + 24, length_);
}

Result<std::unique_ptr<ViewerPage>> ViewerPage::Clone() const {
  auto copy = std::make_unique<ViewerPage>(attributes_, width_, length_);
  copy->extent_x_ = extent_x_;
  copy->extent_y_ = extent_y_;
  std::memcpy(copy->trailer_, trailer_, jobdoc::kPageTrailerSize);
  copy->rotation_ = rotation_;
  copy->blank_ = blank_;
  if (data_size_ != 0) {
    auto* self = const_cast<ViewerPage*>(this);
    auto data = self->GetPageData();
    if (data.empty()) return Status::IOError("page data cannot be read: " + file_path_);
    Status s = copy->StoreEmfPage(data);
    self->ReleasePageData();
    if (!s.ok()) return s;
  }
  return copy;
}

}  // namespace zv::viewer
