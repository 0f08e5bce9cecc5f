#include "monitor/core/monitor_model.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/config.h"
#include "engine/hevrasto/share_files.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry.h"

namespace zv::monitor {

const char* const kColumnHeaders[kColumnCount] = {"日時",     "ドキュメント名", "アカウント",     "プリンタ",
                                                  "ページ数", "用紙サイズ",     "サムネイル指定", "部数"};

namespace {

constexpr size_t kMaxValueBytes = 511;
constexpr size_t kMaxAnswerBytes = 1 << 20;

std::string Cut(std::string s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  // Back to the start of a UTF-8 character, never leaving half of one.
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  s.resize(end);
  return s;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

std::string Fmt(const char* format, int n) {
  char buf[128];
  std::snprintf(buf, sizeof buf, format, n);
  return buf;
}

}  // namespace

std::optional<std::string> AnswerNameFromBlock(std::span<const std::byte> block) {
  const char* begin = reinterpret_cast<const char*>(block.data());
  const void* nul = std::memchr(begin, 0, block.size());
  if (nul == nullptr) return std::nullopt;
  std::string name(begin, static_cast<const char*>(nul));
  if (name.size() <= 4 || !paths::IsPlainFileName(name, kMaxAnswerName)) return std::nullopt;
  if (name.compare(name.size() - 4, 4, ".an2") != 0) return std::nullopt;
  return name;
}

std::string RequestKeyFromBlock(std::span<const std::byte> block) {
  const char* begin = reinterpret_cast<const char*>(block.data());
  const char* nul = static_cast<const char*>(std::memchr(begin, 0, block.size()));
  if (nul == nullptr) return {};
  const char* key = nul + 1;
  const char* end = begin + block.size();
  const void* key_end = std::memchr(key, 0, static_cast<size_t>(end - key));
  if (key_end == nullptr) return {};
  std::string text(key, static_cast<const char*>(key_end));
  return share::IsRequestId(text) ? text : std::string();
}

std::string CountText(int count) { return Fmt(kCountFormat, count); }
std::string WindowTitle(const std::string& server_name) { return kTitlePrefix + server_name; }

MonitorAnswer ReadAnswer(const std::string& path) {
  MonitorAnswer a;
  // The answer folder is shared with other machines: a link placed there must not make the
  // monitor read some other file, so links are refused and only regular files read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return a;
  struct stat st {};
  std::string text;
  // Only root's (the engine's) and the user's own answers count: a file another member put
  // in the answer's name is no answer.
  if (::fstat(fd, &st) == 0 && fs::TrustedForCaller(st) && static_cast<size_t>(st.st_size) <= kMaxAnswerBytes) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
    a.identity = IdentityOf(st);
  } else {
    ::close(fd);
    return a;
  }
  ::close(fd);
  profile::IniDocument doc = profile::IniDocument::Parse(text);
  a.result = Cut(doc.Get("PrintResult", "Result").value_or(""), kMaxValueBytes);
  if (a.result.empty()) return a;
  a.arrived = true;
  a.request_id = share::RequestIdOf(text);
  const char* section = a.result == "0" ? "NormalMessage" : "ErrorMessage";
  a.title = Cut(doc.Get(section, "Title").value_or(""), kMaxValueBytes);
  a.message = Cut(doc.Get(section, "Message").value_or(""), kMaxValueBytes);
  return a;
}

bool DeleteIfUnchanged(const std::string& path, const FileIdentity& identity) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // A newer answer may have replaced the file since it was read; that one must survive.
  if (!(IdentityOf(st) == identity)) return false;
  return ::unlink(path.c_str()) == 0;
}

ResultPopupText PopupTextFor(const MonitorAnswer& answer) {
  ResultPopupText p;
  p.title = answer.title;
  std::string text = answer.result == "0" ? answer.message : answer.message + "[" + answer.result + "]";
  std::string_view rest = text;
  const std::string_view marker = kLineBreakMarker;
  while (true) {
    size_t at = rest.find(marker);
    p.lines.emplace_back(rest.substr(0, at));
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + marker.size());
  }
  return p;
}

PopupLayout LayoutResultPopup(int text_width, int text_height, int ok_width, int ok_height) {
  PopupLayout l;
  l.button_width = ok_width + 60;
  l.button_height = ok_height + 10;
  l.window_width = std::max(l.button_width, text_width + 4) + 60;
  l.window_height = l.button_height + text_height + 84;
  l.text_width = text_width + 4;
  l.text_height = text_height + 4;
  l.button_x = (l.window_width - l.button_width) / 2;
  l.button_y = text_height + 44;
  return l;
}

