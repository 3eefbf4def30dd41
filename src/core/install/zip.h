#pragma once
// The window's zip component: extracts a whole archive into a folder. One extraction runs
// at a time, on the calling thread (the window thread in this program); nothing is kept
// between calls.
#include <cstdint>
#include <functional>
#include <string>

#include "install/zip_entry.h"

class ZipReader;
class TargetTree;

// What the progress event carries: the index of the entry just handled (the entry count
// in the final report), the entry count, that entry's output path, and the percentage
// (index * 100 / count; 100 when there are no entries).
struct ZipProgress {
  int32_t index = 0;
  int32_t count = 0;
  std::string path;
  int32_t percent = 0;
};

class ZIP {
 public:
  // 1 every entry written (or a progress handler stopped the run); 0 the target cannot be
  // created, the file is no zip archive, the archive is damaged, or an entry cannot be
  // written or is refused (see below); -1 an argument is empty or nothing exists at the
  // archive path. Entries written before a failure stay on disk.
  //
  // Output paths are the target plus the entry name, "/" and "\" both taken as
  // separators. Nothing is ever written outside the target: an entry named with "..", an
  // absolute name, a drive letter or a path through a symbolic link is refused. An entry
  // whose data does not match its CRC-32 or size fails. Extracted files are writable
  // whatever the archive's attributes say, and carry the entry's modification and access
  // times.
  int extract(const std::string& archive, const std::string& target);

  // Raised after each entry and once at the end of every run but a stopped one. A handler
  // may call cancel() to stop the run after the current entry (the run then gives 1).
  std::function<void(const ZipProgress&)> onProgress;
  void cancel() { cancelRequested_ = true; }

  // Block size for reading entry data.
  static constexpr unsigned kBlockSize = 16384;
  // Entry names of this length and longer are refused.
  static constexpr size_t kNameLimit = 260;

 private:
  int run(const std::string& archive, const std::string& target);
  int extractEntries(ZipReader& reader, TargetTree& tree, const std::string& target);
  bool countEntries(ZipReader& reader);
  bool handleEntry(ZipReader& reader, TargetTree& tree, const std::string& target, int32_t index);
  bool writeEntry(ZipReader& reader, TargetTree& tree, const std::vector<std::string>& path,
                  ZipEntryInfo& info);
  void raiseProgress();

  int32_t entryCount_ = 0;
  int32_t currentIndex_ = 0;
  std::string currentPath_;
  bool cancelRequested_ = false;
  bool createParents_ = false;
  UnflaggedNames unflaggedNames_ = UnflaggedNames::Utf8;
};
