// Start-up of the window program: working directory, globals, the window and its created
// event, the message loop, and an orderly shutdown while the window still exists.
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "bindings.h"
#include "main_window.h"
#include "platform/system_info.h"
#include "qt_window.h"
#include "shell/globals.h"
#include "shell/program_folder.h"
#include "translations.h"
#include "update/settings.h"

namespace {

void outOfMemory() {
  // No allocation may happen here; the text goes to standard error.
  static const char kText[] = "运行时出错!\n分配内存失败!\n";
  (void)!::write(2, kText, sizeof kText - 1);
  std::_Exit(-1);
}

// Qt ends the process by itself when it finds no display; say it in the system's words first.
bool displayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler(outOfMemory);
  if (!displayAvailable()) {
    std::fprintf(stderr, "运行时出错!\n载入启动窗口失败\n");
    return -1;
  }
  QApplication application(argc, argv);
  application.setApplicationDisplayName(QStringLiteral("下载器"));
  application.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 9));
  installChineseTranslations();  // without them Qt's own buttons stay in English
  if (::chdir(programDirectory().c_str()) != 0) {
    // Files are always named from programDir, so the working directory is only a courtesy.
  }
  std::unique_ptr<Globals> globals;
  initGlobals(globals);
  startupRoutine();
  int result = 0;
  {
    // Held for the window's whole life, released after the download has been stopped.
    FolderLock folderLock;
    MainWindow window;
    QtWindow bridge(&window);
    Globals& g = *globals;
    g.window = &bridge;
    window.show();
    // Before any handler is bound, so a refused window closes having written nothing.
    if (!claimProgramFolder(bridge, g.programDirectorySource(), folderLock)) {
      freeGlobals(globals);
      return 1;
    }
    window.bindEvents(g);
    bindDownloadButtons(window, g);
    bindInstallButtons(window, g);
    onMainWindowCreated(g);
    window.startCheckTimer();
    result = application.exec();
    // The download is stopped and its threads waited for while the window still exists.
    freeGlobals(globals);
  }
  return result;
}
