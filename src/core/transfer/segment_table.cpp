// The segment table: layout, taking, splitting and progress, all under one lock.
#include "transfer/segment_table.h"

#include <algorithm>

#include "transfer/engine_tuning.h"

namespace {

int32_t roundUpToTen(int32_t count) {
  return (count + 9) / 10 * 10;
}

}  // namespace

void SegmentTable::layout(int64_t total, int32_t count) {
  if (total < 0) total = 0;
  // Never more segments than the file can fill with one receive buffer each: a huge
  // connection count must not become a huge table (or as many threads).
  int64_t fillable = std::max<int64_t>(1, total / static_cast<int64_t>(kTransferBufferSize));
  if (count > fillable) count = static_cast<int32_t>(fillable);
  if (count < 1 || total < kSingleSegmentFloor) count = 1;
  std::lock_guard lock(mutex_);
  entries_.assign(static_cast<size_t>(count), Segment{});
  int64_t each = total / count;
  for (int32_t i = 0; i < count; ++i) {
    entries_[i].start = each * i;
    entries_[i].length = each;
  }
  entries_.back().length += total % count;
  capacity_ = roundUpToTen(count);
  streamOwner_ = nullptr;
  single_ = false;
  ++rewinds_;
}

bool SegmentTable::take(int32_t index, Worker* owner) {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= entries_.size() || entries_[index].busy) {
    return false;
  }
  entries_[index].busy = true;
  entries_[index].owner = owner;
  return true;
}

int32_t SegmentTable::takeFree(Worker* owner) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    Segment& segment = entries_[i];
    if (segment.busy || segment.finished()) continue;
    segment.busy = true;
    segment.owner = owner;
    return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t SegmentTable::moveOn(int32_t current, Worker* owner, bool mayTakeOver) {
  std::lock_guard lock(mutex_);
  if (current >= 0 && static_cast<size_t>(current) < entries_.size() &&
      !entries_[current].finished()) {
    return current;
  }
  if (streamOwner_ == owner) streamOwner_ = nullptr;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Segment& segment = entries_[i];
    if (segment.busy || segment.finished()) continue;
    segment.busy = true;
    segment.owner = owner;
    releaseLocked(current);
    return static_cast<int32_t>(i);
  }
  if (!mayTakeOver || single_) return -1;
  int32_t chosen = -1;
  int64_t chosenLeft = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Segment& segment = entries_[i];
    int64_t left = segment.length - segment.done;
    bool shareable =
        segment.busy && (segment.link == OwnerLink::Waiting ||
                         (segment.link == OwnerLink::Reconnecting && left >= kSplitThreshold));
    if (shareable && left > chosenLeft) {
      chosen = static_cast<int32_t>(i);
      chosenLeft = left;
    }
  }
  if (chosen < 0) return -1;
  int32_t taken;
  if (entries_[chosen].link == OwnerLink::Reconnecting) {
    taken = splitLocked(static_cast<size_t>(chosen), chosenLeft, owner);
  } else {
    growIfFull();
    Segment rest;
    rest.busy = true;
    rest.owner = owner;
    rest.start = entries_[chosen].position();
    rest.length = chosenLeft;
    entries_[chosen].length = entries_[chosen].done;
    entries_[chosen].split = true;
    entries_.push_back(rest);
    taken = static_cast<int32_t>(entries_.size() - 1);
  }
  releaseLocked(current);
  return taken;
}

void SegmentTable::setOwnerLink(int32_t index, OwnerLink link) {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return;
  entries_[index].link = link;
}

bool SegmentTable::workMayComeFree() const {
  std::lock_guard lock(mutex_);
  return !single_ && std::any_of(entries_.begin(), entries_.end(),
                                 [](const Segment& s) { return !s.finished(); });
}

void SegmentTable::releaseLocked(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return;
  entries_[index].busy = false;
  entries_[index].owner = nullptr;
  entries_[index].link = OwnerLink::Receiving;
}

void SegmentTable::setStreamOwner(Worker* owner) {
  std::lock_guard lock(mutex_);
  streamOwner_ = owner;
}

void SegmentTable::leaveStream(Worker* owner) {
  std::lock_guard lock(mutex_);
  if (streamOwner_ == owner) streamOwner_ = nullptr;
}

void SegmentTable::dropAllBut(size_t kept) {
  ++rewinds_;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (i == kept) continue;
    entries_[i].length = 0;
    entries_[i].done = 0;
  }
}

