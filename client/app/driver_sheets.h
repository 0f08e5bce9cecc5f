// Opens the driver's property sheets for one of the project's CUPS queues, as the printer
// properties command of the system would: the sheets over the queue's own settings (its
// PPD's defaults), shown without permission to change them, since a queue's defaults are
// the administrator's.
#pragma once

#include <string>

#include "platform/base/status.h"

namespace zv::client::app {

// Takes the queue's name; runs its property sheet modally. Ok once the sheet was shown
// (closed with OK or Cancel); an error when the sheet's resources or the queue cannot be
// had.
Status OpenDriverSheets(const std::string& queue);

}  // namespace zv::client::app
