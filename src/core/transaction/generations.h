#pragma once
// The backups below a root. Each package has its folder ".下载器备份/PACKAGE/" in the root;
// each install that changed the root leaves a generation there, a folder named by its number
// (1, 2, ...) holding the install's record (its journal's text) and, below "files/", every file
// the install replaced, at its path below the root. The backups are hard links to the files
// that were replaced where the file system allows it, so they take no more room than those
// files took; copies otherwise (a folder linked below the root from another file system).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transaction/journal.h"

inline constexpr char kBackupFolderName[] = ".下载器备份";

// ".下载器备份/PACKAGE", relative to the root.
std::string packageBackupFolder(const std::string& package);
// Where `path` (below the root) is kept in `generation` (a folder relative to the root).
std::string backupPathIn(const std::string& root, const std::string& generation,
                         const std::string& path);
// The record of `generation`.
std::string recordPathIn(const std::string& root, const std::string& generation);

struct Generation {
  int number = 0;
  std::string folder;  // relative to the root
  Journal record;
  uint64_t backupBytes = 0;  // the size of the kept files together
};

// The generations of `package` kept below `root`, oldest first. A folder without a readable
// record is left out.
std::vector<Generation> listGenerations(const std::string& root, const std::string& package);

// The folder (relative to the root) for the next generation of `package`.
std::string nextGenerationFolder(const std::string& root, const std::string& package);

// Removes all but the newest `keep` generations of `package` (0: all of them).
void pruneGenerations(const std::string& root, const std::string& package, int keep);

// Removes the package's backup folder and the root's, when they are empty.
void removeEmptyBackupFolders(const std::string& root, const std::string& package);

// Removes a folder of ours with everything in it (links are removed, never followed).
void removeOwnTree(const std::string& path);
