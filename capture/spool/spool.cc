#include "capture/spool/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "platform/base/ascii.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"

namespace zv::capture {
namespace {

constexpr VirtualPaper kPapers[] = {
    {"A4", 9, 2100, 2970},     {"A3", 8, 2970, 4200},    {"A5", 11, 1490, 2100},       {"B4", 12, 2570, 3640},
    {"B5", 13, 1820, 2570},    {"B6", 88, 1280, 1820},   {"A2", 66, 4200, 5940},       {"A1", 258, 5940, 8400},
    {"Letter", 1, 2160, 2790}, {"Legal", 5, 2160, 3560}, {"Postcard", 43, 1000, 1480},
};

// Media names of the IPP form for the same papers.
constexpr std::pair<const char*, const char*> kMediaNames[] = {
    {"iso_a4_210x297mm", "A4"},     {"iso_a3_297x420mm", "A3"},           {"iso_a5_148x210mm", "A5"},
    {"jis_b4_257x364mm", "B4"},     {"jis_b5_182x257mm", "B5"},           {"jis_b6_128x182mm", "B6"},
    {"iso_a2_420x594mm", "A2"},     {"iso_a1_594x841mm", "A1"},           {"na_letter_8.5x11in", "Letter"},
    {"na_legal_8.5x14in", "Legal"}, {"jpn_hagaki_100x148mm", "Postcard"},
};

int ToInt(std::string_view s, int fallback) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return (ec == std::errc() && p == s.data() + s.size()) ? v : fallback;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SplitOptions(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    std::string name, value;
    while (i < text.size() && text[i] != '=' && text[i] != ' ') name += text[i++];
    if (i < text.size() && text[i] == '=') {
      ++i;
      char quote = 0;
      while (i < text.size() && (quote != 0 || text[i] != ' ')) {
        char c = text[i++];
        if (quote == 0 && (c == '"' || c == '\'')) {
          quote = c;
        } else if (c == quote) {
          quote = 0;
        } else if (c == '\\' && i < text.size()) {
          value += text[i++];
        } else {
          value += c;
        }
      }
    }
    if (!name.empty()) out.emplace_back(std::move(name), std::move(value));
  }
  return out;
}

std::span<const VirtualPaper> VirtualPapers() { return kPapers; }

std::optional<VirtualPaper> FindPaper(std::string_view name) {
  for (const auto& p : kPapers)
    if (EqualsNoCase(name, p.name)) return p;
  for (const auto& [media, paper] : kMediaNames)
    if (EqualsNoCase(name, media)) return FindPaper(paper);
  return std::nullopt;
}

std::optional<VirtualPaper> FindPaperByCode(std::uint16_t code) {
  for (const auto& p : kPapers)
    if (p.code == code) return p;
  return std::nullopt;
}

// At most 18 digits: any such id fits a 64-bit number, and only digits can never name a path.
bool IsJobId(std::string_view id) {
  return !id.empty() && id.size() <= 18 &&
         std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

SpoolJob JobFromOptions(std::string_view id, std::string_view title, int copies, std::string_view options) {
  SpoolJob job;
  job.id = std::string(id);
  job.title = std::string(title);
  job.copies = std::clamp(copies, 1, 9999);
  job.options = std::string(options);
  std::string page_size, media;
  for (const auto& [name, value] : SplitOptions(options)) {
    if (EqualsNoCase(name, "PageSize")) page_size = value;
    if (EqualsNoCase(name, "media")) media = value.substr(0, value.find(','));
    // 4 and 5 are the protocol's two landscape values (turned one way or the other).
    if (EqualsNoCase(name, "orientation-requested")) job.orientation = (value == "4" || value == "5") ? 2 : 1;
    if (EqualsNoCase(name, "landscape") && (value.empty() || EqualsNoCase(value, "true"))) job.orientation = 2;
    if (EqualsNoCase(name, "Resolution")) {
      std::string_view v = value;
      if (v.size() > 3 && EqualsNoCase(v.substr(v.size() - 3), "dpi")) v.remove_suffix(3);
      if (auto x = v.find('x'); x != std::string_view::npos) v = v.substr(0, x);
      int dpi = ToInt(v, 0);
      // The resolutions the PPD offers (the driver's resolution table; this library stays free
      // of the driver's so the backends it is linked into need nothing beside them).
      for (int known : {75, 100, 120, 150, 200, 300, 600})
        if (dpi == known) job.resolution = dpi;
    }
  }
  if (auto p = FindPaper(page_size)) {
    job.paper = p->name;
  } else if (auto m = FindPaper(media)) {
    job.paper = m->name;
  }
  return job;
}

std::string FormatJobFile(const SpoolJob& job) {
  auto clean = [](std::string s) {
    for (char& c : s)
      // One line per key: a line break inside a title would start a forged key.
      if (c == '\n' || c == '\r') c = ' ';
    return s;
  };
  return "title=" + clean(job.title) + "\ncopies=" + std::to_string(job.copies) + "\npaper=" + job.paper +
         "\norientation=" + std::to_string(job.orientation) + "\nresolution=" + std::to_string(job.resolution) +
         "\noptions=" + clean(job.options) + "\n";
}

Result<SpoolJob> ParseJobFile(std::string_view text, std::string_view id) {
  if (!IsJobId(id)) return Status::InvalidArgument("not a job id");
  SpoolJob job;
  job.id = std::string(id);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "title") job.title = std::string(value);
    if (key == "copies") job.copies = ToInt(value, 0);
    if (key == "paper") job.paper = std::string(value);
    if (key == "orientation") job.orientation = ToInt(value, 0);
    if (key == "resolution") job.resolution = ToInt(value, 0);
    if (key == "options") job.options = std::string(value);
  }
  if (job.copies < 1 || job.copies > 9999) return Status::InvalidArgument("bad copies");
  if (job.resolution < 75 || job.resolution > 1200) return Status::InvalidArgument("bad resolution");
  if (job.orientation != 1 && job.orientation != 2) return Status::InvalidArgument("bad orientation");
  if (!FindPaper(job.paper)) return Status::InvalidArgument("unknown paper " + job.paper);
  return job;
}

