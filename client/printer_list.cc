#include "client/printer_list.h"

#include <algorithm>

#include "platform/base/ascii.h"
#include "platform/fs/files.h"

namespace zv::client {

std::string PortToIpAddress(std::string_view port) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (size_t start = 0; start < port.size(); ++start) {
    if (!digit(port[start]) || (start > 0 && (digit(port[start - 1]) || port[start - 1] == '.'))) continue;
    size_t pos = start;
    int parts = 0;
    bool ok = true;
    while (parts < 4) {
      size_t begin = pos;
      while (pos < port.size() && digit(port[pos]) && pos - begin < 4) ++pos;
      size_t len = pos - begin;
      if (len == 0 || len > 3 || std::stoi(std::string(port.substr(begin, len))) > 255) {
        ok = false;
        break;
      }
      ++parts;
      if (parts < 4) {
        if (pos >= port.size() || port[pos] != '.') {
          ok = false;
          break;
        }
        ++pos;
      }
    }
    if (!ok) continue;
    if (pos < port.size() && (digit(port[pos]) || port[pos] == '.')) continue;
    return std::string(port.substr(start, pos - start));
  }
  return "";
}

std::vector<std::string> ListLocalPrinters(spool::Spooler& spooler) {
  std::vector<std::string> names;
  auto printers = spooler.EnumPrinters();
  if (printers.ok())
    for (const auto& p : *printers) names.push_back(p.name);
  return names;
}

bool MakePrnDeviceInfo(spool::Spooler& spooler, const std::string& name, PrinterInfo* out) {
  auto printers = spooler.EnumPrinters();
  if (!printers.ok() || printers->empty()) return false;
  auto it = std::find_if(printers->begin(), printers->end(),
                         [&](const spool::PrinterInfo& p) { return EqualsNoCase(p.name, name); });
  if (it == printers->end()) return false;
  auto caps = spooler.GetCapabilities(it->name);
  if (!caps.ok()) return false;
  PrinterInfo info;
  info.name = it->name;
  info.comment = it->comment;
  info.ip = PortToIpAddress(it->port);
  for (const auto& p : caps->papers) {
    PaperInfo paper;
    paper.code = static_cast<uint16_t>(p.code);
    paper.form = p.name;
    paper.width = p.width;
    paper.height = p.length;
    paper.left = p.left;
    paper.top = p.top;
    paper.right = p.right;
    paper.bottom = p.bottom;
    info.papers.push_back(std::move(paper));
  }
  *out = std::move(info);
  return true;
}

namespace {

// A value of the file stays on its line.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line(text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return lines;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

// The existing file as its list part (up to the first empty line) and the rest.
Status ReadParts(const std::string& path, std::vector<std::string>* list, std::vector<std::string>* rest) {
  auto text = fs::ReadFile(path, 16u << 20);
  if (!text.ok()) return text.status();
  bool in_list = true;
  for (auto& line : SplitLines(*text)) {
    if (in_list && line.empty()) {
      in_list = false;
      continue;
    }
    (in_list ? list : rest)->push_back(std::move(line));
  }
  return Status::Ok();
}

// The name of a list line "name=comment".
std::string ListLineName(const std::string& line) { return line.substr(0, line.find('=')); }

}  // namespace

std::vector<std::string> PrinterListLines(const std::vector<PrinterInfo>& printers) {
  std::vector<std::string> lines;
  for (const auto& p : printers) lines.push_back(OneLine(p.name) + "=" + OneLine(p.comment));
  return lines;
}

std::vector<std::string> PrinterBlockLines(const std::vector<PrinterInfo>& printers) {
  std::vector<std::string> lines;
  for (const auto& p : printers) {
    std::string codes = "-1", forms = "文書の設定用紙", sizes = "(,)", margins = "(,,,)";
    for (const auto& paper : p.papers) {
      codes += "," + std::to_string(paper.code);
      forms += "," + OneLine(paper.form);
      sizes += ",(" + std::to_string(paper.width) + "," + std::to_string(paper.height) + ")";
      margins += ",(" + std::to_string(paper.left) + "," + std::to_string(paper.top) + "," +
                 std::to_string(paper.right) + "," + std::to_string(paper.bottom) + ")";
    }
    lines.push_back("[" + OneLine(p.name) + "]");
    lines.push_back("IPaddr=" + p.ip);
    lines.push_back("PaperSize=" + codes);
    lines.push_back("Forms=" + forms);
    lines.push_back("Size=" + sizes);
    lines.push_back("Margin=" + margins);
    lines.push_back("");
  }
  return lines;
}

