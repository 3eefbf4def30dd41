#pragma once
// A zip archive opened for extraction: its structure read and checked whole
// (zip_directory.h, zip_layout.h), its entries in central-directory order, and the open
// file for positioned reads of their data (entry_decoder.h). Entries and descriptor may
// be used from several threads at once once open() has returned; the file is closed when
// the object goes.
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "zip/zip_directory.h"

class ZipArchive {
 public:
  // Opens the file and reads its structure. False when it cannot be opened or is no sound
  // zip archive (see readCentralDirectory and locateEntryData).
  bool open(const std::string& path);

  int fd() const { return fd_.get(); }
  const std::vector<ZipEntryRecord>& entries() const { return directory_.entries; }

 private:
  UniqueFd fd_;
  CentralDirectory directory_;
};
