#pragma once
// How many generations of backups an install leaves per root and package: key "Keep" of
// section "Backup" in Config.ini beside the program. 2 when the key is missing or is no number
// from 0 to 1000; 0 keeps none (the backups then last only as long as the install).
#include <string>

inline constexpr int kDefaultBackupsKept = 2;

int backupGenerationsToKeep(const std::string& programDir);
