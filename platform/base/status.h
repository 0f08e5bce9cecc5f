// Small result values: a code and a message. Every operation that can fail on input or on
// the operating system returns one (or a Result<T>) instead of throwing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace zv {

// [[nodiscard]]: a caller that drops a Status has lost an error; one that means to drop it
// says so with a (void) cast and a comment.
class [[nodiscard]] Status {
 public:
  enum class Code {
    kOk = 0,
    kNotFound,
    kInvalidArgument,  // bad input from a caller, a file, a request or a message
    kCorruption,       // a stored record that fails its checks
    kIOError,          // the operating system refused
    kNotSupported,
    kBusy,  // a lock or slot is taken; try later
    kTimeout,
    kMoreData,  // the caller's buffer is too small
    kNoSpace,   // the file system, or the writer's quota on it, has no room left
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string m) { return Status(Code::kNotFound, std::move(m)); }
  static Status InvalidArgument(std::string m) { return Status(Code::kInvalidArgument, std::move(m)); }
  static Status Corruption(std::string m) { return Status(Code::kCorruption, std::move(m)); }
  static Status IOError(std::string m) { return Status(Code::kIOError, std::move(m)); }
  static Status NotSupported(std::string m) { return Status(Code::kNotSupported, std::move(m)); }
  static Status Busy(std::string m) { return Status(Code::kBusy, std::move(m)); }
  static Status Timeout(std::string m) { return Status(Code::kTimeout, std::move(m)); }
  static Status MoreData(std::string m) { return Status(Code::kMoreData, std::move(m)); }
  static Status NoSpace(std::string m) { return Status(Code::kNoSpace, std::move(m)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string ToString() const;

 private:
  Status(Code c, std::string m) : code_(c), message_(std::move(m)) {}
  Code code_ = Code::kOk;
  std::string message_;
};

inline std::string Status::ToString() const {
  static const char* const kNames[] = {
      "OK",   "Not found", "Invalid argument", "Corruption", "IO error", "Not supported",
      "Busy", "Timeout",   "More data",        "No space"};
  std::string s = kNames[static_cast<int>(code_)];
  if (!message_.empty()) s += ": " + message_;
  return s;
}

namespace internal {
// Ends the process with the error a caller failed to check. Reading the value of a failed
// Result is a programming error; going on would read an empty value.
[[noreturn]] inline void DieOnEmptyResult(const Status& status) {
  std::fprintf(stderr, "zelvora: value of a failed Result read: %s\n", status.ToString().c_str());
  std::abort();
}
}  // namespace internal

// A value or the Status that says why there is none. value(), * and -> check that a value
// is held (always: the check is one branch, and the alternative is undefined behaviour).
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Status status) : status_(std::move(status)) {
    // A Result built from an Ok status holds nothing; make that visible as an error.
    if (status_.ok()) status_ = Status::InvalidArgument("no value");
  }
  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() { return Checked(); }
  const T& value() const { return Checked(); }
  T* operator->() { return &Checked(); }
  const T* operator->() const { return &Checked(); }
  T& operator*() { return Checked(); }
  const T& operator*() const { return Checked(); }

 private:
  T& Checked() {
    if (!value_.has_value()) internal::DieOnEmptyResult(status_);
    return *value_;
  }
  const T& Checked() const {
    if (!value_.has_value()) internal::DieOnEmptyResult(status_);
    return *value_;
  }
  std::optional<T> value_;
  Status status_;
};

}  // namespace zv
