#include "update/settings.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ini.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "shell/window.h"
#include "update/update_check.h"

namespace {

std::string settingsPath(const Globals& g) {
  return g.programDir + kSettingsFile;
}

}  // namespace

long leadingNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text)) && *text != '-' && *text != '+') return 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  return end == text ? 0 : value;
}

void onMainWindowCreated(Globals& g) {
  g.setProgramDir(g.programDirectorySource ? g.programDirectorySource() : programDirectory());
  g.processorCount = processorCount();
  startUpdateCheck(g);  // hashes and fetches on its own thread; the window paints meanwhile
  std::string path = settingsPath(g);
  if (iniRead(path, "Download", "Auto", "0") == "1")
    g.window->setChecked(control::选择框_检查更新, true);
  g.window->setText(control::编辑框1, iniRead(path, "Download", "Time", "24"));
  restoreServerRoots(g);
  g.lastCheckTick = g.now();
}

void saveServerRoots(Globals& g) {
  std::string path = settingsPath(g);
  for (const PackageInfo& package : packageTable()) {
    if (package.directoryBox == nullptr) continue;
    std::string joined;
    const std::vector<std::string> lines = splitLines(g.window->text(package.directoryBox));
    for (size_t k = 0; k < lines.size(); ++k) joined += (k == 0 ? "" : "|") + lines[k];
    iniWrite(path, kRootsSection, package.alias, joined);  // a failed write is ignored
  }
}

void restoreServerRoots(Globals& g) {
  std::string path = settingsPath(g);
  const std::string absent("\x01");
  for (const PackageInfo& package : packageTable()) {
    if (package.directoryBox == nullptr) continue;
    std::string saved = iniRead(path, kRootsSection, package.alias, absent);
    if (saved == absent) continue;
    for (char& c : saved) c = c == '|' ? '\n' : c;
    g.window->setText(package.directoryBox, saved);
  }
}

void saveAutoCheckSettings(Globals& g) {
  const char* value = "0";
  if (g.window->isChecked(control::选择框_检查更新)) {
    value = "1";
    g.lastCheckTick = g.now();
  }
  std::string path = settingsPath(g);
  iniWrite(path, "Download", "Auto", value);  // a failed write is ignored
  iniWrite(path, "Download", "Time", g.window->text(control::编辑框1));
}

void onCheckTimer(Globals& g) {
  if (!g.window->isChecked(control::选择框_检查更新)) return;
  uint64_t now = g.now();
  double elapsed = static_cast<double>(now) - static_cast<double>(g.lastCheckTick);
  double interval =
      static_cast<double>(leadingNumber(g.window->text(control::编辑框1).c_str())) * 3600000.0;
  if (elapsed - interval > 0.0000001) {
    g.lastCheckTick = now;
    startUpdateCheck(g);
  }
}
