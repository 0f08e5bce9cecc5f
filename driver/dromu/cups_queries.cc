#include "driver/dromu/cups_queries.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <cstdlib>

namespace zv::driver::dromu {

CupsQueries::CupsQueries(std::function<std::string(PrinterHandle)> name_of, std::filesystem::path serverbin)
    : name_of_(std::move(name_of)), serverbin_(std::move(serverbin)) {}

std::optional<PrinterLevel2> CupsQueries::GetPrinter(PrinterHandle printer) {
  const std::string name = name_of_(printer);
  if (name.empty()) return std::nullopt;
  static const char* const kWanted[] = {"printer-make-and-model", "device-uri"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  const std::string uri = "ipp://localhost/printers/" + name;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
  ipp_t* answer = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  if (!answer || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    ippDelete(answer);
    return std::nullopt;
  }
  PrinterLevel2 info;
  info.printer_name = name;
  if (ipp_attribute_t* a = ippFindAttribute(answer, "printer-make-and-model", IPP_TAG_TEXT))
    info.driver_name = ippGetString(a, 0, nullptr);
  if (ipp_attribute_t* a = ippFindAttribute(answer, "device-uri", IPP_TAG_URI))
    if (const char* d = ippGetString(a, 0, nullptr); d && kPassThroughDevice == d)
      info.print_processor = kPrintProcessor;
  ippDelete(answer);
  return info;
}

bool CupsQueries::SetPrintProcessor(PrinterHandle printer, std::string_view processor) {
  if (processor != kPrintProcessor) return false;
  const std::string name = name_of_(printer);
  if (name.empty()) return false;
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  const std::string uri = "ipp://localhost/printers/" + name;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, std::string(kPassThroughDevice).c_str());
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

std::optional<std::vector<std::string>> CupsQueries::EnumPrintProcessors() {
  std::vector<std::string> list;
  struct stat st {};
  if (::stat((serverbin_ / "backend" / "zelvora").c_str(), &st) == 0 && S_ISREG(st.st_mode))
    list.emplace_back(kPrintProcessor);
  return list;
}

// The backend is the installer's to copy; nothing is added here.
bool CupsQueries::AddPrintProcessor(std::string_view, std::string_view) { return false; }

int CupsQueries::FormCount(PrinterHandle printer) { return name_of_(printer).empty() ? -1 : kPaperCount; }

std::string CupsQueries::TempPath() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

}  // namespace zv::driver::dromu
