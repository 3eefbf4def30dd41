// Opens the real window and saves pictures of it, for the README and the demo:
//   downloader-tour --manifest URL --dir PROGRAM_DIR --out FOLDER            both tab pages
//   downloader-tour ... --road MISSING_ROOT SERVER_ROOT                      the road of the
//       server package: start, download, install into two roots (one missing), each step
//       and each message box saved as a numbered picture.
// Exit status 0 when every picture was saved (and, on the road, the package installed).
#include <QApplication>
#include <QDir>
#include <QFont>
#include <cstdio>
#include <memory>
#include <string>

#include "main_window.h"
#include "qt_window.h"
#include "shell/globals.h"
#include "tour.h"
#include "translations.h"
#include "update/settings.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 9));
  TourOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (option == "--manifest") options.manifest = next();
    if (option == "--dir") options.dir = next();
    if (option == "--out") options.out = next();
    if (option == "--road") {
      options.missingRoot = next();
      options.serverRoot = next();
    }
  }
  if (options.manifest.empty() || options.dir.empty()) {
    std::fprintf(stderr,
                 "usage: downloader-tour --manifest URL --dir DIR [--out DIR] "
                 "[--road MISSING_ROOT SERVER_ROOT]\n");
    return 2;
  }
  QDir().mkpath(QString::fromStdString(options.out));
  installChineseTranslations();
  std::unique_ptr<Globals> globals;
  initGlobals(globals);
  Globals& g = *globals;
  g.manifestUrl = options.manifest;
  std::string dir = options.dir;
  g.programDirectorySource = [dir] { return dir; };
  int result = 0;
  {
    MainWindow window;
    QtWindow bridge(&window);
    g.window = &bridge;
    wireWindow(window, g);
    window.show();
    onMainWindowCreated(g);
    window.startCheckTimer();
    Tour tour(window, g, options.out);
    result = options.serverRoot.empty() ? tour.pages() : tour.road(options);
    window.close();
    freeGlobals(globals);
  }
  return result;
}