Status CreatePrinterInfoFile(const std::string& path, const std::vector<PrinterInfo>& printers) {
  std::vector<std::string> lines{"[PRINTERS]"};
  for (auto& l : PrinterListLines(printers)) lines.push_back(std::move(l));
  lines.push_back("");
  for (auto& l : PrinterBlockLines(printers)) lines.push_back(std::move(l));
  return fs::WriteFileAtomic(path, JoinCrLf(lines));
}

Status AddToPrinterInfoFile(const std::string& path, const std::vector<PrinterInfo>& printers) {
  std::vector<std::string> list, rest;
  Status read = ReadParts(path, &list, &rest);
  if (!read.ok()) return read;
  for (auto& l : PrinterListLines(printers)) list.push_back(std::move(l));
  list.push_back("");
  list.insert(list.end(), rest.begin(), rest.end());
  for (auto& l : PrinterBlockLines(printers)) list.push_back(std::move(l));
  return fs::WriteFileAtomic(path, JoinCrLf(list));
}

Status DeleteFromPrinterInfoFile(const std::string& path, const std::vector<std::string>& names) {
  std::vector<std::string> list, rest;
  Status read = ReadParts(path, &list, &rest);
  if (!read.ok()) return read;
  auto named = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  std::vector<std::string> out;
  for (size_t i = 0; i < list.size(); ++i) {
    // The "[PRINTERS]" header stays; list lines go by their whole name.
    if (i == 0 || !named(ListLineName(list[i]))) out.push_back(list[i]);
  }
  out.push_back("");
  for (size_t i = 0; i < rest.size(); ++i) {
    const std::string& l = rest[i];
    if (l.size() >= 2 && l.front() == '[' && l.back() == ']' && named(l.substr(1, l.size() - 2))) {
      i += 6;  // the name line and the six lines of its block
      continue;
    }
    out.push_back(l);
  }
  return fs::WriteFileAtomic(path, JoinCrLf(out));
}

std::vector<std::string> PrinterNamesInList(std::string_view text) {
  std::vector<std::string> names;
  auto lines = SplitLines(text);
  for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) names.push_back(ListLineName(lines[i]));
  return names;
}

Status BuildPrinterList(spool::Spooler& spooler, const std::string& path, const PrinterListUpdate& update,
                        ProgressModel* progress) {
  if (update.mode == PrinterListUpdate::kDelete) return DeleteFromPrinterInfoFile(path, update.names);
  std::vector<std::string> local = ListLocalPrinters(spooler);
  std::vector<std::string> todo;
  for (const auto& n : local) {
    if (n == kVirtualPrinterName) continue;
    if (update.mode == PrinterListUpdate::kAdd &&
        std::find(update.names.begin(), update.names.end(), n) == update.names.end())
      continue;
    todo.push_back(n);
  }
  const int total = static_cast<int>(todo.size());
  bool show =
      progress && total > 0 &&
      (update.mode == PrinterListUpdate::kAdd || (update.mode == PrinterListUpdate::kFull && update.first_build));
  if (show)
    progress->Open(update.mode == PrinterListUpdate::kAdd ? ProgressModel::kConfigChanged : ProgressModel::kFirstBuild,
                   total);
  std::vector<PrinterInfo> records;
  for (const auto& n : todo) {
    PrinterInfo info;
    if (!MakePrnDeviceInfo(spooler, n, &info)) continue;
    records.push_back(std::move(info));
    if (show) progress->Step(static_cast<int>(records.size()));
  }
  if (show) progress->Close();
  if (update.mode == PrinterListUpdate::kFull) return CreatePrinterInfoFile(path, records);
  return AddToPrinterInfoFile(path, records);
}

std::vector<PrinterListUpdate> LocalListUpdates(const std::string* list_text,
                                                const std::vector<std::string>& installed) {
  std::vector<PrinterListUpdate> out;
  if (list_text == nullptr) {
    PrinterListUpdate full;
    full.first_build = true;
    out.push_back(full);
    return out;
  }
  std::vector<std::string> listed;
  for (auto& n : PrinterNamesInList(*list_text))
    if (n != kVirtualPrinterName) listed.push_back(std::move(n));
  auto has = [](const std::vector<std::string>& v, const std::string& n) {
    return std::find(v.begin(), v.end(), n) != v.end();
  };
  PrinterListUpdate gone{PrinterListUpdate::kDelete, {}, false};
  for (const auto& n : listed)
    if (!has(installed, n)) gone.names.push_back(n);
  PrinterListUpdate added{PrinterListUpdate::kAdd, {}, false};
  for (const auto& n : installed)
    if (n != kVirtualPrinterName && !has(listed, n) && !has(added.names, n)) added.names.push_back(n);
  if (!gone.names.empty()) out.push_back(std::move(gone));
  if (!added.names.empty()) out.push_back(std::move(added));
  return out;
}

}  // namespace zv::client
