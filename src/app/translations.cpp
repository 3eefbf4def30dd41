#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool installChineseTranslations() {
  // Owned by the application object, so it lives as long as the texts are needed.
  auto* translator = new QTranslator(QCoreApplication::instance());
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}
