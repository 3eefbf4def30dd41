#include "install/backup_settings.h"

#include "platform/decimal.h"
#include "platform/ini.h"

namespace {

constexpr char kSettingsFile[] = "Config.ini";  // the program's settings file
constexpr int64_t kMostKept = 1000;

}  // namespace

int backupGenerationsToKeep(const std::string& programDir) {
  const std::string value = iniRead(programDir + kSettingsFile, "Backup", "Keep", "");
  const std::optional<int64_t> keep = parseDecimal(value);
  if (!keep || *keep < 0 || *keep > kMostKept) return kDefaultBackupsKept;
  return static_cast<int>(*keep);
}
