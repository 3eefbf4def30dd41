#pragma once
// What an extraction will do, decided in archive order before anything is written: where
// each entry goes, and at which entry a run that writes the entries one after another
// would stop. Carrying the plan out may then write the files in any order (zip_run.h)
// and still end as that run would.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zip/target_tree.h"
#include "zip/zip_directory.h"
#include "zip/zip_entry.h"

struct PlannedEntry {
  ZipEntryInfo info;    // name decoded, times from the local extra field applied
  PathComponents path;  // below the target, in the letter case first met (see below)
  bool directory = false;
  bool leftAsIs = false;  // a folder entry where an earlier entry put a file: nothing to do
  const ZipEntryRecord* record = nullptr;
};

struct ExtractionPlan {
  // The entries before the stop, in archive order (entries[i].info.index == i).
  std::vector<PlannedEntry> entries;
  // Why the run ends at entry entries.size() without writing it, if it does.
  enum class Stop {
    None,        // every entry is in `entries`
    Refused,     // a bad name, or a folder the entry needs that would not exist
    Unreadable,  // encrypted, or neither stored nor deflated: an empty file is left
  } stop = Stop::None;
  PathComponents unreadablePath;  // for Unreadable
  // The file entries, grouped by the path they write (indexes into `entries`, in
  // archive order); groups ordered by their first entry.
  std::vector<std::vector<size_t>> fileGroups;
};

// Plans the extraction of `records`. An entry is refused when its name is `nameLimit`
// bytes or longer, holds a NUL, or could leave the target (entry_path.h); when it is a
// file whose path an earlier folder entry made a folder, or whose folders an earlier file
// entry took; or when it is a folder below an earlier file. The folders of a file need no
// entries of their own (many tools write none): the run creates the missing ones. A
// folder entry whose path an earlier file took is left out of the way, as an existing
// file is.
//
// Names that differ only in ASCII letter case are one name, as on the file systems the
// archives come from: each path component takes the spelling met first, so entries that
// differ only in case write the same file, and the later one in the archive wins.
ExtractionPlan planExtraction(const std::vector<ZipEntryRecord>& records, size_t nameLimit);

// The plan of a partial extraction: of the files `plan` writes, only those whose path (the
// components joined with "/") `wanted` names, each written once with the entry that would end
// up there; no folder entries (the run creates the folders the files need). Nothing when
// `plan` stops before its end.
std::optional<ExtractionPlan> selectFiles(const ExtractionPlan& plan,
                                          const std::function<bool(const std::string&)>& wanted);
