#pragma once
// The window's zip component: extracts a whole archive into a folder. One extraction runs
// at a time per object; extract() returns when it is done. The entries' data are decoded
// on as many threads as there are processors, but the progress event is raised on the
// calling thread, and the outcome is that of writing the entries one by one in archive
// order (zip_run.h). Nothing is kept between calls.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/zip_entry.h"

// What the progress event carries: the index of the entry just handled (the entry count
// in the final report), the entry count, that entry's output path, and the percentage
// (index * 100 / count; 100 when there are no entries).
struct ZipProgress {
  int32_t index = 0;
  int32_t count = 0;
  std::string path;
  int32_t percent = 0;
};

// A file that the extraction of an archive leaves below its target: the path there (the
// entry name's components joined with "/", in the letter case the extraction gives them), and
// the size and CRC-32 that the central directory declares for the entry that ends up there.
struct ZipFileInfo {
  std::string path;
  uint64_t size = 0;
  uint32_t crc = 0;
};

class ZipArchive;

class ZIP {
 public:
  // 1 every entry written (or a progress handler stopped the run); 0 the target cannot be
  // created, the file is no sound zip archive, there is no room for it, or an entry cannot
  // be written or is refused (see below); -1 an argument is empty or nothing exists at the
  // archive path. Entries written before a failure stay on disk; nothing after it is
  // written.
  //
  // Before anything is written the archive's structure is checked whole: the central
  // directory must agree with the end record's count, size and offset, no two entries'
  // data may overlap, and the sum of the entries' declared sizes must fit in the target's
  // free space with a reserve to spare (free_space.h). Zip64 extra fields are read; an
  // archive over 4 GiB is not supported. Any failure here gives 0 with nothing written.
  //
  // Output paths are the target plus the entry name, "/" and "\" both taken as
  // separators; the missing folders of a file are created, whether or not the archive
  // holds entries for them. Nothing is ever written outside the target: an entry named
  // with "..", an absolute name, a drive letter or a path through a symbolic link is
  // refused. Names that
  // differ only in ASCII letter case name one file, the later entry winning (zip_plan.h).
  // An entry whose data do not match its CRC-32 or size fails. Extracted files are
  // writable whatever the archive's attributes say, and carry the entry's modification and
  // access times. Files are not flushed to disk (no fsync).
  int extract(const std::string& archive, const std::string& target);

  // The files that extract() would leave, in the order of their first entry, found from the
  // central directory alone (nothing is decoded or written): 1 with `files` filled; 0 when the
  // file is no sound zip archive or an extraction would not run to its end (a refused name, an
  // entry that cannot be decoded); -1 as for extract(). No progress event.
  int list(const std::string& archive, std::vector<ZipFileInfo>& files);

  // As extract(), but writing only the files whose path (as list() gives it) `wanted` holds;
  // their folders are created, nothing else is written. Fails (0) without writing anything
  // where list() fails. The free space needed is that of the chosen files.
  int extractFiles(const std::string& archive, const std::string& target,
                   const std::function<bool(const std::string&)>& wanted);

  // Raised after each entry and once at the end of every run but a stopped one, on the
  // thread that called extract(). A handler may call cancel() to stop the run after the
  // current entry (the run then gives 1).
  std::function<void(const ZipProgress&)> onProgress;
  void cancel() { cancelRequested_ = true; }

  // Block size for reading entry data.
  static constexpr unsigned kBlockSize = 65536;
  // Entry names of this length and longer are refused.
  static constexpr size_t kNameLimit = 260;

 private:
  // Opens the archive as extract() does; the result code when it cannot be.
  int open(const std::string& archive, const std::string& target, ZipArchive& zip);
  int run(const std::string& archive, const std::string& target,
          const std::function<bool(const std::string&)>* wanted);
  void raiseProgress();

  int32_t entryCount_ = 0;
  int32_t currentIndex_ = 0;
  std::string currentPath_;
  bool cancelRequested_ = false;
};
