#include "platform/winmsg/wire.h"

#include <cstring>

#include "platform/wintypes/copydata.h"

namespace zv::winmsg::wire {
namespace {

constexpr std::uint32_t kFrameMagic = 0x4D57565Au;   // "ZVWM"
constexpr std::uint32_t kRecordMagic = 0x5257565Au;  // "ZVWR"
constexpr std::uint16_t kVersion = 1;

template <typename T>
void Put(std::vector<std::uint8_t>& out, T v) {
  std::uint8_t b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  out.insert(out.end(), b, b + sizeof(T));
}

template <typename T>
void PutS(std::string& out, T v) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  out.append(b, sizeof(T));
}

// Reads fixed-size values and counted strings from a byte span; every read checks the
// remaining length first and a failed read leaves the reader failed.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  template <typename T>
  bool Get(T& v) {
    if (!ok_ || b_.size() - pos_ < sizeof(T)) return ok_ = false;
    std::memcpy(&v, b_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }
  bool GetString(std::string& s, std::size_t max) {
    std::uint32_t n = 0;
    if (!Get(n)) return false;
    if (n > max || b_.size() - pos_ < n) return ok_ = false;
    s.assign(reinterpret_cast<const char*>(b_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool at_end() const { return ok_ && pos_ == b_.size(); }
  bool ok() const { return ok_; }

 private:
  std::span<const std::uint8_t> b_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

Result<std::vector<std::uint8_t>> EncodeFrame(const Frame& f, std::size_t max_copy) {
  std::vector<std::uint8_t> out;
  std::uint32_t body = 0;
  if (f.type == FrameType::kReply) {
    body = kReplyBodySize;
  } else {
    if (f.has_copydata && f.copy_bytes.size() > max_copy) {
      return Status::InvalidArgument("WM_COPYDATA carries " + std::to_string(f.copy_bytes.size()) +
                                     " bytes, more than the " + std::to_string(max_copy) + " allowed");
    }
    body = static_cast<std::uint32_t>(kMessageBodySize + (f.has_copydata ? 12 + f.copy_bytes.size() : 0));
  }
  out.reserve(kFrameHeaderSize + body);
  Put(out, kFrameMagic);
  Put(out, kVersion);
  Put(out, static_cast<std::uint16_t>(f.type));
  Put(out, body);
  if (f.type == FrameType::kReply) {
    Put(out, static_cast<std::uint32_t>(f.code));
    Put(out, f.result);
    return out;
  }
  Put(out, f.hwnd);
  Put(out, f.message);
  Put(out, f.wparam);
  Put(out, f.lparam);
  Put(out, f.has_copydata ? kFlagCopyData : 0u);
  if (f.has_copydata) {
    win::COPYDATASTRUCT32 cds{f.copy_number, static_cast<std::uint32_t>(f.copy_bytes.size()),
                              static_cast<std::uint32_t>(kCopyDataOffset)};
    Put(out, cds);
    out.insert(out.end(), f.copy_bytes.begin(), f.copy_bytes.end());
  }
  return out;
}

Result<std::size_t> FrameLength(std::span<const std::uint8_t> header, std::size_t max_copy) {
  Reader r(header);
  std::uint32_t magic = 0, body = 0;
  std::uint16_t version = 0, type = 0;
  if (!r.Get(magic) || !r.Get(version) || !r.Get(type) || !r.Get(body)) {
    return Status::InvalidArgument("message frame header is short");
  }
  if (magic != kFrameMagic) return Status::InvalidArgument("message frame has a wrong magic");
  if (version != kVersion) return Status::InvalidArgument("message frame has an unknown version");
  switch (static_cast<FrameType>(type)) {
    case FrameType::kReply:
      if (body != kReplyBodySize) return Status::InvalidArgument("reply frame has a wrong length");
      break;
    case FrameType::kSend:
    case FrameType::kPost:
      if (body < kMessageBodySize || body > MaxBodySize(max_copy)) {
        return Status::InvalidArgument("message frame body of " + std::to_string(body) + " bytes is out of range");
      }
      break;
    default:
      return Status::InvalidArgument("message frame has an unknown type");
  }
  return kFrameHeaderSize + static_cast<std::size_t>(body);
}

Result<Frame> DecodeFrame(std::span<const std::uint8_t> bytes, std::size_t max_copy) {
  Result<std::size_t> length = FrameLength(bytes, max_copy);
  if (!length.ok()) return length.status();
  if (*length != bytes.size()) return Status::InvalidArgument("message frame length mismatch");
  Frame f;
  std::uint16_t type = 0;
  std::memcpy(&type, bytes.data() + 6, 2);
  f.type = static_cast<FrameType>(type);
  Reader r(bytes.subspan(kFrameHeaderSize));
  if (f.type == FrameType::kReply) {
    std::uint32_t code = 0;
    r.Get(code);
    r.Get(f.result);
    if (!r.at_end() || code > static_cast<std::uint32_t>(ReplyCode::kFailed)) {
      return Status::InvalidArgument("reply frame is malformed");
    }
    f.code = static_cast<ReplyCode>(code);
    return f;
  }
  std::uint32_t flags = 0;
  r.Get(f.hwnd);
  r.Get(f.message);
  r.Get(f.wparam);
  r.Get(f.lparam);
  r.Get(flags);
  if (!r.ok() || (flags & ~kFlagCopyData) != 0) {
    return Status::InvalidArgument("message frame has unknown flags");
  }
  if (flags & kFlagCopyData) {
    win::COPYDATASTRUCT32 cds{};
    if (!r.Get(cds)) return Status::InvalidArgument("WM_COPYDATA frame lacks its descriptor");
    if (cds.lpData != kCopyDataOffset || cds.cbData > max_copy ||
        bytes.size() - kFrameHeaderSize - kCopyDataOffset != cds.cbData) {
      return Status::InvalidArgument("WM_COPYDATA descriptor does not match its bytes");
    }
    f.has_copydata = true;
    f.copy_number = cds.dwData;
    const std::uint8_t* p = bytes.data() + kFrameHeaderSize + kCopyDataOffset;
    f.copy_bytes.assign(p, p + cds.cbData);
    return f;
  }
  if (!r.at_end()) return Status::InvalidArgument("message frame has trailing bytes");
  return f;
}

std::string EncodeRecord(const WindowRecord& w) {
  std::string out;
  PutS(out, kRecordMagic);
  PutS(out, kVersion);
  PutS(out, static_cast<std::uint16_t>(w.enabled ? 1 : 0));
  PutS(out, w.hwnd);
  PutS(out, w.pid);
  PutS(out, w.start_time);
  PutS(out, w.created);
  for (const std::string* s : {&w.socket, &w.class_name, &w.text}) {
    PutS(out, static_cast<std::uint32_t>(s->size()));
    out += *s;
  }
  PutS(out, static_cast<std::uint32_t>(w.props.size()));
  for (const auto& [name, value] : w.props) {
    PutS(out, static_cast<std::uint32_t>(name.size()));
    out += name;
    PutS(out, value);
  }
  return out;
}

Result<WindowRecord> DecodeRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxRecordSize) return Status::Corruption("window record is too large");
  Reader r(bytes);
  WindowRecord w;
  std::uint32_t magic = 0;
  std::uint16_t version = 0, flags = 0;
  r.Get(magic);
  r.Get(version);
  r.Get(flags);
  if (!r.ok() || magic != kRecordMagic || version != kVersion || (flags & ~1u) != 0) {
    return Status::Corruption("window record has a bad header");
  }
  w.enabled = (flags & 1) != 0;
  r.Get(w.hwnd);
  r.Get(w.pid);
  r.Get(w.start_time);
  r.Get(w.created);
  r.GetString(w.socket, 4096);
  r.GetString(w.class_name, kMaxRecordString);
  r.GetString(w.text, kMaxRecordString);
  std::uint32_t count = 0;
  r.Get(count);
  if (!r.ok() || count > kMaxRecordProps) return Status::Corruption("window record is malformed");
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    std::int64_t value = 0;
    if (!r.GetString(name, kMaxRecordString) || !r.Get(value)) break;
    w.props.emplace_back(std::move(name), value);
  }
  if (!r.at_end() || w.hwnd == 0) return Status::Corruption("window record is malformed");
  return w;
}

}  // namespace zv::winmsg::wire