std::string CaptureRootFor(std::string_view home, const char* root_template) {
  if (root_template == nullptr || *root_template == '\0') return std::string(home) + "/.local/state/zelvora";
  std::string out;
  for (std::string_view t = root_template; !t.empty();) {
    if (t.substr(0, 2) == "%h") {
      out += home;
      t.remove_prefix(2);
    } else {
      out += t[0];
      t.remove_prefix(1);
    }
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

Status PrepareSpoolFolder(const std::string& folder) {
  if (Status made = fs::MakeDirs(folder, 0700); !made.ok()) return made;
  // Checked and changed through one descriptor opened without following a link, so the
  // folder cannot be swapped between the check and the mode change.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Status::IOError("spool folder " + folder + " is a link or not a folder");
  struct stat st {};
  Status result = Status::Ok();
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    result = Status::IOError("spool folder " + folder + " is not a folder");
  } else if (st.st_uid != ::geteuid()) {
    result = Status::IOError("spool folder " + folder + " belongs to another user");
  } else if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
    result = Status::IOError("spool folder " + folder + ": its mode cannot be set");
  }
  ::close(fd);
  return result;
}

std::string OwnCaptureRoot(std::string_view home, const char* root_template) {
  if (::geteuid() == 0 && (root_template == nullptr || *root_template == '\0')) return RuntimeRoot();
  return CaptureRootFor(home, root_template);
}

std::vector<std::string> ListSpoolJobs(const std::string& folder) {
  std::vector<std::string> ids;
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return ids;
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".job" && IsJobId(name.substr(0, name.size() - 4)))
      ids.emplace_back(name.substr(0, name.size() - 4));
  }
  ::closedir(d);
  std::sort(ids.begin(), ids.end(), [](const std::string& a, const std::string& b) {
    // Numeric order without parsing: a shorter run of digits is the smaller number.
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return ids;
}

}  // namespace zv::capture
