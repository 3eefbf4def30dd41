#pragma once
// What a folder holds, byte for byte, for comparing a server root before and after.
#include <map>
#include <string>
#include <vector>

// Every entry below `root` by its relative path: a file's bytes (with its permission bits), a
// link's target, a folder's mark. The backup folder installs keep at the top
// (".下载器备份/") is left out.
std::map<std::string, std::string> snapshotTree(const std::string& root);

// Every entry below `root`, the backup folder included, whose name starts with ".~" (the
// temporary files of a replacement).
std::vector<std::string> temporariesBelow(const std::string& root);
