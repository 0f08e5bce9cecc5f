// Printer information and the managed-printer list "printers.lst": one printer's name,
// comment, network address and papers (sizes and unprintable margins) from the spooler, and
// the file's writers (create, add, delete). The console writes the same file with this code.
//
// The file (CR LF line ends): "[PRINTERS]", one "name=comment" line per printer, an empty
// line, then per printer a block of seven lines: "[name]", "IPaddr=", "PaperSize=-1,...",
// "Forms=文書の設定用紙,...", "Size=(,),(w,h)...", "Margin=(,,,),(l,t,r,b)..." and an empty
// line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/progress.h"
#include "platform/base/status.h"
#include "platform/spool/spool.h"

namespace zv::client {

// The system's own virtual printer, never written to the list.
inline constexpr char kVirtualPrinterName[] = "Zelvora";

struct PaperInfo {
  uint16_t code = 0xFFFF;
  std::string form;
  int32_t width = 0, height = 0;                     // 0.1 mm
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // unprintable margins, 0.1 mm
};

struct PrinterInfo {
  std::string name, comment;
  std::vector<PaperInfo> papers;
  std::string ip;  // dotted quad from the port, or empty
};

// Takes a port name (a Windows port such as "IP_192.168.0.20" or a device URI such as
// "socket://10.0.0.5:9100"); gives the first dotted quad in it whose four numbers are 0..255
// and which no further digit or dot touches, or "" when there is none.
std::string PortToIpAddress(std::string_view port);

// Gives the names of all printers of the spooler, in its order.
std::vector<std::string> ListLocalPrinters(spool::Spooler& spooler);

// Describes the printer `name` (compared without regard to case): name and comment as the
// spooler lists them, the address from its port, its papers with their margins. False when
// there is no such printer or its papers cannot be read.
bool MakePrnDeviceInfo(spool::Spooler& spooler, const std::string& name, PrinterInfo* out);

// Gives the list lines ("name=comment") and the seven-line blocks of the records.
std::vector<std::string> PrinterListLines(const std::vector<PrinterInfo>& printers);
std::vector<std::string> PrinterBlockLines(const std::vector<PrinterInfo>& printers);

// Writes the whole file anew (through a temporary name).
Status CreatePrinterInfoFile(const std::string& path, const std::vector<PrinterInfo>& printers);
// Adds printers: the existing list, the new list lines, an empty line, the existing blocks,
// the new blocks. NotFound when the file cannot be read (then nothing changes).
Status AddToPrinterInfoFile(const std::string& path, const std::vector<PrinterInfo>& printers);
// Removes the printers named (whole names: "P1" never touches "P10"): their list lines and
// their whole blocks. NotFound when the file cannot be read.
Status DeleteFromPrinterInfoFile(const std::string& path, const std::vector<std::string>& names);

// Gives the printer names of a "printers.lst" text, in list order.
std::vector<std::string> PrinterNamesInList(std::string_view text);

// What BuildPrinterList does.
struct PrinterListUpdate {
  enum Mode { kFull, kAdd, kDelete } mode = kFull;
  std::vector<std::string> names;  // the printers to add or delete (kAdd, kDelete)
  bool first_build = false;        // kFull: the local list did not exist yet (progress mode 1)
};

// Gathers and writes the list: kFull describes every printer of the spooler but "Zelvora"
// and writes the file anew; kAdd describes the named printers and adds them; kDelete
// removes the named ones. With a progress model (may be null), opens it when printers are to
// be collected (kFull on a first build: mode 1; kAdd: mode 2) with the total of the printers
// to collect, and steps it per printer collected. Printers that cannot be described are left
// out. Gives the writer's failure.
Status BuildPrinterList(spool::Spooler& spooler, const std::string& path, const PrinterListUpdate& update,
                        ProgressModel* progress);

// The check of a local list (no server) against the installed printers. Takes the list's
// text (null when the file does not exist) and the installed printers' names; gives the
// updates to run in order: a first full build when there is no list; else the removal of
// listed printers no longer installed, then the addition of installed printers not listed
// (names compared exactly; "Zelvora" is neither listed nor added).
std::vector<PrinterListUpdate> LocalListUpdates(const std::string* list_text,
                                                const std::vector<std::string>& installed);

}  // namespace zv::client
