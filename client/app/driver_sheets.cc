#include "client/app/driver_sheets.h"

#include <cups/cups.h>
#include <sys/mman.h>
#include <unistd.h>

#include "driver/dromu/cups_queries.h"
#include "driver/dromu/sheets/paper_page.h"
#include "driver/dromu/sheets/property_sheets.h"
#include "driver/gastrelo/gastrelo.h"
#include "driver/kelvad/raster_job.h"

namespace zv::client::app {

Status OpenDriverSheets(const std::string& queue, std::function<void(driver::sheets::SheetDialog&)> before) {
  auto res = driver::gastrelo::Resources::Load();
  if (!res.ok()) return res.status();
  // The queue's PPD holds its defaults; without one the driver's tables give them.
  std::string ppd;
  if (int fd = ::memfd_create("zelvora-ppd", MFD_CLOEXEC); fd >= 0) {
    const std::string resource = "/printers/" + queue + ".ppd";
    if (cupsGetFd(CUPS_HTTP_DEFAULT, resource.c_str(), fd) == HTTP_STATUS_OK && ::lseek(fd, 0, SEEK_SET) == 0) {
      char buffer[8192];
      for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) ppd.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
  }
  driver::PpdQueuePlatform ops(queue, ppd);
  // The sheets ask the server only for the queue's attributes; its program folder (where
  // the print processor's backend would lie) is Debian's.
  driver::dromu::CupsQueries queries([queue](driver::PrinterHandle) { return queue; }, "/usr/lib/cups");
  const driver::PrinterHandle handle = ops.OpenPrinter(queue);
  const driver::sheets::SheetInfo sheet{**res, driver::sheets::QtShowPage(**res, QString::fromStdString(queue), std::move(before))};
  // The sheet's own outcome (OK or Cancel) changes nothing here: the queue's settings stay
  // the administrator's.
  const long shown = driver::sheets::DrvDevicePropertySheets(
      driver::dromu::Host{ops, queries}, &sheet, {handle, driver::sheets::kDeviceNoPermission});
  if (shown < 0) return Status::NotFound("no property sheet for the queue \"" + queue + "\"");
  return Status::Ok();
}

}  // namespace zv::client::app
