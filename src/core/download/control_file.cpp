// Writing, reading and checking the control file of a partial download.
#include "download/control_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/unique_fd.h"
#include "transfer/output_file.h"
#include "transfer/transfer_task.h"

namespace {

int32_t capacityFor(size_t count) {
  return static_cast<int32_t>((count + 9) / 10 * 10);
}

// A new temporary file beside `path` under a name nobody else uses: created exclusively and
// never through a link, so a file or link left under a predictable name is never written.
UniqueFd createTemporaryBeside(const std::string& path, std::string& temporary) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string suffix(8, 'a');
    for (char& letter : suffix) letter = kLetters[random() % (sizeof kLetters - 1)];
    temporary = path + ".tmp." + suffix;
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Replaces `path` with `bytes`: a temporary file beside it, then one rename (which replaces a
// link at `path` itself, never its target).
bool replaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temporary;
  UniqueFd fd = createTemporaryBeside(path, temporary);
  if (!fd) return false;
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t step = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) break;
    written += static_cast<size_t>(step);
  }
  bool whole = written == bytes.size() && ::close(fd.release()) == 0;
  if (whole && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

std::vector<Segment> mergedSegments(std::vector<Segment> segments) {
  std::erase_if(segments, [](const Segment& segment) { return segment.length <= 0; });
  std::sort(segments.begin(), segments.end(),
            [](const Segment& a, const Segment& b) { return a.start < b.start; });
  std::vector<Segment> merged;
  for (Segment segment : segments) {
    segment.busy = false;
    segment.owner = nullptr;
    if (!merged.empty() && merged.back().finished() && merged.back().end() == segment.start) {
      Segment& before = merged.back();
      segment.done += before.length;
      segment.length += before.length;
      segment.start = before.start;
      merged.back() = segment;
    } else {
      merged.push_back(segment);
    }
  }
  return merged;
}

std::vector<Segment> coarsenedSegments(std::vector<Segment> segments, size_t limit) {
  limit = std::max<size_t>(limit, 1);
  while (segments.size() > limit) {
    // The segment whose done bytes cost least to fetch again joins the one before it.
    size_t cheapest = 1;
    for (size_t k = 2; k < segments.size(); ++k) {
      if (segments[k].done < segments[cheapest].done) cheapest = k;
    }
    Segment& before = segments[cheapest - 1];
    if (before.finished()) {
      before.done += segments[cheapest].done;  // done bytes that touch stay done
    }
    before.length += segments[cheapest].length;
    segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(cheapest));
  }
  return segments;
}

std::optional<std::vector<uint8_t>> encodeControlFile(const TransferTask& task,
                                                      const std::string& url) {
  SnapshotContent content;
  content.totalSize = task.totalSize.load();
  content.segments = task.segments.entries();
  content.capacity = task.segments.capacity();
  if (content.segments.empty()) return std::nullopt;
  task.protocol->saveSnapshot(content.protocol);
  content.protocol.texts[kUrlSlot] = url;
  if (std::optional<std::vector<uint8_t>> bytes = encodeSnapshot(content)) return bytes;
  content.segments = mergedSegments(std::move(content.segments));
  content.capacity = capacityFor(content.segments.size());
  if (content.segments.empty()) return std::nullopt;
  if (std::optional<std::vector<uint8_t>> bytes = encodeSnapshot(content)) return bytes;
  // A delta may hold more missing ranges than the file has room for: some done bytes are
  // then told as missing (a resumed download fetches them again).
  content.segments = coarsenedSegments(
      std::move(content.segments), static_cast<size_t>(snapshotCapacityLimit(content.protocol)));
  content.capacity = capacityFor(content.segments.size());
  return encodeSnapshot(content);
}

bool saveControlFile(const TransferTask& task, const std::string& url) {
  std::optional<std::vector<uint8_t>> bytes = encodeControlFile(task, url);
  return bytes && replaceFile(controlPathOf(task.localPath()), *bytes);
}

ControlFileCheck checkControlFile(const uint8_t* data, size_t length, const std::string& url) {
  ControlFileCheck check;
  std::optional<SnapshotContent> content = decodeSnapshot(data, length);
  if (!content) {
    check.problem = "控制文件已损坏";
    return check;
  }
  const std::optional<std::string>& named = content->protocol.texts[kUrlSlot];
  if (!named || *named != url) {
    check.problem = "控制文件属于另一个下载地址";
    return check;
  }
  // The segments must tile the file: sorted by start, each begins where the one before ends.
  std::vector<Segment> tiles = content->segments;
  std::erase_if(tiles, [](const Segment& segment) { return segment.length == 0; });
  std::sort(tiles.begin(), tiles.end(),
            [](const Segment& a, const Segment& b) { return a.start < b.start; });
  int64_t reached = 0;
  for (const Segment& segment : tiles) {
    if (segment.start != reached || segment.length < 0 || segment.done < 0 ||
        segment.done > segment.length) {
      reached = -1;
      break;
    }
    reached += segment.length;
  }
  if (content->totalSize <= 0 || reached != content->totalSize) {
    check.problem = "控制文件的分段与文件大小不符";
    return check;
  }
  content->segments = std::move(tiles);
  content->capacity = std::max(content->capacity, capacityFor(content->segments.size()));
  check.content = std::move(content);
  return check;
}