std::vector<AnswerQueue::Arrival> AnswerQueue::Poll() {
  std::vector<Arrival> read;
  for (const std::string& p : paths_) read.push_back({p, ReadAnswer(p)});
  return Take(read);
}

std::vector<AnswerQueue::Arrival> AnswerQueue::Take(const std::vector<Arrival>& read) {
  std::vector<Arrival> shown;
  for (const Arrival& r : read) {
    if (!r.answer.arrived) continue;
    auto it = std::find(paths_.begin(), paths_.end(), r.path);
    if (it == paths_.end()) continue;
    auto key = keys_.begin() + (it - paths_.begin());
    if (!share::AnswerBelongs(*key, r.answer.request_id, accept_keyless_)) continue;  // not this request's
    paths_.erase(it);
    keys_.erase(key);
    if (r.answer.message.empty()) {
      DeleteIfUnchanged(r.path, r.answer.identity);
      continue;
    }
    shown.push_back(r);
  }
  return shown;
}

std::string AnswerQueue::key_of(const std::string& path) const {
  auto it = std::find(paths_.begin(), paths_.end(), path);
  return it == paths_.end() ? std::string() : keys_[static_cast<size_t>(it - paths_.begin())];
}

std::vector<std::string> AnswerQueue::Overdue(const std::vector<Arrival>& read,
                                              std::chrono::steady_clock::time_point now) {
  std::vector<std::string> due;
  for (const Arrival& r : read) {
    if (std::find(paths_.begin(), paths_.end(), r.path) == paths_.end()) {
      notices_.erase(r.path);  // answered: nothing to tell
      continue;
    }
    if (notices_.try_emplace(r.path, grace_).first->second.Due(r.request_waits, now)) due.push_back(r.path);
  }
  return due;
}

bool CopysRequestWaits(const std::string& request_folder, const std::string& copy_path, const std::string& key) {
  if (key.empty()) return true;
  const std::string name = copy_path.substr(copy_path.rfind('/') + 1);
  return client::RequestWaitsInSlot(request_folder, name.substr(0, name.find('-')), key);
}

MonitorAnswer NoAnswerNoticeAnswer() {
  MonitorAnswer a;
  a.arrived = true;
  a.result = "0";
  a.title = client::kNoAnswerTitle;
  std::string text = client::kNoAnswerText;
  for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, kLineBreakMarker);
  a.message = text;
  return a;
}

ServerNames ReadServerNames() {
  ServerNames n;
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, client::kMachineKey);
  if (!key.ok()) return n;
  n.key_found = true;
  auto get = [&](const char* name) -> std::optional<std::string> {
    auto v = key->GetString(name);
    if (!v.ok()) return std::nullopt;
    return Cut(*v, 127);
  };
  n.server = get("ServerName");
  n.share = get("ShareName");
  n.print_info_dir = get("PrintInfoDir");
  n.result_dir = get("ResultDir");
  if (auto keyless = key->GetDword(client::kAcceptKeylessValue); keyless.ok()) n.accept_keyless = *keyless != 0;
  return n;
}

Result<std::string> ShareFolder(const ServerNames& names, const std::string& folder) {
  if (!names.server || !names.share || names.share->empty()) return Status::InvalidArgument("no server or share");
  std::string server = client::NormaliseServerName(*names.server);
  if (server.empty()) return Status::InvalidArgument("no server");
  if (!paths::IsPlainFileName(*names.share) || !paths::IsPlainFileName(folder))
    return Status::InvalidArgument("share or folder name is not a plain name");
  return paths::ToLocalPath(server + "\\" + *names.share + "\\" + folder);
}

Result<std::string> ResultFolder(const ServerNames& names) {
  return ShareFolder(names, names.result_dir && !names.result_dir->empty() ? *names.result_dir : "Result");
}

void SortRecords(std::vector<RequestRecord>& records) {
  auto key = [](const RequestRecord& r) {
    time_t t = static_cast<time_t>(r.mtime);
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d%.2d%.2d%.2d%.2d%.2d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    return std::string(buf);
  };
  for (size_t i = 0; i < records.size(); ++i)
    for (size_t j = i + 1; j < records.size(); ++j)
      if (key(records[i]) > key(records[j])) std::swap(records[i], records[j]);
}

Result<std::vector<RequestRecord>> ListRequests(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return Status::NotFound("no request folder");
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n.size() == 11 && n.compare(0, 5, "order") == 0 && n.compare(7, 4, ".lst") == 0) names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  std::vector<RequestRecord> out;
  for (const std::string& n : names) {
    if (out.size() >= kMaxRequests) break;
    std::string path = folder + "/" + n;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    out.push_back({path, n, static_cast<int64_t>(st.st_mtime)});
  }
  SortRecords(out);
  return out;
}

