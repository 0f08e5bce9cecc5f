// Qt's own texts in Japanese for every window program: the buttons of message boxes and
// button boxes ("はい", "いいえ", "キャンセル"), file and colour dialogs, the edit menus of text
// fields. The system's windows are Japanese throughout, whatever the user's locale says.
#pragma once

#include "platform/base/status.h"

namespace zv::winmsg {

// Takes nothing (call it once, right after the QApplication is made); installs Qt's
// Japanese translations from Qt's translations folder on the application (they live as long
// as it does) and makes Japanese the default locale. Gives NotFound when the catalogue is
// missing (the package of Qt's translations is not installed): Qt's texts stay English.
[[nodiscard]] Status LoadQtTranslations();

}  // namespace zv::winmsg
