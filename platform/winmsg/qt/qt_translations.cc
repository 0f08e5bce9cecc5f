#include "platform/winmsg/qt/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace zv::winmsg {

Status LoadQtTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return Status::InvalidArgument("Qt's translations need the application object first");
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  // "qt_ja" is the catalogue that pulls in the modules' own ones (qtbase_ja and the rest).
  auto* translator = new QTranslator(app);
  if (!translator->load(QStringLiteral("qt_ja"), folder)) {
    delete translator;
    return Status::NotFound("Qt's Japanese translations are not in " + folder.toStdString());
  }
  QCoreApplication::installTranslator(translator);
  return Status::Ok();
}

}  // namespace zv::winmsg