std::string PaperName(int n) {
  static const char* const kNames[] = {"Letter",
                                       "Letter Small",
                                       "Tabloid",
                                       "Ledger",
                                       "Legal",
                                       "Statement",
                                       "Executive",
                                       "A3",
                                       "A4",
                                       "A4 Small",
                                       "A5",
                                       "B4 (JIS)",
                                       "B5 (JIS)",
                                       "Folio",
                                       "Quarto",
                                       "10x14 in",
                                       "11x17 in",
                                       "Note",
                                       "Envelope #9",
                                       "Envelope #10",
                                       "Envelope #11",
                                       "Envelope #12",
                                       "Envelope #14",
                                       "C size",
                                       "D size",
                                       "E size",
                                       "Envelope DL",
                                       "Envelope C5",
                                       "Envelope C3",
                                       "Envelope C4",
                                       "Envelope C6",
                                       "Envelope C65",
                                       "Envelope B4",
                                       "Envelope B5",
                                       "Envelope B6",
                                       "Envelope",
                                       "Envelope Monarch",
                                       "6 3/4 Envelope 3",
                                       "US Std Fanfold",
                                       "German Std Fanfold",
                                       "German Legal Fanfold",
                                       "B4 (ISO)",
                                       "Japanese Postcard",
                                       "9 x 11 in",
                                       "10 x 11 in",
                                       "15 x 11 in",
                                       "Envelope Invite",
                                       "RESERVED",
                                       "RESERVED",
                                       "Letter Extra",
                                       "Legal Extra",
                                       "Tabloid Extra",
                                       "A4 Extra",
                                       "Letter Transverse",
                                       "A4 Transverse",
                                       "Letter Extra Transverse",
                                       "SuperA/SuperA/A4",
                                       "SuperB/SuperB/A3",
                                       "Letter Plus",
                                       "A4 Plus",
                                       "A5 Transverse",
                                       "B5 (JIS) Transverse",
                                       "A3 Extra",
                                       "A5 Extra",
                                       "B5 (ISO) Extra",
                                       "A2",
                                       "A3 Transverse",
                                       "A3 Extra Transverse",
                                       "Japanese Double Postcard",
                                       "A6",
                                       "Japanese Envelope Kaku #2",
                                       "Japanese Envelope Kaku #3",
                                       "Japanese Envelope Chou #3",
                                       "Japanese Envelope Chou #4",
                                       "Letter Rotated",
                                       "A3 Rotated",
                                       "A4 Rotated",
                                       "A5 Rotated",
                                       "B4 (JIS) Rotated",
                                       "B5 (JIS) Rotated",
                                       "Japanese Postcard Rotated",
                                       "Double Japanese Postcard Rotated",
                                       "A6 Rotated",
                                       "Japanese Envelope Kaku #2 Rotated",
                                       "Japanese Envelope Kaku #3 Rotated",
                                       "Japanese Envelope Chou #3 Rotated",
                                       "Japanese Envelope Chou #4 Rotated",
                                       "B6 (JIS)",
                                       "B6 (JIS) Rotated",
                                       "12 x 11 in",
                                       "Japanese Envelope You #4",
                                       "Japanese Envelope You #4 Rotated",
                                       "PRC 16K",
                                       "PRC 32K",
                                       "PRC 32K(Big)",
                                       "PRC Envelope #1",
                                       "PRC Envelope #2",
                                       "PRC Envelope #3",
                                       "PRC Envelope #4",
                                       "PRC Envelope #5",
                                       "PRC Envelope #6",
                                       "PRC Envelope #7",
                                       "PRC Envelope #8",
                                       "PRC Envelope #9",
                                       "PRC Envelope #10",
                                       "PRC 16K Rotated",
                                       "PRC 32K Rotated",
                                       "PRC 32K(Big) Rotated",
                                       "PRC Envelope #1 Rotated",
                                       "PRC Envelope #2 Rotated",
                                       "PRC Envelope #3 Rotated",
                                       "PRC Envelope #4 Rotated",
                                       "PRC Envelope #5 Rotated",
                                       "PRC Envelope #6 Rotated",
                                       "PRC Envelope #7 Rotated",
                                       "PRC Envelope #8 Rotated",
                                       "PRC Envelope #9 Rotated",
                                       "PRC Envelope #10 Rotated"};
  static_assert(sizeof kNames / sizeof kNames[0] == 118);
  if (n == -1) return "文書の設定用紙";
  if (n >= 1 && n <= 118) return kNames[n - 1];
  return "";
}

