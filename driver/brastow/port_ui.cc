#include "driver/brastow/port_ui.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"
#include "platform/lasterror/last_error.h"
#include "platform/paths/paths.h"

namespace zv::driver::brastow {
namespace {

constexpr std::uint32_t kServerAdminister = 1;

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

// Takes UTF-8 text; gives its UTF-16LE bytes with a terminating NUL (empty on bad text).
std::vector<std::uint8_t> Wide(std::string_view text) {
  auto r = codepage::Utf8ToUtf16LeBytes(text);
  if (!r.ok()) return {};
  std::vector<std::uint8_t> out(r->begin(), r->end());
  out.push_back(0);
  out.push_back(0);
  return out;
}

// Takes UTF-16LE bytes, perhaps NUL-terminated; gives UTF-8 text up to the NUL.
std::optional<std::string> Narrow(std::span<const std::uint8_t> bytes) {
  std::size_t n = 0;
  while (n + 1 < bytes.size() && (bytes[n] != 0 || bytes[n + 1] != 0)) n += 2;
  auto r = codepage::Utf16LeBytesToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), n));
  if (!r.ok()) return std::nullopt;
  return *r;
}

// Runs one transceive command; gives the monitor's answer, or none when the call failed.
std::optional<std::uint32_t> Call(Transceiver& xcv, XcvHandle h, std::string_view command,
                                  std::span<const std::uint8_t> input, std::span<std::uint8_t> output = {},
                                  std::uint32_t* needed_out = nullptr) {
  std::uint32_t needed = 0, status = 0;
  if (!xcv.Data(h, command, input, output, &needed, &status)) return std::nullopt;
  if (needed_out) *needed_out = needed;
  return status;
}

// An open transceive handle, closed at the end of the scope.
struct Opened {
  Transceiver& xcv;
  XcvHandle h = 0;
  ~Opened() {
    if (h) xcv.Close(h);
  }
};

}  // namespace

std::string XcvTarget(std::string_view server, std::string_view kind, std::string_view name) {
  std::string t;
  if (!server.empty()) t = std::string(server) + "\\";
  return t + "," + std::string(kind) + " " + std::string(name);
}

bool IsComPort(std::string_view p) { return StartsNoCase(p, "COM") && p.size() > 3 && p.back() == ':'; }
bool IsLptPort(std::string_view p) { return StartsNoCase(p, "LPT") && p.size() > 3 && p.back() == ':'; }

// ---- Operations ----

bool AddPort(Transceiver& xcv, std::string_view server, std::uintptr_t, std::string_view monitor,
             std::optional<std::string>* new_port) {
  if (new_port) new_port->reset();
  std::uint32_t error = 0;
  Opened o{xcv, xcv.Open(XcvTarget(server, "XcvMonitor", monitor), kServerAdminister, &error)};
  if (!o.h) {
    ZvSetLastError(error);
    return false;
  }
  std::string name(kPortName);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
  auto answer = Call(xcv, o.h, "AddPort", Wide(name));
  if (!answer) return false;
  if (*answer == 0) {
    if (new_port) *new_port = name;
    return true;
  }
  // The port being there already is what the caller wanted: no error.
  if (*answer == kErrorAlreadyExists) return true;
  ZvSetLastError(*answer);
  return false;
}

bool DeletePort(Transceiver& xcv, std::string_view server, std::uintptr_t, std::string_view port) {
  std::uint32_t error = 0;
  Opened o{xcv, xcv.Open(XcvTarget(server, "XcvPort", port), kServerAdminister, &error)};
  if (!o.h) {
    ZvSetLastError(error);
    return false;
  }
  // Serial and parallel ports belong to the system's own monitor: they are configured here but
  // never deleted.
  if (IsComPort(port) || IsLptPort(port)) {
    ZvSetLastError(kErrorNotSupported);
    return false;
  }
  auto answer = Call(xcv, o.h, "DeletePort", Wide(port));
  if (!answer) return false;
  if (*answer != 0) {
    ZvSetLastError(*answer);
    return false;
  }
  return true;
}

