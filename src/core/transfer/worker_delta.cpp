// The first worker's delta: the file's end held in memory, the local ranges copied in place,
// the missing ranges left to the segments.
#include <algorithm>
#include <cstring>

#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

std::string systemText(int code) {
  char buffer[256];
  return ::strerror_r(code, buffer, sizeof buffer);
}

int32_t capacityFor(size_t count) {
  return static_cast<int32_t>((count + 9) / 10 * 10);
}

}  // namespace

Worker::DeltaStep Worker::takeDelta(BodyBuffer& body) {
  const int64_t total = task.totalSize.load();
  int64_t heldFrom = task.deltaTailStart.exchange(-1);
  std::string held(reinterpret_cast<const char*>(body.data), body.length);
  countReceived(body.length);
  body.length = 0;
  Step got = receiveHeld(held, static_cast<size_t>(total - heldFrom));
  if (got == Step::Stopped) return DeltaStep::Stopped;
  if (got == Step::Failed) return declineDelta("没能读完文件末尾");
  closeConnections();
  std::optional<int64_t> from = task.delta->neededFrom(held, heldFrom, total);
  if (!from) return declineDelta("新文件末尾没有可用的目录");
  if (*from < heldFrom) {
    std::string front;
    Step fetched = fetchHeld(*from, heldFrom, total, front);
    if (fetched == Step::Stopped) return DeltaStep::Stopped;
    if (fetched == Step::Failed) return declineDelta("没能取得新文件的目录");
    held.insert(0, front);
    heldFrom = *from;
  }
  std::optional<std::vector<ReusedRange>> candidates =
      task.delta->candidates(held, heldFrom, total);
  if (!candidates) return declineDelta("新文件的目录无法读取");
  return assembleDelta(held, heldFrom, total, std::move(*candidates));
}

Worker::DeltaStep Worker::declineDelta(const std::string& why) {
  engineLog(task, this, kLogError, why + ", 下载整个文件");
  closeConnections();
  assignSegment(-1);
  task.deltaAsked = false;
  task.segments.restore({}, 0);
  return stopRequested() ? DeltaStep::Stopped : DeltaStep::Declined;
}

Worker::Step Worker::receiveHeld(std::string& held, size_t wanted) {
  while (held.size() < wanted) {
    ReceiveRequest request;
    request.wanted = std::min(kTransferBufferSize, wanted - held.size());
    request.idleTimeoutMs = task.receiveTimeout;
    ReceiveResult got =
        receiveWithTimeout(dataSocket.get(), buffer_.get(), request, *this, this, dataFilter.get());
    held.append(reinterpret_cast<const char*>(buffer_.get()), got.received);
    if (stopRequested()) return Step::Stopped;
    if (got.code < 0 && held.size() < wanted) {
      engineLog(task, this, kLogError, errorText(got.code));
      return Step::Failed;
    }
  }
  held.resize(wanted);
  return Step::Go;
}

// The range goes through the layer's segment request: a table whose one missing segment is
// the range (nothing is written, so nothing is saved from it).
Worker::Step Worker::fetchHeld(int64_t from, int64_t to, int64_t total, std::string& out) {
  std::vector<Segment> table;
  auto add = [&table](int64_t start, int64_t end, bool done) {
    if (end <= start) return;
    Segment segment;
    segment.start = start;
    segment.length = end - start;
    segment.done = done ? segment.length : 0;
    table.push_back(segment);
  };
  add(0, from, true);
  add(from, to, false);
  add(to, total, true);
  const int32_t index = from > 0 ? 1 : 0;
  task.segments.restore(std::move(table), 10);
  if (!task.segments.take(index, this)) return Step::Failed;
  assignSegment(index);
  BodyBuffer body{buffer_.get(), kTransferBufferSize, 0};
  Step step = open(false, body);
  // An answer that is not exactly the range (a server that fell back to the whole file) is
  // never taken for it.
  if (step == Step::Go && (position() != from || segmentEnd() != to)) step = Step::Failed;
  if (step == Step::Go) {
    countReceived(body.length);
    out.assign(reinterpret_cast<const char*>(body.data),
               std::min<size_t>(body.length, static_cast<size_t>(to - from)));
    step = receiveHeld(out, static_cast<size_t>(to - from));
  }
  closeConnections();
  task.segments.release(index);
  assignSegment(-1);
  return step;
}

Worker::DeltaStep Worker::assembleDelta(const std::string& held, int64_t heldFrom, int64_t total,
                                        std::vector<ReusedRange> candidates) {
  Prepared prepared = prepareOutputFile();
  if (prepared != Prepared::Created) {
    return stopRequested() ? DeltaStep::Stopped : DeltaStep::Failed;
  }
  int error = 0;
  if (!task.output.write(heldFrom, reinterpret_cast<const uint8_t*>(held.data()), held.size(),
                         &error)) {
    engineFailure(*this, FailureKind::LocalFile,
                  formatText("写入文件失败: %s", systemText(error).c_str()));
    return DeltaStep::Failed;
  }
  const int32_t limit = kDeltaRangeLimit + 1;
  // Until the local ranges are in place only the held bytes count: a stop meanwhile leaves a
  // state that is true whatever was copied.
  DeltaLayout bare = layoutDelta(total, heldFrom, {}, limit);
  task.segments.restore(bare.segments, capacityFor(bare.segments.size()));
  DeltaLayout planned = layoutDelta(total, heldFrom, std::move(candidates), limit);
  DeltaWriter write = [this](int64_t offset, const uint8_t* data, size_t length) {
    return task.output.write(offset, data, length);
  };
  std::vector<bool> copied = task.delta->copyChecked(planned.reused, write, *this);
  if (stopRequested()) return DeltaStep::Stopped;
  std::vector<ReusedRange> kept;
  for (size_t k = 0; k < planned.reused.size(); ++k) {
    if (k < copied.size() && copied[k]) kept.push_back(planned.reused[k]);
  }
  const size_t refused = planned.reused.size() - kept.size();
  DeltaLayout layout = layoutDelta(total, heldFrom, std::move(kept), limit);
  task.reusedRanges = layout.reused;
  task.reusedBytes = layout.reusedBytes();
  task.segments.restore(std::move(layout.segments), capacityFor(layout.segments.size()));
  task.resuming = true;
  std::string note = formatText("差量下载: 从本地文件复用 %lld 字节, 需下载 %lld 字节",
                                static_cast<long long>(task.reusedBytes.load()),
                                static_cast<long long>(total - task.segments.sumDone()));
  if (refused > 0) note += formatText(" (%zu 个本地条目校验不符, 改为下载)", refused);
  engineLog(task, this, kLogProgress, note);
  return DeltaStep::Taken;
}
