#include "update/settings.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/decimal.h"
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
  applyVendorManifest(g);
  applyVendorTrust(g);
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
    const std::string text = g.window->text(package.directoryBox);
    std::optional<std::string>& known = g.rootsBoxText[indexOf(package.id)];
    if (known == text) continue;
    std::string joined;
    const std::vector<std::string> lines = splitLines(text);
    for (size_t k = 0; k < lines.size(); ++k) joined += (k == 0 ? "" : "|") + lines[k];
    // A failed write is ignored; the next change or the closing tries again.
    if (iniWrite(path, kRootsSection, package.alias, joined)) known = text;
  }
}

void restoreServerRoots(Globals& g) {
  std::string path = settingsPath(g);
  const std::string absent("\x01");
  for (const PackageInfo& package : packageTable()) {
    if (package.directoryBox == nullptr) continue;
    std::string saved = iniRead(path, kRootsSection, package.alias, absent);
    if (saved != absent) {
      for (char& c : saved) c = c == '|' ? '\n' : c;
      g.window->setText(package.directoryBox, saved);
    }
    g.rootsBoxText[indexOf(package.id)] = g.window->text(package.directoryBox);
  }
}

std::optional<std::vector<std::string>> savedServerRoots(const std::string& programDir,
                                                         const PackageInfo& package) {
  if (package.directoryBox == nullptr) return std::nullopt;
  const std::string absent("\x01");
  std::string saved = iniRead(programDir + kSettingsFile, kRootsSection, package.alias, absent);
  if (saved == absent) return std::nullopt;
  for (char& c : saved) c = c == '|' ? '\n' : c;
  return splitLines(saved);
}

std::string savedManifestUrl(const std::string& programDir) {
  return iniRead(programDir + kSettingsFile, kVendorSection, kManifestKey, "");
}

void applyVendorManifest(Globals& g) {
  if (g.manifestUrl != builtInManifestUrl()) return;
  std::string saved = savedManifestUrl(g.programDir);
  if (!saved.empty()) g.manifestUrl = std::move(saved);
}

void applyVendorTrust(Globals& g) {
  const std::string path = settingsPath(g);
  g.vendorPublicKey = iniRead(path, kVendorSection, kPublicKeyKey, "");
  g.acceptedSerial =
      parseDecimal(iniRead(path, kVendorSection, kAcceptedSerialKey, "")).value_or(0);
}

bool saveAcceptedSerial(const std::string& programDir, int64_t serial) {
  return iniWrite(programDir + kSettingsFile, kVendorSection, kAcceptedSerialKey,
                  std::to_string(serial));
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