bool ConfigurePort(Transceiver& xcv, std::string_view server, std::uintptr_t, std::string_view port,
                   const PortUiHooks& ui) {
  std::uint32_t error = 0;
  Opened o{xcv, xcv.Open(XcvTarget(server, "XcvPort", port), kServerAdminister, &error)};
  if (!o.h) {
    ZvSetLastError(error);
    return false;
  }
  if (IsLptPort(port)) {
    std::uint8_t out[4] = {};
    auto answer = Call(xcv, o.h, "GetTransmissionRetryTimeout", {}, out);
    std::uint32_t timeout = 0;
    if (answer && *answer == 0) std::memcpy(&timeout, out, 4);
    LptTimeoutModel model(timeout);
    if (!ui.lpt_dialog || !ui.lpt_dialog(model)) {
      ZvSetLastError(kErrorCancelled);
      return false;
    }
    auto done = Call(xcv, o.h, "ConfigureLPTPortCommandOK", Wide(std::to_string(model.last_good())));
    if (!done) return false;
    if (*done != 0) {
      ZvSetLastError(*done);
      return false;
    }
    return true;
  }
  if (IsComPort(port)) {
    // The serial configuration calls name the device without the port's trailing colon.
    const auto name = Wide(port.substr(0, port.size() - 1));
    std::vector<std::uint8_t> config(kCommConfigSize);
    std::uint32_t needed = 0;
    auto answer = Call(xcv, o.h, "GetDefaultCommConfig", name, config, &needed);
    // One retry at the size the monitor asks for, within a sane bound: a damaged answer must not
    // make us allocate without limit or loop.
    if (answer && *answer == kErrorInsufficientBuffer && needed > config.size() && needed < (1u << 20)) {
      config.resize(needed);
      answer = Call(xcv, o.h, "GetDefaultCommConfig", name, config, &needed);
    }
    if (!answer) return false;
    if (*answer != 0) {
      ZvSetLastError(*answer);
      return false;
    }
    config.resize(std::min<std::size_t>(needed, config.size()));
    if (!ui.comm_dialog || !ui.comm_dialog(port, config)) {
      ZvSetLastError(kErrorCancelled);
      return false;
    }
    auto done = Call(xcv, o.h, "SetDefaultCommConfig", config);
    if (!done) return false;
    if (*done != 0) {
      ZvSetLastError(*done);
      return false;
    }
    return true;
  }
  if (ui.message) ui.message(kNothingToConfigure, kMonitorName);
  ZvSetLastError(kErrorCancelled);
  return false;
}

const MonitorUi* InitializePrintMonitorUI() {
  static const MonitorUi table{16, &AddPort, &ConfigurePort, &DeletePort};
  return &table;
}

// ---- LPT dialog ----

LptTimeoutModel::LptTimeoutModel(std::uint32_t timeout) : last_good_(timeout), text_(std::to_string(timeout)) {}

std::string LptTimeoutModel::Edit(std::string_view text) {
  std::string t(text);
  bool good =
      !t.empty() && t.size() <= 6 && std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); });
  const unsigned long v = good ? std::stoul(t) : 0;
  good = good && v >= 1 && v <= 999999;
  if (good) {
    last_good_ = static_cast<std::uint32_t>(v);
    text_ = t;
    selected_ = false;
  } else {
    text_ = std::to_string(last_good_);
    selected_ = true;
  }
  return text_;
}

// ---- Serial settings ----

namespace {
// Offsets in the record: its size, then the control block at 8 (its length, the speed, the
// flag bits, ...); the block ends at 36.
constexpr std::size_t kDcbBaud = 12, kDcbFlags = 16, kDcbByteSize = 26, kDcbParity = 27, kDcbStopBits = 28,
                      kDcbEnd = 36;
constexpr std::uint32_t kCtsFlow = 1u << 2, kDsrFlow = 1u << 3, kDtrMask = 3u << 4, kDtrEnable = 1u << 4,
                        kDtrHandshake = 2u << 4, kParityCheck = 1u << 1, kOutX = 1u << 8, kInX = 1u << 9,
                        kRtsMask = 3u << 12, kRtsEnable = 1u << 12, kRtsHandshake = 2u << 12;

std::uint32_t Get32(std::span<const std::uint8_t> r, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, r.data() + at, 4);
  return v;
}
void Put32(std::span<std::uint8_t> r, std::size_t at, std::uint32_t v) { std::memcpy(r.data() + at, &v, 4); }
}  // namespace

