// Test helper for window tests: the one QApplication of the test program, made on first use
// with Qt's Japanese translations loaded, as every window program of the system makes it, so
// the windows a test drives and the screenshots it saves show what a user sees.
#pragma once

#include <QApplication>

#include "platform/winmsg/qt/qt_translations.h"

namespace zv::testing {

// Takes nothing; gives the process's QApplication (a test program's own made elsewhere is
// kept as it is). Makes it on the first call when none exists, then loads Qt's translations;
// a missing catalogue leaves Qt's texts English and the translation tests fail on it.
inline QApplication& QtApp() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  // Static: QApplication keeps references to argc and argv for its whole life.
  static int argc = 1;
  static char name[] = "zelvora_window_test";
  static char* argv[] = {name, nullptr};
  auto* app = new QApplication(argc, argv);
  (void)winmsg::LoadQtTranslations();
  return *app;
}

}  // namespace zv::testing
