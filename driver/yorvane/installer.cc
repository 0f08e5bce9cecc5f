#include "driver/yorvane/installer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "driver/brastow/port_ui.h"
#include "driver/settings/devmode.h"
#include "driver/settings/ppd.h"
#include "platform/codepage/codepage.h"

namespace zv::driver::yorvane {
namespace sfs = std::filesystem;

namespace {

// The files the installer takes from the source folder: name, folder under server-bin, mode.
struct FileEntry {
  const char* name;
  const char* folder;
  mode_t mode;
};
constexpr FileEntry kFiles[] = {
    {"zelvora", "backend", 0700},  // backends run as root to hand jobs to their users
    {"olviport", "backend", 0700},
    {"kelvad", "filter", 0755},
    {"zelvora-texttopdf", "filter", 0755},  // the queues' text filters
    {"zelvora-texttoraster", "filter", 0755},
};

std::optional<std::string> FromCp932(const char* text) {
  if (text == nullptr) return std::nullopt;
  auto r = codepage::Cp932ToUtf8(text);
  if (!r.ok()) return std::nullopt;
  return *r;
}

bool IsOurs(std::string_view driver) { return driver == kPassThroughDriver || driver == kRasterDriver; }

// Takes a regular source file and its destination; copies it through a temporary file in
// the destination's folder, root-owned with the mode, and renames it into place.
bool CopyFile(const sfs::path& source, const sfs::path& destination, mode_t mode) {
  const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  std::string tmp = (destination.parent_path() / ".Qvx.XXXXXX").string();
  const int out = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  ok = ok && ::fchown(out, 0, 0) == 0 && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
  ok = (::close(out) == 0) && ok;
  ok = ok && ::rename(tmp.c_str(), destination.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

void CopyFiles(const InstallLayout& layout, const sfs::path& source) {
  if (layout.serverbin.empty()) return;
  for (const FileEntry& f : kFiles) {
    struct stat st {};
    const sfs::path from = source / f.name;
    if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;  // no links, no devices
    std::error_code ec;
    sfs::create_directories(layout.serverbin / f.folder, ec);
    CopyFile(from, layout.serverbin / f.folder / f.name, f.mode);
  }
}

std::string ReplaceDefault(std::string ppd, const std::string& keyword, const std::string& value) {
  const std::string key = "*Default" + keyword + ":";
  for (std::size_t pos = 0; (pos = ppd.find(key, pos)) != std::string::npos; pos += key.size()) {
    if (pos != 0 && ppd[pos - 1] != '\n') continue;
    const std::size_t end = ppd.find('\n', pos);
    ppd.replace(pos, end == std::string::npos ? std::string::npos : end - pos, key + " " + value);
    break;
  }
  return ppd;
}

std::string MarginChoice(std::uint16_t mm10) {
  // The printer description offers margins in 5 mm steps: the stored tenths of a millimetre are
  // rounded down to the nearest choice it has.
  const int m = std::min<int>(mm10, kMaxMargin) / 50 * 5;
  return std::to_string(m) + "mm";
}

}  // namespace

bool ValidPrinterName(std::string_view name) {
  if (name.empty() || name.size() > 127) return false;
  return std::none_of(name.begin(), name.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F || c == '/' || c == '\\';
  });
}

std::string PpdWithDefaults(bool raster, std::string_view app_name, std::uint16_t resolution, std::uint16_t top,
                            std::uint16_t bottom, std::uint16_t left, std::uint16_t right) {
  std::string ppd = GeneratePpd(raster ? PpdQueue::kRaster : PpdQueue::kPassThrough);
  const int dpi = IsKnownResolution(resolution) ? resolution : kDefaultResolution;
  ppd = ReplaceDefault(std::move(ppd), "Resolution", std::to_string(dpi) + "dpi");
  const std::uint16_t margins[] = {left, right, top, bottom};
  auto options = MarginOptions();
  for (std::size_t i = 0; i < options.size() && i < 4; ++i)
    ppd = ReplaceDefault(std::move(ppd), options[i].keyword, MarginChoice(margins[i]));
  std::string name;
  // A quote or line break would end the quoted value and let the name add lines of its own.
  for (char c : app_name) name += (static_cast<unsigned char>(c) < 0x20 || c == '"') ? '?' : c;
  ppd += "*ZelvoraAppName: \"" + name + "\"\n";
  return ppd;
}

std::uint32_t pddSystemInstall(SpoolerAdmin& admin, const InstallLayout& layout, std::uintptr_t window,
                               const char* printer_name, const char* source_folder, const char* app_name,
                               std::uint32_t top, std::uint32_t bottom, std::uint32_t left, std::uint32_t right,
                               std::uint32_t resolution) {
  auto name = FromCp932(printer_name);
  auto source = FromCp932(source_folder);
  auto app = FromCp932(app_name);
  if (!name || !source || !app) return kMissingArgument;
  const std::string raster_name = *name + std::string(kRasterSuffix);
  if (!ValidPrinterName(*name) || !ValidPrinterName(raster_name)) return kMissingArgument;
  // The source must be an absolute folder that exists (not a link to one); nothing is run
  // from it.
  struct stat st {};
  const sfs::path src(*source);
  if (!src.is_absolute() || ::lstat(src.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kMissingArgument;

  CopyFiles(layout, src);

  auto printers = admin.EnumPrinters();
  if (!printers.ok()) return kListUnreadable;
  auto exists = [&](const std::string& n) {
    return std::any_of(printers->begin(), printers->end(), [&](const AdminPrinter& p) { return p.name == n; });
  };
  const auto r16 = static_cast<std::uint16_t>(resolution), t16 = static_cast<std::uint16_t>(top),
             b16 = static_cast<std::uint16_t>(bottom), l16 = static_cast<std::uint16_t>(left),
             rt16 = static_cast<std::uint16_t>(right);
  const NewPrinter queues[] = {
      {*name, "Zelvora Printer", "zelvora:/", std::string(kPassThroughDriver),
       PpdWithDefaults(false, *app, r16, t16, b16, l16, rt16)},
      {raster_name, "Zelvora Printer (raster)", "olviport:/OLVIPORT", std::string(kRasterDriver),
       PpdWithDefaults(true, *app, r16, t16, b16, l16, rt16)},
  };
  // The raster queue prints to the port "OLVIPORT :"; the port user interface adds it to the
  // port registry (a port there already is fine), before the queue that needs it.
  brastow::PortRegistry ports(layout.port_registry.string());
  if (!brastow::AddPort(ports, "", window, brastow::kMonitorName, nullptr)) return kPortFailed;
  for (const NewPrinter& q : queues) {
    if (exists(q.name)) continue;  // left untouched
    if (!admin.AddPrinter(q).ok()) return kPrinterFailed;
  }
  return kDone;
}

std::uint32_t pddSystemUnInstall(SpoolerAdmin& admin, const InstallLayout& layout, std::uintptr_t window,
                                 const char* printer_name) {
  auto name = FromCp932(printer_name);
  if (!name || !ValidPrinterName(*name)) return kMissingArgument;
  auto printers = admin.EnumPrinters();
  if (!printers.ok()) return kListUnreadable;
  const std::string twin = *name + std::string(kRasterSuffix);
  int ours = 0;
  for (const AdminPrinter& p : *printers) {
    if (p.name == *name && !IsOurs(p.driver)) return kRefused;
    if (IsOurs(p.driver)) ++ours;
  }
  if (ours == 0) return kRefused;
  if (!admin.DeletePrinter(*name).ok()) return kPrinterFailed;
  --ours;
  for (const AdminPrinter& p : *printers) {
    if (p.name == twin && IsOurs(p.driver)) {
      if (!admin.DeletePrinter(twin).ok()) return kPrinterFailed;
      --ours;
    }
  }
  if (ours > 0) return kDone;
  brastow::PortRegistry ports(layout.port_registry.string());
  (void)brastow::DeletePort(ports, "", window, brastow::kPortName);  // gone already: nothing to do
  if (!layout.serverbin.empty()) {
    for (const FileEntry& f : kFiles) {
      const sfs::path p = layout.serverbin / f.folder / f.name;
      struct stat st {};
      if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(p.c_str());
    }
  }
  return kDone;
}

}  // namespace zv::driver::yorvane
