#include "update/update_check.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "shell/window.h"
#include "update/http_text.h"

namespace {

constexpr Rgb kNewColor{255, 0, 0};
constexpr Rgb kCurrentColor{0, 255, 0};

}  // namespace

void computeLocalDigests(Globals& g) {
  for (const PackageInfo& row : packageTable()) {
    g.package(row.id).localMd5 = md5OfFile(g.programDir + row.archive);
  }
  for (const PackageInfo& row : packageTable()) {
    if (g.package(row.id).localMd5 != kEmptyMd5) g.window->setEnabled(row.installButton, true);
  }
}

std::string manifestText(std::string_view body) {
  size_t zero = body.find('\0');
  if (zero != std::string_view::npos) body = body.substr(0, zero);
  return manifestBodyToUtf8(body);
}

void checkForUpdates(Globals& g) {
  computeLocalDigests(g);
  g.window->setText(control::透明标签1, "");
  HttpTextTimeouts timeouts{g.manifestConnectTimeoutMs, g.manifestIdleTimeoutMs};
  std::string text = manifestText(httpReadText(g.manifestUrl, timeouts));
  if (text.find("反挂") == std::string::npos) {
    g.window->setText(control::透明标签1, "读取远程配置失败");
    return;
  }
  // The manifest is parsed in memory by the INI rules; no temporary file is needed.
  for (PackageState& package : g.packages) package.manifest = PackageEntry{};
  for (const PackageInfo& row : packageTable()) {
    PackageEntry& entry = g.package(row.id).manifest;
    entry.url = iniReadText(text, row.section, "URL", "");
    entry.md5 = iniReadText(text, row.section, "MD5", "");
  }
  for (const PackageInfo& row : packageTable()) {
    const PackageEntry& entry = g.package(row.id).manifest;
    if (entry.md5.empty()) {
      g.window->setText(control::透明标签1, row.missingMd5Message);
      return;
    }
    bool current = entry.md5 == g.package(row.id).localMd5;
    g.window->setText(row.mark, current ? "最新版" : "发现新版");
    g.window->setTextColor(row.mark, current ? kCurrentColor : kNewColor);
  }
}

void resetProgressDisplay(Globals& g) {
  Window& window = *g.window;
  window.setText(control::标签_提示内容, "");
  window.setVisible(control::标签_提示内容, false);
  window.setVisible(control::标签_每秒速度, false);
  window.setVisible(control::进度条1, false);
  window.setProgress(control::进度条1, 0);
}