std::optional<CommSettings> ReadCommSettings(std::span<const std::uint8_t> record) {
  if (record.size() < kDcbEnd || Get32(record, 0) < kDcbEnd) return std::nullopt;
  CommSettings s;  // a value out of range (a fresh, zeroed record) keeps the default
  if (const std::uint32_t baud = Get32(record, kDcbBaud); baud != 0) s.baud = baud;
  if (record[kDcbByteSize] >= 5 && record[kDcbByteSize] <= 8) s.data_bits = record[kDcbByteSize];
  if (record[kDcbParity] <= 4) s.parity = record[kDcbParity];
  if (record[kDcbStopBits] <= 2) s.stop_bits = record[kDcbStopBits];
  const std::uint32_t flags = Get32(record, kDcbFlags);
  if ((flags & kOutX) && (flags & kInX)) s.flow = FlowControl::kXonXoff;
  else if ((flags & kCtsFlow) && (flags & kRtsMask) == kRtsHandshake) s.flow = FlowControl::kHardware;
  else s.flow = FlowControl::kNone;
  return s;
}

void WriteCommSettings(const CommSettings& s, std::span<std::uint8_t> record) {
  if (record.size() < kDcbEnd) return;
  Put32(record, kDcbBaud, s.baud);
  record[kDcbByteSize] = s.data_bits;
  record[kDcbParity] = s.parity;
  record[kDcbStopBits] = s.stop_bits;
  std::uint32_t flags =
      Get32(record, kDcbFlags) & ~(kCtsFlow | kDsrFlow | kDtrMask | kOutX | kInX | kRtsMask | kParityCheck);
  if (s.parity != 0) flags |= kParityCheck;
  switch (s.flow) {
    case FlowControl::kXonXoff:
      flags |= kOutX | kInX | kDtrEnable | kRtsEnable;
      break;
    case FlowControl::kHardware:
      flags |= kCtsFlow | kDsrFlow | kDtrHandshake | kRtsHandshake;
      break;
    case FlowControl::kNone:
      flags |= kDtrEnable | kRtsEnable;
      break;
  }
  Put32(record, kDcbFlags, flags);
}

// ---- Registry ----

PortRegistry::PortRegistry(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    auto dir = paths::RootFolder("ports");
    if (dir.ok()) path_ = *dir + "/registry";
  }
}

PortRegistry::State PortRegistry::Load() {
  State s;
  if (path_.empty()) return s;
  auto text = fs::ReadFile(path_, 1 << 20);
  if (!text.ok()) return s;
  std::size_t pos = 0;
  while (pos < text->size()) {
    std::size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("timeout=", 0) == 0) {
      s.timeout = static_cast<std::uint32_t>(std::strtoul(line.c_str() + 8, nullptr, 10));
    } else if (line.rfind("comm=", 0) == 0) {
      for (std::size_t i = 5; i + 1 < line.size(); i += 2)
        s.comm.push_back(static_cast<std::uint8_t>(std::strtoul(line.substr(i, 2).c_str(), nullptr, 16)));
    } else if (line.rfind("port=", 0) == 0) {
      s.ports.push_back(line.substr(5));
    }
  }
  return s;
}

bool PortRegistry::Save(const State& s) {
  if (path_.empty()) return false;
  std::string text;
  for (const auto& p : s.ports) text += "port=" + p + "\n";
  text += "timeout=" + std::to_string(s.timeout) + "\n";
  if (!s.comm.empty()) {
    text += "comm=";
    static const char* hex = "0123456789abcdef";
    for (std::uint8_t b : s.comm) {
      text += hex[b >> 4];
      text += hex[b & 15];
    }
    text += "\n";
  }
  return fs::WriteFileAtomic(path_, text).ok();
}

