#pragma once
// The files an install places: from the archive's listing (ZIP::list), each file below the
// staging folder that lies under one of the package's markers becomes a record per marker.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip.h"

// One file to install.
struct InstallRecord {
  std::string sourcePath;    // where the extraction puts it: the staging folder + archivePath
  std::string relativePath;  // where it goes below a root: the bytes after the "/" that opens
                             // the matched marker
  std::string archivePath;   // its path below the staging folder
  uint64_t size = 0;         // as the archive's central directory declares it
  uint32_t crc = 0;
};

// A record per file and per marker found in "/" + its path (so a marker in the folders above
// the staging folder, such as a program folder below /srv/Mir200/, never counts), ASCII case
// ignored, first occurrence. Files are taken in the order a listing of the extracted tree
// gives them (listingLess); within a file, in marker order.
std::vector<InstallRecord> buildInstallRecords(std::string_view staging,
                                               const std::vector<ZipFileInfo>& files,
                                               const std::vector<std::string>& markers);

// The order in which findFiles (file_tree.h) lists a tree: in each folder its files first,
// then its folders, each by name (ASCII letters as upper case first, then the bytes), every
// folder completed before the next. For "/"-separated paths below one folder.
bool listingLess(std::string_view a, std::string_view b);
