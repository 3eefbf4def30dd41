#pragma once
// The control file of a download: the snapshot of its task (snapshot_format.h, with its CRC),
// kept beside the partial file (controlPathOf) so that a stopped download can continue.
//
// The snapshot's seventh protocol text slot holds the download's URL without its password;
// the layers leave that slot free. The file is replaced atomically (a temporary file under a
// fresh name in the same folder, created exclusively and never through a link, then rename),
// so a kill never leaves half of it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/snapshot_format.h"

struct TransferTask;

// The protocol text slot that names the download's URL.
inline constexpr int kUrlSlot = 6;

// `segments` with every finished segment merged into the one that follows it in the file, as
// long as they touch, and empty segments left out. The bytes each segment counts as done still
// begin at its start, so the result describes the same partial file in fewer entries.
std::vector<Segment> mergedSegments(std::vector<Segment> segments);

// `segments` (as mergedSegments leaves them: sorted, touching) in at most `limit` entries: the
// segment with the fewest done bytes joins the one before it, its done bytes counted missing,
// until they fit. The result never counts a byte done that `segments` count missing.
std::vector<Segment> coarsenedSegments(std::vector<Segment> segments, size_t limit);

// The control-file bytes of the task's state; when they would pass the snapshot's limit the
// finished neighbours are merged first, and then done bytes of the cheapest segments are
// counted missing until they fit (a delta's many missing ranges). Nothing when even that does
// not fit.
std::optional<std::vector<uint8_t>> encodeControlFile(const TransferTask& task,
                                                      const std::string& url);
// Writes the control file of the task's partial file; false when it could not.
bool saveControlFile(const TransferTask& task, const std::string& url);

// What a control file holds, once checked: its CRC, that it names `url`, and that its
// segments cover the file from byte 0 to its total size exactly once, each with no more
// done than its length. `problem` says what is wrong otherwise.
struct ControlFileCheck {
  std::optional<SnapshotContent> content;
  std::string problem;
};
ControlFileCheck checkControlFile(const uint8_t* data, size_t length, const std::string& url);
