#include <QPushButton>

#include "bindings.h"
#include "download_jobs/package_download.h"
#include "main_window.h"

void bindDownloadButtons(MainWindow& window) {
  const std::pair<QPushButton*, const DownloadRow*> buttons[] = {
      {window.按钮_下载三端, &serverDownloadRow()},
      {window.按钮_下载功能, &pluginDownloadRow()},
      {window.按钮_下载反挂, &antiCheatDownloadRow()},
      {window.按钮_下载工具, &toolsDownloadRow()},
  };
  for (auto [button, row] : buttons) {
    QObject::connect(button, &QPushButton::clicked, &window, [row] { startPackageDownload(*row); });
  }
}
