// Opens the real window over a given manifest and program folder and saves a picture of
// each tab page: downloader-screenshots --manifest URL --dir PROGRAM_DIR --out FOLDER
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "bindings.h"
#include "main_window.h"
#include "qt_window.h"
#include "shell/globals.h"
#include "update/settings.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 9));
  std::string manifest, dir, out = ".";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--manifest") manifest = argv[i + 1];
    if (option == "--dir") dir = argv[i + 1];
    if (option == "--out") out = argv[i + 1];
  }
  if (manifest.empty() || dir.empty()) {
    std::fprintf(stderr, "usage: downloader-screenshots --manifest URL --dir DIR [--out DIR]\n");
    return 2;
  }
  QDir().mkpath(QString::fromStdString(out));
  initGlobals();
  globals->manifestUrl = manifest;
  globals->programDirectorySource = [dir] { return dir; };
  int result = 0;
  {
    MainWindow window;
    QtWindow bridge(&window);
    globals->window = &bridge;
    window.bindEvents();
    window.show();
    onMainWindowCreated();
    QApplication::processEvents();
    const char* names[] = {"window-download.png", "window-settings.png"};
    for (int page = 0; page < 2; ++page) {
      window.选择夹1->setCurrentIndex(page);
      QApplication::processEvents();
      QString path = QString::fromStdString(out + "/" + names[page]);
      if (!window.grab().save(path)) result = 1;
      std::printf("%s\n", path.toUtf8().constData());
    }
    freeGlobals();
  }
  return result;
}
