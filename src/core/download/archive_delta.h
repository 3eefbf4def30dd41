#pragma once
// The delta source of a zip archive (transfer/task_delta.h): the archive already under the
// target's name gives every entry of the new archive that it holds unchanged.
//
// The new archive's end records come with the first answer (the last 64 KiB + 22 bytes, room
// for the longest comment); its central directory is fetched too when it begins before them.
// Both directories pass the zip reader's checks. An entry of the new archive is taken from
// the local one when its name, CRC-32, sizes, method, flags and DOS time equal those of a
// local entry, the bytes from its local header to the next entry (or the directory) are as
// many in both archives, and the local data inflate to their CRC-32. Its local header comes
// along: the archive's digest tells whether it was the same (task_delta.h says what follows
// when not).
#include <memory>
#include <string>

#include "transfer/task_delta.h"

// Bytes asked for at the archive's end: the end record and the longest comment.
inline constexpr int64_t kArchiveTailLength = 65536 + 22;
// Largest central directory a delta fetches; a larger one gives an ordinary download.
inline constexpr int64_t kArchiveDirectoryLimit = 64 << 20;

// The source for a download over the archive at `localArchive`, checking entries on `threads`
// threads. Null when the local archive is not a regular file that can be opened.
std::unique_ptr<DeltaSource> makeArchiveDelta(const std::string& localArchive, int threads);
