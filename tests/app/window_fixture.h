#pragma once
// The real main window under the offscreen platform, wired as the program wires it, with
// its program directory in a scratch folder and its manifest on a loopback nginx.
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bindings.h"
#include "main_window.h"
#include "nginx_server.h"
#include "qt_window.h"
#include "shell/globals.h"
#include "temp_dir.h"
#include "update/settings.h"

struct WindowFixture {
  TempDir program;
  TempDir site;
  std::unique_ptr<NginxServer> server;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<QtWindow> bridge;
  uint64_t now = 1000;
  std::unique_ptr<Globals> globals;
  std::string manifestUrl;                  // the manifest to read instead of the one on `server`
  std::function<void(Globals&)> configure;  // runs before the window's created event

  // Creates the window and runs its created event, as start-up does.
  // Without `waitForCheck` it returns while the start-up check may still run.
  void open(bool bindPackageButtons = true, bool waitForCheck = true) {
    if (!server) server = std::make_unique<NginxServer>(site.path());
    initGlobals(globals);
    globals->programDirectorySource = [this] { return program.path(); };
    globals->manifestUrl = manifestUrl.empty() ? server->url("/xiazaiqi/xiazai.txt") : manifestUrl;
    if (configure) configure(*globals);
    globals->clock = [this] { return now; };
    window = std::make_unique<MainWindow>();
    bridge = std::make_unique<QtWindow>(window.get());
    globals->window = bridge.get();
    window->bindEvents(*globals);
    if (bindPackageButtons) {
      bindDownloadButtons(*window, *globals);
      bindInstallButtons(*window, *globals);
    }
    window->show();
    onMainWindowCreated(*globals);
    window->startCheckTimer();
    if (waitForCheck) settle();
  }

  // Handles window events until the running update check (if any) has shown its result.
  bool settle(int timeoutMs = 30000) {
    return QTest::qWaitFor([this] { return !globals || !globals->checkRunning; }, timeoutMs);
  }

  // Closes the window the way the program ends: globals go while the window exists.
  void close() {
    if (!window) return;
    window->close();
    freeGlobals(globals);
    bridge.reset();
    window.reset();
  }

  ~WindowFixture() { close(); }
};

// Answers every message box that opens, recording its text, until destroyed.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts.push_back(box->text().toStdString());
        owners.push_back(box->parentWidget() != nullptr);
        box->accept();
      }
    });
    timer_.start();
  }
  std::vector<std::string> texts;
  std::vector<bool> owners;  // true when owned by the main window

 private:
  QTimer timer_;
};
