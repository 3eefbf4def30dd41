#include "transfer/prefix_digest.h"

#include <algorithm>

#include "transfer/output_file.h"
#include "transfer/segment_table.h"

namespace {

// Bytes read back from the partial file per step.
constexpr size_t kReadBackChunk = 1 << 20;

}  // namespace

PrefixDigest::PrefixDigest(const SegmentTable& table, const OutputFile& file, bool sha256)
    : table_(table), file_(file), hasher_(sha256) {}

void PrefixDigest::advance(int64_t position, const uint8_t* data, size_t length) {
  {
    std::lock_guard lock(mutex_);
    if (busy_) {
      again_ = true;
      return;
    }
    busy_ = true;
  }
  catchUp(position, data, length);
  while (!release()) catchUp(-1, nullptr, 0);
}

std::optional<ContentDigests> PrefixDigest::finish(int64_t total, int* readError) {
  acquire();
  catchUp(-1, nullptr, 0);
  bool whole = hashed_ == total && readError_ == 0;
  if (readError != nullptr) *readError = readError_;
  std::optional<ContentDigests> digests;
  if (whole) digests = hasher_.finish();
  hasher_.restart();
  hashed_ = 0;
  fresh_ = true;
  readError_ = 0;
  while (!release()) {
  }
  return digests;
}

void PrefixDigest::acquire() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  busy_ = true;
}

bool PrefixDigest::release() {
  std::lock_guard lock(mutex_);
  if (again_) {
    again_ = false;
    return false;
  }
  busy_ = false;
  idle_.notify_all();
  return true;
}

void PrefixDigest::catchUp(int64_t position, const uint8_t* data, size_t length) {
  while (true) {
    uint64_t rewinds = 0;
    int64_t end = table_.writtenPrefix(rewinds);
    if (fresh_ || rewinds != rewinds_) {
      // What was hashed may be written anew: start over from byte 0.
      hasher_.restart();
      hashed_ = 0;
      rewinds_ = rewinds;
      fresh_ = false;
      readError_ = 0;
    }
    if (end <= hashed_ || readError_ != 0) return;
    if (!hashRange(hashed_, end, position, data, length)) return;
    hashed_ = end;
  }
}

// Hashes [from, to): the part that `data` holds from memory, the rest read back.
bool PrefixDigest::hashRange(int64_t from, int64_t to, int64_t position, const uint8_t* data,
                             size_t length) {
  int64_t held = data != nullptr ? position + static_cast<int64_t>(length) : position;
  while (from < to) {
    if (data != nullptr && from >= position && from < held) {
      int64_t stop = std::min(to, held);
      hasher_.update(data + (from - position), static_cast<size_t>(stop - from));
      from = stop;
      continue;
    }
    int64_t stop = to;
    if (data != nullptr && position > from) stop = std::min(stop, position);
    size_t count = static_cast<size_t>(std::min<int64_t>(stop - from, kReadBackChunk));
    if (!scratch_) scratch_ = std::make_unique<uint8_t[]>(kReadBackChunk);
    if (!file_.read(from, scratch_.get(), count, &readError_)) {
      if (readError_ == 0) readError_ = -1;
      return false;
    }
    hasher_.update(scratch_.get(), count);
    from += static_cast<int64_t>(count);
  }
  return true;
}
