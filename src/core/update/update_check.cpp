#include "update/update_check.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "update/http_text.h"

namespace {

struct PackageRow {
  const char* section;
  std::unique_ptr<PackageEntry> Globals::*entry;
  const char* archive;
  std::string Globals::*localMd5;
  const char* installButton;
  const char* mark;
  const char* missingMd5Message;
};

const PackageRow kPackages[] = {
    {"三端", &Globals::serverPackage, "三端.zip", &Globals::localMd5Server, control::按钮_安装三端,
     control::标签1, "三端MD5 错误"},
    {"功能", &Globals::pluginPackage, "功能.zip", &Globals::localMd5Plugin, control::按钮_安装功能,
     control::标签2, "功能插件MD5 错误"},
    {"反挂", &Globals::antiCheatPackage, "反挂.zip", &Globals::localMd5AntiCheat,
     control::按钮_安装反挂, control::标签3, "反挂插件MD5 错误"},
    {"其他", &Globals::toolsPackage, "工具.zip", &Globals::localMd5Tools, control::按钮_工具安装,
     control::标签5, "工具MD5 错误"},
};

constexpr Rgb kNewColor{255, 0, 0};
constexpr Rgb kCurrentColor{0, 255, 0};

}  // namespace

void computeLocalDigests() {
  Globals& g = *globals;
  for (const PackageRow& row : kPackages) g.*row.localMd5 = md5OfFile(g.programDir + row.archive);
  for (const PackageRow& row : kPackages) {
    if (g.*row.localMd5 != kEmptyMd5) g.window->setEnabled(row.installButton, true);
  }
}

std::string manifestText(std::string_view body) {
  size_t zero = body.find('\0');
  if (zero != std::string_view::npos) body = body.substr(0, zero);
  return manifestBodyToUtf8(body);
}

void checkForUpdates() {
  computeLocalDigests();
  Globals& g = *globals;
  g.window->setText(control::透明标签1, "");
  HttpTextTimeouts timeouts{g.manifestConnectTimeoutMs, g.manifestIdleTimeoutMs};
  std::string text = manifestText(httpReadText(g.manifestUrl, timeouts));
  if (text.find("反挂") == std::string::npos) {
    g.window->setText(control::透明标签1, "读取远程配置失败");
    return;
  }
  // The manifest is parsed in memory by the INI rules; no temporary file is needed.
  for (const PackageRow& row : kPackages) *(g.*row.entry) = PackageEntry{};
  for (const PackageRow& row : kPackages) {
    PackageEntry& entry = *(g.*row.entry);
    entry.url = iniReadText(text, row.section, "URL", "");
    entry.md5 = iniReadText(text, row.section, "MD5", "");
  }
  for (const PackageRow& row : kPackages) {
    const PackageEntry& entry = *(g.*row.entry);
    if (entry.md5.empty()) {
      g.window->setText(control::透明标签1, row.missingMd5Message);
      return;
    }
    bool current = entry.md5 == g.*row.localMd5;
    g.window->setText(row.mark, current ? "最新版" : "发现新版");
    g.window->setTextColor(row.mark, current ? kCurrentColor : kNewColor);
  }
}

void resetProgressDisplay() {
  Window& window = *globals->window;
  window.setText(control::标签_提示内容, "");
  window.setVisible(control::标签_提示内容, false);
  window.setVisible(control::标签_每秒速度, false);
  window.setVisible(control::进度条1, false);
  window.setProgress(control::进度条1, 0);
}
