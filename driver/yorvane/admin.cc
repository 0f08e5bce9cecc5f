#include "driver/yorvane/admin.h"

#include <cups/cups.h>
#include <cups/ipp.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"

namespace zv::driver::yorvane {
namespace sfs = std::filesystem;

namespace {

class FolderBackend : public SpoolerAdmin {
 public:
  explicit FolderBackend(sfs::path root) : spooler_(std::move(root)) {}

  Result<std::vector<AdminPrinter>> EnumPrinters() override {
    auto list = spooler_.EnumPrinters();
    if (!list.ok()) return list.status();
    std::vector<AdminPrinter> out;
    for (const auto& p : *list) out.push_back({p.name, p.driver, p.port});
    return out;
  }

  Status AddPrinter(const NewPrinter& printer) override {
    spool::FolderPrinter p = spool::StandardFolderPrinter(printer.name);
    p.info.port = printer.port;
    p.info.driver = printer.driver;
    p.info.comment = printer.info;
    if (auto s = spooler_.AddPrinter(p); !s.ok()) return s;
    auto dir = spooler_.PrinterFolder(printer.name);
    if (!dir.ok()) return dir.status();
    return zv::fs::WriteFileAtomic((*dir / "printer.ppd").string(), printer.ppd);
  }

  Status DeletePrinter(const std::string& name) override { return spooler_.RemovePrinter(name); }

 private:
  spool::FolderSpooler spooler_;
};

std::string PrinterUri(const std::string& name) { return "ipp://localhost/printers/" + name; }

// Takes an IPP request; sends it (with a file when given) and gives the outcome.
Status Send(ipp_t* request, const char* resource, const char* file = nullptr) {
  ipp_t* answer = file ? cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, resource, file)
                       : cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource);
  ippDelete(answer);
  if (cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    const char* why = cupsLastErrorString();
    return Status::IOError(std::string("CUPS refused: ") + (why ? why : "unknown error"));
  }
  return Status::Ok();
}

class CupsBackend : public SpoolerAdmin {
 public:
  Result<std::vector<AdminPrinter>> EnumPrinters() override {
    static const char* const kWanted[] = {"printer-name", "printer-make-and-model", "device-uri"};
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
    ipp_t* answer = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    // No printers at all is an empty list, not a failure.
    if (!answer || (cupsLastError() > IPP_STATUS_OK_CONFLICTING && cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)) {
      ippDelete(answer);
      return Status::IOError(std::string("cannot list the printers: ") + cupsLastErrorString());
    }
    std::vector<AdminPrinter> out;
    AdminPrinter cur;
    auto flush = [&] {
      if (!cur.name.empty()) out.push_back(cur);
      cur = {};
    };
    for (ipp_attribute_t* a = ippFirstAttribute(answer); a; a = ippNextAttribute(answer)) {
      const char* n = ippGetName(a);
      if (!n) {
        flush();
        continue;
      }
      const char* v = ippGetString(a, 0, nullptr);
      if (!v) continue;
      if (std::string_view(n) == "printer-name") cur.name = v;
      else if (std::string_view(n) == "printer-make-and-model") cur.driver = v;
      else if (std::string_view(n) == "device-uri") cur.port = v;
    }
    flush();
    ippDelete(answer);
    return out;
  }

  Status AddPrinter(const NewPrinter& printer) override {
    char tmpl[] = "/tmp/zelvora-ppd.XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd < 0) return Status::IOError("cannot make a temporary PPD");
    const std::string path = tmpl;
    std::size_t done = 0;
    while (done < printer.ppd.size()) {
      const ssize_t n = ::write(fd, printer.ppd.data() + done, printer.ppd.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done != printer.ppd.size()) {
      ::unlink(path.c_str());
      return Status::IOError("cannot write the temporary PPD");
    }
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer.name).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, printer.port.c_str());
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr, printer.info.c_str());
    ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
    ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
    Status s = Send(request, "/admin/", path.c_str());
    ::unlink(path.c_str());
    return s;
  }

  Status DeletePrinter(const std::string& name) override {
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(name).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return Send(request, "/admin/");
  }
};

}  // namespace

std::unique_ptr<SpoolerAdmin> FolderAdmin(sfs::path root) { return std::make_unique<FolderBackend>(std::move(root)); }
std::unique_ptr<SpoolerAdmin> CupsAdmin() { return std::make_unique<CupsBackend>(); }

}  // namespace zv::driver::yorvane
