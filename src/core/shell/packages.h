#pragma once
// The fixed table of the four packages: everything the check, download and install jobs
// and the command line know about a package. Nothing in it is read from a file; it never
// changes while the program runs, so any thread may read it.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class PackageId { Server = 0, Plugin = 1, AntiCheat = 2, Tools = 3 };
inline constexpr size_t kPackageCount = 4;

struct PackageInfo {
  PackageId id;
  const char* name;         // "三端", "功能", "反挂", "工具"
  const char* alias;        // the command line's ASCII name: "server", "plugin", ...
  const char* section;      // manifest section ("其他" for the tools)
  const char* archive;      // archive name in the program directory
  const char* stagingName;  // staging folder name in the program directory

  // Controls of the package's row.
  const char* downloadButton;
  const char* installButton;
  const char* mark;          // label showing "发现新版" / "最新版"
  const char* directoryBox;  // server roots, one per line; null for the tools

  // Texts of the jobs.
  const char* emptyUrlMessage;    // download with no URL in the manifest
  const char* downloadingText;    // the progress line's status while downloading
  const char* missingMd5Message;  // the manifest gives no digest
  const char* extractionFailure;  // the archive cannot be extracted

  // Install: target markers in test order, the plugin-list rule and the plugins to register
  // (none means the plugin list is left alone).
  std::vector<std::string> markers;
  bool skipPluginListFiles;
  std::vector<std::string> pluginNames;
};

// The four rows in the order of the window: server, plugin, anti-cheat, tools.
const std::array<PackageInfo, kPackageCount>& packageTable();
const PackageInfo& packageInfo(PackageId id);
// The row named `name` (its Chinese name or its alias), or null.
const PackageInfo* findPackage(std::string_view name);

inline size_t indexOf(PackageId id) {
  return static_cast<size_t>(id);
}
