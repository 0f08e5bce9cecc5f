#include "client/app/start_args.h"

namespace zv::client::app {
namespace {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

bool IsSwitch(const std::string& a) { return a.size() == 2 && (a[0] == '-' || a[0] == '/'); }

std::string NameOrDefault(std::string name) { return name.empty() ? std::string(kNoJobNameText) : name; }

}  // namespace

bool ReadLogOutput(const jobdoc::MachineSettings& settings) {
  for (std::string_view key : {jobdoc::kSettingsKeyPath, std::string_view(kProductKey)}) {
    auto v = settings.ReadString(key, jobdoc::kLogOutputValue);
    if (v.ok()) return *v == "ON";
  }
  return false;
}

StartArgs ParseStartArguments(const std::vector<std::string>& args) {
  StartArgs out;
  bool name_mode = false;
  for (const std::string& a : args) {
    if (!name_mode && a.size() > 2 && a.starts_with("--")) {
      if (out.option.empty()) out.option = a;
      continue;
    }
    if (!name_mode && IsSwitch(a)) {
      char c = static_cast<char>(a[1] | 0x20);
      if (c == 'n') name_mode = true;
      // 'd' and 'p' select document-path mode, which is the only other mode; others are ignored.
      continue;
    }
    if (name_mode) out.job_name = NameOrDefault(Trim(a));
    else out.doc_path = a;
  }
  return out;
}

CopyDataJob ParseCopyData(std::string_view text) {
  // The text ends at its first NUL: bytes a sender left behind it are no part of the job.
  text = text.substr(0, text.find('\0'));
  CopyDataJob job;
  const std::string_view marker = " /n \"";
  size_t at = text.rfind(marker);
  if (at == std::string_view::npos) {
    size_t bare = text.rfind(" /n");
    job.path = Trim(bare == std::string_view::npos ? text : text.substr(0, bare));
    job.title = kNoJobNameText;
    return job;
  }
  job.path = std::string(text.substr(0, at));
  std::string_view rest = text.substr(at + marker.size());
  size_t close = rest.rfind('"');
  job.title = NameOrDefault(std::string(close == std::string_view::npos ? rest : rest.substr(0, close)));
  return job;
}

std::string FormatCopyData(const std::string& path, const std::string& title) {
  return path + " /n \"" + title + "\" ";
}

std::string SafeOutputBaseName(std::string_view title) {
  std::string out;
  for (unsigned char c : title) {
    if (c < 0x20 || c == 0x7F) continue;
    if (c == '/') out += "／";
    else if (c == '\\') out += "＼";
    else out += static_cast<char>(c);
  }
  if (out.find_first_not_of('.') == std::string::npos) out = "Tarvessa";
  return out;
}

int JobList::Add(std::string name, int pages) {
  rows_.push_back({std::move(name), pages < 0 ? 0 : pages});
  return size() - 1;
}

int JobList::FirstPage(int r) const {
  int first = 0;
  for (int i = 0; i < r && i < size(); ++i) first += rows_[i].pages;
  return first;
}

int JobList::RowOfPage(int page) const {
  int first = 0;
  for (int i = 0; i < size(); ++i) {
    if (page >= first && page < first + rows_[i].pages) return i;
    first += rows_[i].pages;
  }
  return -1;
}

int JobList::TotalPages() const { return FirstPage(size()); }

bool JobList::Move(int r, bool up) {
  int other = up ? r - 1 : r + 1;
  if (r < 0 || r >= size() || other < 0 || other >= size()) return false;
  std::swap(rows_[r], rows_[other]);
  return true;
}

bool JobList::Remove(int r) {
  if (r < 0 || r >= size()) return false;
  rows_.erase(rows_.begin() + r);
  return true;
}

void JobList::PagesInsertedInRow(int r, int count) {
  if (count > 0 && r >= 0 && r < size()) rows_[r].pages += count;
}

void JobList::PagesRemoved(int at, int count) {
  while (count > 0) {
    int r = RowOfPage(at);
    if (r < 0) return;
    int in_row = std::min(count, FirstPage(r) + rows_[r].pages - at);
    rows_[r].pages -= in_row;
    count -= in_row;
    if (rows_[r].pages == 0) rows_.erase(rows_.begin() + r);
  }
}

}  // namespace zv::client::app
