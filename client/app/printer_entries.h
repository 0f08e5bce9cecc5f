// The printers of "printers.lst" as the client's printer and paper lists use them: per
// printer its name, network address and papers (code, form name, size and unprintable
// margins). Element 0 of every paper list stands for the paper set in the document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zv::client::app {

inline constexpr char kDocumentPaperName[] = "文書の設定用紙";

struct PaperChoice {
  int32_t code = -1;
  std::string form;
  int32_t width = 0, height = 0;                     // 0.1 mm, width <= height
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // 0.1 mm, turned with the paper
};

struct PrinterEntry {
  std::string name;
  std::string ip;  // "IPaddr"
  std::vector<PaperChoice> papers;
};

// Takes the text of "printers.lst"; gives its printers in the order of the "[PRINTERS]"
// section. Lists shorter than "PaperSize" leave names empty and sizes 0; a size read wider
// than high is turned upright and its margins turned with it (left = top, top = right,
// right = bottom, bottom = left). Each value is read to 5120 bytes at most.
std::vector<PrinterEntry> ParsePrinterEntries(std::string_view text);

// Takes a printer and a paper code; gives the index of its first paper with that code, or
// 0 when none has it.
int PaperIndexFor(const PrinterEntry& printer, int32_t code);

// Takes the printers and a name; gives the index of the printer of that exact name, or 0.
int PrinterIndexFor(const std::vector<PrinterEntry>& printers, std::string_view name);

}  // namespace zv::client::app