SegmentTable::Fallback SegmentTable::fallBackToOne(int32_t callerIndex, int64_t total,
                                                   bool& fellBackNow) {
  std::lock_guard lock(mutex_);
  fellBackNow = !single_;
  size_t caller = static_cast<size_t>(callerIndex);
  bool known = callerIndex >= 0 && caller < entries_.size();
  if (single_ && (!known || entries_[caller].length == 0)) return Fallback::Dropped;
  if (!single_ && streamOwner_ != nullptr) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      Segment& segment = entries_[i];
      // Its connection still carries the rest of the file, also when the segment is at its
      // end: the owner has not moved on yet (moveOn clears streamOwner_), so it reads on.
      if (segment.owner != streamOwner_ || segment.start != 0) continue;
      single_ = true;
      segment.length = total;
      dropAllBut(i);
      return Fallback::Dropped;
    }
  }
  single_ = true;
  if (!known) return Fallback::Dropped;
  Segment& segment = entries_[caller];
  segment.start = 0;
  segment.length = total;
  segment.done = 0;
  segment.split = false;
  dropAllBut(caller);  // counts the rewind of the caller's segment too
  return Fallback::Restart;
}

bool SegmentTable::singleConnection() const {
  std::lock_guard lock(mutex_);
  return single_;
}

int32_t SegmentTable::takeOrSplit(Worker* owner) {
  int32_t index = takeFree(owner);
  if (index >= 0) return index;
  std::lock_guard lock(mutex_);
  if (single_) return -1;
  int32_t widest = -1;
  int64_t widestLeft = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    int64_t left = entries_[i].length - entries_[i].done;
    if (left > widestLeft) {
      widest = static_cast<int32_t>(i);
      widestLeft = left;
    }
  }
  if (widest < 0 || widestLeft < kSplitThreshold) return -1;
  return splitLocked(static_cast<size_t>(widest), widestLeft, owner);
}

int32_t SegmentTable::splitLocked(size_t index, int64_t left, Worker* owner) {
  growIfFull();
  Segment& chosen = entries_[index];
  int64_t kept = left - left / 2;
  Segment tail;
  tail.busy = true;
  tail.owner = owner;
  tail.start = chosen.start + chosen.done + kept;
  tail.length = left / 2;
  chosen.length = chosen.done + kept;
  chosen.split = true;
  entries_.push_back(tail);
  return static_cast<int32_t>(entries_.size() - 1);
}

void SegmentTable::growIfFull() {
  int32_t count = static_cast<int32_t>(entries_.size());
  if (count < capacity_) return;
  capacity_ += std::max<int32_t>((count + 1) / 10 * 10, 10);
}

void SegmentTable::release(int32_t index) {
  std::lock_guard lock(mutex_);
  releaseLocked(index);
}

int64_t SegmentTable::commit(int32_t index, int64_t bytes) {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= entries_.size() || bytes <= 0) return 0;
  Segment& segment = entries_[index];
  int64_t added = std::min(bytes, segment.length - segment.done);
  if (added < 0) added = 0;
  segment.done += added;
  return added;
}

Segment SegmentTable::at(int32_t index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return Segment{};
  return entries_[index];
}

std::vector<Segment> SegmentTable::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

int32_t SegmentTable::count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(entries_.size());
}

int32_t SegmentTable::capacity() const {
  std::lock_guard lock(mutex_);
  return capacity_;
}

int64_t SegmentTable::sumDone() const {
  std::lock_guard lock(mutex_);
  int64_t sum = 0;
  for (const Segment& segment : entries_) sum += segment.done;
  return sum;
}

int32_t SegmentTable::unfinishedCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(std::count_if(entries_.begin(), entries_.end(),
                                            [](const Segment& s) { return !s.finished(); }));
}

bool SegmentTable::allFinished() const {
  std::lock_guard lock(mutex_);
  if (entries_.empty()) return false;
  return std::all_of(entries_.begin(), entries_.end(),
                     [](const Segment& s) { return s.finished(); });
}

void SegmentTable::restore(std::vector<Segment> entries, int32_t capacity) {
  for (Segment& segment : entries) {
    segment.busy = false;
    segment.owner = nullptr;
    segment.link = OwnerLink::Receiving;
  }
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
  capacity_ = std::max(capacity, roundUpToTen(static_cast<int32_t>(entries_.size())));
  ++rewinds_;
}

int64_t SegmentTable::writtenPrefix(uint64_t& rewinds) const {
  std::lock_guard lock(mutex_);
  rewinds = rewinds_;
  int64_t reached = 0;
  // Few segments: look again after every step rather than sort.
  for (bool moved = true; moved;) {
    moved = false;
    for (const Segment& segment : entries_) {
      if (segment.start <= reached && segment.position() > reached) {
        reached = segment.position();
        moved = true;
      }
    }
  }
  return reached;
}
