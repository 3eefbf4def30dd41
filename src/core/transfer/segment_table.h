#pragma once
// The byte ranges of one transfer and who fetches them.
//
// Thread safety: every operation takes the table's lock, so the controller (or a worker that
// finished its own segment) may split a segment while its owner is advancing through it. A
// split never takes bytes that the owner may already hold in its buffer: the owner keeps at
// least half of what is left, and at least kTransferBufferSize bytes past its committed
// position. The owner reads its segment's end afresh before every receive and every write, so
// it never writes past a shortened end.
#include <cstdint>
#include <mutex>
#include <vector>

class Worker;

// What the owner of a busy segment is doing with its connection.
enum class OwnerLink : uint8_t {
  Receiving,     // connected (or opening the segment's first connection)
  Reconnecting,  // its connection dropped; everything it received is written; a new one opens
  Waiting,       // its last attempt brought nothing; it waits out the retry wait, unconnected
};

struct Segment {
  bool busy = false;   // a worker owns it
  bool split = false;  // it gave its tail to another segment
  OwnerLink link = OwnerLink::Receiving;
  Worker* owner = nullptr;  // the owning worker while busy
  int64_t start = 0;        // byte offset in the file
  int64_t length = 0;
  int64_t done = 0;  // bytes already written; finished when done == length

  bool finished() const { return done >= length; }
  int64_t position() const { return start + done; }
  int64_t end() const { return start + length; }
};

class SegmentTable {
 public:
  // Replaces the table with `count` segments over `total` bytes: total / count each from 0,
  // the last one also taking the remainder. The count is at least 1, at most
  // total / kTransferBufferSize, and 1 below kSingleSegmentFloor bytes. The capacity is the
  // count rounded up to a multiple of 10.
  void layout(int64_t total, int32_t count);

  // Marks segment `index` busy (even when finished, as the empty segment of an empty file);
  // false when it is busy already or out of range.
  bool take(int32_t index, Worker* owner);
  // The owner of segment `current` has reached its end. Returns `current` when the segment
  // has grown meanwhile (read on, same connection); else marks busy the first segment that is
  // neither busy nor finished; else, when `mayTakeOver`, shares the work of an owner without
  // a connection, so that no connection idles while bytes remain. Of the segments whose owner
  // waits to retry, and those whose owner reconnects with at least kSplitThreshold bytes left,
  // it picks the one with the most bytes left (lowest index on a tie):
  //   Waiting       the segment is cut at its position, the rest appended busy for `owner`;
  //   Reconnecting  it is split as takeOrSplit splits, the tail appended busy for `owner`.
  // Then releases `current` and returns the new index; -1 when there is nothing to do
  // (`current` stays busy). A stream owner that moves on leaves the stream.
  int32_t moveOn(int32_t current, Worker* owner, bool mayTakeOver = true);
  // Records what the owner of segment `index` does with its connection.
  void setOwnerLink(int32_t index, OwnerLink link);
  // True while a segment is unfinished and more than one connection may fetch: a worker
  // without work may still get some (a busy owner may drop its connection or end).
  bool workMayComeFree() const;
  // Marks busy the first segment that is neither busy nor finished; its index, or -1.
  int32_t takeFree(Worker* owner);
  // takeFree, else splits the segment with the most bytes left (lowest index on a tie) when
  // it has at least kSplitThreshold left; the new segment is appended busy. -1 when neither.
  int32_t takeOrSplit(Worker* owner);
  // Marks the segment not busy and without owner (nothing when index is out of range).
  void release(int32_t index);

  // The worker whose open connection carries the file from byte 0 to its end (the first
  // connection of a fresh task), while it reads it; cleared by leaveStream when that
  // connection closes.
  void setStreamOwner(Worker* owner);
  void leaveStream(Worker* owner);

  // The server answers range requests with the whole file: the task falls back to one
  // connection. The first call lays the table out for it, later calls find it so:
  //   Dropped  the stream owner still reads its answer, so its segment now runs to `total`;
  //            every other segment, the caller's too, is dropped (length 0, finished).
  //   Restart  the caller's segment (at `callerIndex`) becomes the whole file from byte 0,
  //            nothing done, for the answer the caller holds; every other one is dropped.
  // Once fallen back: Dropped when the caller's segment was dropped, else Restart. Splits are
  // refused from then on. `fellBackNow` tells whether this call made the change.
  enum class Fallback { Dropped, Restart };
  Fallback fallBackToOne(int32_t callerIndex, int64_t total, bool& fellBackNow);
  // True once the table fell back to one connection.
  bool singleConnection() const;

  // Adds up to `bytes` to the segment's done, never past its length; returns what it added.
  int64_t commit(int32_t index, int64_t bytes);

  // A copy of one entry; an empty segment when index is out of range.
  Segment at(int32_t index) const;
  std::vector<Segment> entries() const;
  int32_t count() const;
  int32_t capacity() const;
  int64_t sumDone() const;
  int32_t unfinishedCount() const;
  bool allFinished() const;  // false for an empty table
  // The end of the bytes written without a gap from byte 0 (the segments' done bytes), and in
  // `rewinds` a count that grows whenever written bytes stop counting as written (a new layout
  // or restore, a fall-back to one connection): bytes read before such a change may be
  // written again with other content.
  int64_t writtenPrefix(uint64_t& rewinds) const;

  // Restores entries read from a snapshot (none busy, no owner).
  void restore(std::vector<Segment> entries, int32_t capacity);

 private:
  void growIfFull();
  // Splits entries_[index] (left bytes to fetch) by the split rule: the tail half goes to a
  // new busy segment of `owner`. Returns the new index.
  int32_t splitLocked(size_t index, int64_t left, Worker* owner);

  void dropAllBut(size_t kept);
  void releaseLocked(int32_t index);

  mutable std::mutex mutex_;
  std::vector<Segment> entries_;
  int32_t capacity_ = 0;
  Worker* streamOwner_ = nullptr;
  bool single_ = false;
  uint64_t rewinds_ = 0;
};