std::vector<std::string> PortRegistry::Ports() { return Load().ports; }
std::uint32_t PortRegistry::Timeout() { return Load().timeout; }

XcvHandle PortRegistry::Open(std::string_view target, std::uint32_t, std::uint32_t* error) {
  // Only the local machine's monitor and ports are served here.
  const std::size_t comma = target.find(',');
  if (comma == std::string_view::npos || comma != 0) {
    if (error) *error = 1801;  // invalid printer name
    return 0;
  }
  std::string_view rest = target.substr(1);
  std::string port;
  if (rest.rfind("XcvMonitor ", 0) == 0) {
    if (rest.substr(11) != kMonitorName) {
      if (error) *error = 1801;
      return 0;
    }
  } else if (rest.rfind("XcvPort ", 0) == 0) {
    port = std::string(rest.substr(8));
  } else {
    if (error) *error = 1801;
    return 0;
  }
  open_[next_] = port;
  return next_++;
}

void PortRegistry::Close(XcvHandle handle) { open_.erase(handle); }

bool PortRegistry::Data(XcvHandle handle, std::string_view command, std::span<const std::uint8_t> input,
                        std::span<std::uint8_t> output, std::uint32_t* needed, std::uint32_t* status) {
  if (!open_.count(handle) || !needed || !status) {
    ZvSetLastError(kErrorInvalidParameter);
    return false;
  }
  *needed = 0;
  State s = Load();
  auto name = Narrow(input);
  if (command == "AddPort" || command == "DeletePort") {
    if (!name || name->empty()) {
      *status = kErrorInvalidParameter;
      return true;
    }
    auto it = std::find(s.ports.begin(), s.ports.end(), *name);
    if (command == "AddPort") {
      if (it != s.ports.end()) {
        *status = kErrorAlreadyExists;
        return true;
      }
      s.ports.push_back(*name);
    } else {
      if (it == s.ports.end()) {
        *status = kErrorUnknownPort;
        return true;
      }
      s.ports.erase(it);
    }
    *status = Save(s) ? 0 : 5 /* access denied */;
    return true;
  }
  if (command == "GetTransmissionRetryTimeout") {
    *needed = 4;
    if (output.size() < 4) {
      *status = kErrorInsufficientBuffer;
      return true;
    }
    std::memcpy(output.data(), &s.timeout, 4);
    *status = 0;
    return true;
  }
  if (command == "ConfigureLPTPortCommandOK") {
    const unsigned long v = name ? std::strtoul(name->c_str(), nullptr, 10) : 0;
    if (v < 1 || v > 999999) {
      *status = kErrorInvalidParameter;
      return true;
    }
    s.timeout = static_cast<std::uint32_t>(v);
    *status = Save(s) ? 0 : 5;
    return true;
  }
  if (command == "GetDefaultCommConfig") {
    std::vector<std::uint8_t> rec = s.comm;
    if (rec.size() < kCommConfigSize) {
      rec.assign(kCommConfigSize, 0);
      const std::uint32_t size = kCommConfigSize;
      std::memcpy(rec.data(), &size, 4);
    }
    *needed = static_cast<std::uint32_t>(rec.size());
    if (output.size() < rec.size()) {
      *status = kErrorInsufficientBuffer;
      return true;
    }
    std::copy(rec.begin(), rec.end(), output.begin());
    *status = 0;
    return true;
  }
  if (command == "SetDefaultCommConfig") {
    std::uint32_t size = 0;
    if (input.size() < 4 || (std::memcpy(&size, input.data(), 4), size < 4 || size > input.size())) {
      *status = kErrorInvalidParameter;
      return true;
    }
    s.comm.assign(input.begin(), input.begin() + size);
    *status = Save(s) ? 0 : 5;
    return true;
  }
  *status = kErrorNotSupported;
  return true;
}

}  // namespace zv::driver::brastow
