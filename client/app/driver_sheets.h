// Opens the driver's property sheets for one of the project's CUPS queues, as the printer
// properties command of the system would: the sheets over the queue's own settings (its
// PPD's defaults), shown without permission to change them, since a queue's defaults are
// the administrator's.
#pragma once

#include <functional>
#include <string>

#include "platform/base/status.h"

namespace zv::driver::sheets {
class SheetDialog;
}

namespace zv::client::app {

// Takes the queue's name and, for tests, a hook that shows and closes the sheet itself
// (empty: the sheet runs modally); shows the queue's property sheet. Ok once the sheet was
// shown (closed with OK or Cancel); an error when the sheet's resources or the queue cannot
// be had.
Status OpenDriverSheets(const std::string& queue,
                        std::function<void(driver::sheets::SheetDialog&)> before = {});

}  // namespace zv::client::app
