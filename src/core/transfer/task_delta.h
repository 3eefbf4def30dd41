#pragma once
// A delta: a task whose file is a new version of a local file that it may take unchanged
// ranges from (a package archive whose entries mostly stayed the same).
//
// The first worker of a fresh task with a DeltaSource asks for the file's last tailLength()
// bytes (a suffix range). A server that answers with the whole file (200), or with anything
// odd, gives an ordinary download. Otherwise the worker holds the file's end in memory, asks
// the source where the bytes it needs begin (and fetches those too), lets the source name
// the ranges the local file may give, and makes the partial file: the held bytes written, the
// ranges the source checked and copied in place. The segment table then counts those bytes
// as done, and the task goes on as a resumed one, fetching only the missing ranges with
// If-Range on the validators of the first answer.
//
// When every byte is there but the expected content does not match (a local range that is
// not byte for byte the server's), the ranges taken locally are fetched from the server once
// and the content checked again; a second mismatch discards the file as any other does.
//
// Threads: every call of the source is made on the first worker's thread, before any other
// worker exists, except copyChecked's writer, which the source may call from threads of its
// own until copyChecked returns.
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "transfer/segment_table.h"

class StopCondition;
struct TransferTask;

// A range of the new file whose bytes the local file holds at `localOffset`.
struct ReusedRange {
  int64_t localOffset = 0;
  int64_t offset = 0;
  int64_t length = 0;
  int64_t end() const { return offset + length; }
};

// Stores bytes of the new file at `offset`; false when they could not be written. Callable
// from several threads at once.
using DeltaWriter = std::function<bool(int64_t offset, const uint8_t* data, size_t length)>;

class DeltaSource {
 public:
  virtual ~DeltaSource() = default;

  // How many of the file's last bytes the first request asks for.
  virtual int64_t tailLength() const = 0;
  // `held` are the new file's bytes from `start` to its end `total`. From where the bytes must
  // be held to plan (at most `start`); none when no delta can be made from this file.
  virtual std::optional<int64_t> neededFrom(std::string_view held, int64_t start,
                                            int64_t total) = 0;
  // With the bytes from neededFrom() on held: the ranges the local file may give, by what the
  // new file says about them (not yet checked), ordered by offset, disjoint and ending at or
  // before `start`. None when no delta can be made after all.
  virtual std::optional<std::vector<ReusedRange>> candidates(std::string_view held, int64_t start,
                                                             int64_t total) = 0;
  // Checks the local bytes of each range and writes those that pass through `write`. One flag
  // per range: true when written. Gives up (the rest false) when `stop` says so.
  virtual std::vector<bool> copyChecked(const std::vector<ReusedRange>& ranges,
                                        const DeltaWriter& write, const StopCondition& stop) = 0;
};

// The most missing ranges a delta fetches (each is a request of its own); the shortest
// reused stretches between them are fetched beyond that.
inline constexpr int32_t kDeltaRangeLimit = 256;

// The segment table of a delta over a file of `total` bytes: the bytes from `heldFrom` to
// the end and the `reused` ranges are done, the rest missing. Each missing range is one
// segment that also covers the done bytes before it (a segment's done bytes count from its
// start), so the table has one segment per missing range, plus one for done bytes at the end.
// While that is more than `limit`, the shortest stretch of reused bytes between two missing
// ranges is fetched instead; `reused` keeps only the ranges still taken.
struct DeltaLayout {
  std::vector<Segment> segments;
  std::vector<ReusedRange> reused;
  int64_t reusedBytes() const;
};
DeltaLayout layoutDelta(int64_t total, int64_t heldFrom, std::vector<ReusedRange> reused,
                        int32_t limit);

// The table that fetches exactly the `reused` ranges again: everything else done.
std::vector<Segment> refetchLayout(int64_t total, const std::vector<ReusedRange>& reused);