std::string LayoutText(int choice) {
  switch (choice) {
    case 0:
      return "分割なし";
    case 1:
      return "2分割";
    case 2:
      return "4分割";
    case 3:
      return "8分割";
    default:
      return "";
  }
}

std::vector<std::string> RequestRow(const RequestRecord& r) {
  std::vector<std::string> row(kColumnCount);
  time_t t = static_cast<time_t>(r.mtime);
  struct tm tm {};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d/%.2d/%.2d %.2d:%.2d:%.2d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  row[0] = buf;
  Result<profile::IniDocument> doc = profile::Load(r.path);
  if (!doc.ok()) return row;
  auto get = [&](const char* key) { return Cut(doc->Get("RequestInfo", key).value_or(""), kMaxValueBytes); };
  row[1] = get("JobName");
  row[2] = get("AccountName");
  row[3] = get("DeviceName");
  row[4] = get("JobPages");
  // A number cell shows a name only when the whole value is a number.
  auto number = [](const std::string& s, int* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0' || v < -1000000 || v > 1000000) return false;
    *out = static_cast<int>(v);
    return true;
  };
  int n = 0;
  row[5] = number(get("PaperSize"), &n) ? PaperName(n) : "";
  row[6] = number(get("ThumbnailCount"), &n) ? LayoutText(n) : "";
  row[7] = get("Copies");
  return row;
}

ListView RequestList::Refresh(bool monitoring) {
  ListView v;
  v.count_text = CountText(0);
  if (!monitoring) return v;
  ServerNames names = ReadServerNames();
  if (!names.key_found) return v;
  if (!names.server || !names.share || !names.print_info_dir) {
    if (!reported_missing_) v.message = kRegistryMissingText;
    reported_missing_ = true;
    return v;
  }
  reported_missing_ = false;
  Result<std::string> folder = ShareFolder(names, *names.print_info_dir);
  if (!folder.ok()) return v;
  Result<std::vector<RequestRecord>> records = ListRequests(*folder);
  if (!records.ok()) return v;
  for (const RequestRecord& r : *records) v.rows.push_back(RequestRow(r));
  v.count_text = CountText(static_cast<int>(v.rows.size()));
  return v;
}

namespace {
std::optional<uint32_t> UserDword(const char* name) {
  auto key = registry::Key::Open(registry::RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return std::nullopt;
  auto v = key->GetDword(name);
  if (!v.ok()) return std::nullopt;
  return *v;
}
}  // namespace

int PollPeriodMs() {
  std::optional<uint32_t> s = UserDword("Monitor_Cycle");
  if (!s || *s == 0 || *s > 86400) return 3000;
  return static_cast<int>(*s) * 1000;
}

Placement ReadPlacement() {
  Placement p;
  auto l = UserDword("Monitor_Left"), t = UserDword("Monitor_Top"), w = UserDword("Monitor_Width"),
       h = UserDword("Monitor_Height");
  if (!l || !t || !w || !h) return p;
  // A negative coordinate was saved as a huge unsigned value: such a place falls back to the default.
  p.left = *l > 32766 ? 240 : static_cast<int>(*l);
  p.top = *t > 32766 ? 330 : static_cast<int>(*t);
  p.width = static_cast<int>(*w);
  p.height = static_cast<int>(*h);
  return p;
}

Status SavePlacement(const Placement& p) {
  auto key = registry::Key::Create(registry::RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return key.status();
  for (auto [name, v] : {std::pair{"Monitor_Left", p.left},
                         {"Monitor_Top", p.top},
                         {"Monitor_Width", p.width},
                         {"Monitor_Height", p.height}})
    if (Status s = key->SetDword(name, static_cast<uint32_t>(v)); !s.ok()) return s;
  return Status::Ok();
}

std::optional<std::vector<int>> StoredColumnWidths() {
  std::vector<int> read;
  for (int i = 0; i < kColumnCount; ++i) {
    std::optional<uint32_t> v = UserDword(("Monitor_Col" + std::to_string(i)).c_str());
    if (!v) return std::nullopt;
    read.push_back(*v > 201093784 ? 100 : static_cast<int>(*v));
  }
  return read;
}

Status SaveColumnWidths(const std::vector<int>& widths) {
  auto key = registry::Key::Create(registry::RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return key.status();
  for (int i = 0; i < kColumnCount && i < static_cast<int>(widths.size()); ++i)
    if (Status s = key->SetDword("Monitor_Col" + std::to_string(i), static_cast<uint32_t>(widths[i])); !s.ok())
      return s;
  return Status::Ok();
}

}  // namespace zv::monitor
