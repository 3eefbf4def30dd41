#include "tour.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bindings.h"
#include "main_window.h"
#include "shell/globals.h"

void wireWindow(MainWindow& window, Globals& g) {
  window.bindEvents(g);
  bindDownloadButtons(window, g);
  bindInstallButtons(window, g);
}

bool Tour::save(const QString& name) {
  QApplication::processEvents();
  QString path = QString::fromStdString(out_) + "/" + name;
  bool ok = window_.grab().save(path);
  std::printf("%s%s\n", path.toUtf8().constData(), ok ? "" : " (not saved)");
  if (!ok) ++failures_;
  return ok;
}

bool Tour::waitFor(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

int Tour::pages() {
  waitFor([this] { return !g_.checkRunning; }, 60000);
  const char* names[] = {"window-download.png", "window-settings.png"};
  for (int page = 0; page < 2; ++page) {
    window_.选择夹1->setCurrentIndex(page);
    save(names[page]);
  }
  window_.选择夹1->setCurrentIndex(0);
  // A download the server refuses: the status line says why.
  QTest::mouseClick(window_.按钮_下载功能, Qt::LeftButton);
  if (!waitFor([this] { return g_.downloadBusy == 0 && !g_.checkRunning; }, 60000)) {
    std::fprintf(stderr, "the download did not end\n");
    return 1;
  }
  save("window-download-failed.png");
  return failures_ == 0 ? 0 : 1;
}

int Tour::road(const TourOptions& options) {
  waitFor([this] { return !g_.checkRunning; }, 60000);
  save("1-start.png");
  QTest::mouseClick(window_.按钮_下载三端, Qt::LeftButton);
  save("2-downloading.png");
  // The download ends with an update check; its marks and buttons are the next picture.
  if (!waitFor([this] { return g_.downloadBusy == 0 && !g_.checkRunning; }, 120000)) {
    std::fprintf(stderr, "the download did not end\n");
    return 1;
  }
  save("3-downloaded.png");

  window_.编辑框_三端目录->setPlainText(
      QString::fromStdString(options.missingRoot + "\n" + options.serverRoot));
  // Every message box of the install is pictured, then answered.
  std::vector<std::string> boxes;
  QTimer answerer;
  answerer.setInterval(20);
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    boxes.push_back(box->text().toStdString());
    QString name = QString("4-message-%1.png").arg(boxes.size());
    QPixmap picture = box->grab();
    picture.save(QString::fromStdString(out_) + "/" + name);
    std::printf("%s/%s: %s\n", out_.c_str(), name.toUtf8().constData(),
                box->text().toUtf8().constData());
    box->accept();
  });
  answerer.start();
  QTest::mouseClick(window_.按钮_安装三端, Qt::LeftButton);
  answerer.stop();
  save("5-installed.png");
  bool finished = !boxes.empty() && boxes.back() == "安装完成";
  return failures_ == 0 && finished ? 0 : 1;
}
