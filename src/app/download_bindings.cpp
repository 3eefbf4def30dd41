#include <QPushButton>

#include "bindings.h"
#include "download_jobs/package_download.h"
#include "main_window.h"

void bindDownloadButtons(MainWindow& window, Globals& g) {
  const std::pair<QPushButton*, PackageId> buttons[] = {
      {window.按钮_下载三端, PackageId::Server},
      {window.按钮_下载功能, PackageId::Plugin},
      {window.按钮_下载反挂, PackageId::AntiCheat},
      {window.按钮_下载工具, PackageId::Tools},
  };
  for (auto [button, id] : buttons) {
    const PackageInfo* package = &packageInfo(id);
    QObject::connect(button, &QPushButton::clicked, &window,
                     [&g, package] { startPackageDownload(g, *package); });
  }
}
