// CRpqcprtd: the print dialog object that both print jobs fill and use without showing it,
// as the carrier of one print's printer selection (device names, device mode and the printer
// device context made from them), page range, copies, paper flag and binding kind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spool/devmode.h"
#include "printing/printer_dc.h"

namespace zv::printing {

// Print dialog flags (PRINTDLG Flags) the print jobs use.
inline constexpr std::uint32_t PD_ALLPAGES = 0x00000000;
inline constexpr std::uint32_t PD_NOSELECTION = 0x00000004;
inline constexpr std::uint32_t PD_PAGENUMS = 0x00000002;
inline constexpr std::uint32_t PD_COLLATE = 0x00000010;
inline constexpr std::uint32_t PD_HIDEPRINTTOFILE = 0x00100000;
inline constexpr std::uint32_t PD_ENABLEPRINTTEMPLATE = 0x00004000;

// The PRINTDLG fields the print jobs read and write.
struct PrintDlgData {
  std::uint32_t Flags = 0;
  std::uint16_t nFromPage = 1, nToPage = 1, nMinPage = 1, nMaxPage = 1;
  std::uint16_t nCopies = 1;
  std::vector<std::uint8_t> hDevNames;     // DEVNAMES block; empty when none
  std::optional<spool::DevMode> hDevMode;  // the device mode; none when none
};

class CRpqcprtd {
 public:
  // Takes the print-setup flag, the dialog flags and a title (null: none); the paper flag,
  // binding kind and held device mode start empty. `trace` (may be empty) receives the
  // entry and exit lines of the constructor and destructor.
  CRpqcprtd(bool print_setup_only, std::uint32_t flags, const char* title,
            std::function<void(const std::string&)> trace = {});
  // Frees the held device mode and the printer device context.
  ~CRpqcprtd();
  CRpqcprtd(const CRpqcprtd&) = delete;
  CRpqcprtd& operator=(const CRpqcprtd&) = delete;

  PrintDlgData m_pd;

  const std::string& title() const { return title_; }
  bool print_setup_only() const { return print_setup_only_; }
  // Print on the paper set in the printer's properties and zoom the pages onto it.
  bool paper_flag = false;
  // The layout mode of the print.
  int binding_kind = 0;
  // A device mode the dialog owns (none at construction).
  std::optional<spool::DevMode> held_devmode;

  // The copies of the print (nCopies, at least 1).
  int GetCopies() const;
  // The device mode of the selection (null when none).
  spool::DevMode* GetDevMode();
  // Takes the spooler and the surface maker; creates the printer device context from the
  // device names and device mode (the printer named in the device names). Fails when either
  // block is missing or unreadable, or the printer cannot be opened.
  Result<PrinterDC*> CreatePrinterDC(spool::Spooler& spooler, SheetSurfaceFactory surfaces);
  // The device context made by CreatePrinterDC (null before).
  PrinterDC* printer_dc() { return dc_.get(); }
  // Deletes the device context (ending nothing: a started document is aborted).
  void DeletePrinterDC() { dc_.reset(); }

 private:
  std::string title_;
  bool print_setup_only_ = false;
  std::function<void(const std::string&)> trace_;
  std::unique_ptr<PrinterDC> dc_;
};

}  // namespace zv::printing
