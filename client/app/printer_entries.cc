#include "client/app/printer_entries.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/profile/profile.h"

namespace zv::client::app {
namespace {

constexpr size_t kValueLimit = 5120;

std::string Limited(std::string v) {
  if (v.size() > kValueLimit - 1) v.resize(kValueLimit - 1);
  return v;
}

// Splits "a,b,c" at every comma (an empty value gives one empty element).
std::vector<std::string> SplitCommas(std::string_view v) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t c = v.find(',', start);
    out.emplace_back(v.substr(start, c == std::string_view::npos ? std::string_view::npos : c - start));
    if (c == std::string_view::npos) break;
    start = c + 1;
  }
  return out;
}

// Gives the elements "(...)" of a Size or Margin list, the text inside each pair.
std::vector<std::string> SplitParens(std::string_view v) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (;;) {
    size_t open = v.find('(', pos);
    if (open == std::string_view::npos) break;
    size_t close = v.find(')', open);
    if (close == std::string_view::npos) break;
    out.emplace_back(v.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return out;
}

int32_t Number(const std::vector<std::string>& parts, size_t i) {
  if (i >= parts.size()) return 0;
  return static_cast<int32_t>(std::strtol(parts[i].c_str(), nullptr, 10));
}

}  // namespace

std::vector<PrinterEntry> ParsePrinterEntries(std::string_view text) {
  const profile::IniDocument ini = profile::IniDocument::Parse(text);
  std::vector<PrinterEntry> out;
  for (const std::string& name : ini.KeyNames("PRINTERS")) {
    PrinterEntry p;
    p.name = name;
    auto get = [&](std::string_view key) { return Limited(ini.Get(name, key).value_or("")); };
    p.ip = get("IPaddr");
    const auto codes = SplitCommas(get("PaperSize"));
    const auto forms = SplitCommas(get("Forms"));
    const auto sizes = SplitParens(get("Size"));
    const auto margins = SplitParens(get("Margin"));
    for (size_t i = 0; i < codes.size(); ++i) {
      PaperChoice c;
      c.code = Number(codes, i);
      if (i < forms.size()) c.form = forms[i];
      auto size = i < sizes.size() ? SplitCommas(sizes[i]) : std::vector<std::string>{};
      auto margin = i < margins.size() ? SplitCommas(margins[i]) : std::vector<std::string>{};
      c.width = Number(size, 0);
      c.height = Number(size, 1);
      c.left = Number(margin, 0);
      c.top = Number(margin, 1);
      c.right = Number(margin, 2);
      c.bottom = Number(margin, 3);
      if (c.width > c.height) {
        std::swap(c.width, c.height);
        const int32_t l = c.left;
        c.left = c.top;
        c.top = c.right;
        c.right = c.bottom;
        c.bottom = l;
      }
      p.papers.push_back(std::move(c));
    }
    if (p.papers.empty()) p.papers.push_back({-1, kDocumentPaperName});
    // Element 0 always stands for the document's own paper.
    p.papers[0] = PaperChoice{-1, kDocumentPaperName};
    out.push_back(std::move(p));
  }
  return out;
}

int PaperIndexFor(const PrinterEntry& printer, int32_t code) {
  for (size_t i = 0; i < printer.papers.size(); ++i)
    if (printer.papers[i].code == code) return static_cast<int>(i);
  return 0;
}

int PrinterIndexFor(const std::vector<PrinterEntry>& printers, std::string_view name) {
  for (size_t i = 0; i < printers.size(); ++i)
    if (printers[i].name == name) return static_cast<int>(i);
  return 0;
}

}  // namespace zv::client::app
