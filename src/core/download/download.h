#pragma once
// The program's handle on one transfer at a time.
#include <chrono>
#include <cstdint>
#include <vector>

#include "download/task_param.h"

class Download {
 public:
  Download() = default;
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;
  ~Download();

  // Starts a transfer. False when a task is still attached, the URL's scheme is unknown,
  // the URL names no path, or the task cannot be started; no callback follows a false.
  bool start(const TaskParam& param);
  // Bytes received since the previous call; 0 when idle.
  int32_t takeReceivedBytes();
  // Serialises the running task into `bytes`; false (bytes untouched) when idle.
  bool snapshot(std::vector<uint8_t>& bytes);
  // Reads one value back from a snapshot: kind 1 total size, 2 bytes done, 3 segment count,
  // 4/5/6 start/length/done of segment `index` (1-based). -1 on any failure.
  static int32_t querySnapshot(const std::vector<uint8_t>& bytes, int32_t kind, int32_t index);
  // Tells the running task to stop; returns after at most the task's exit wait.
  void stop();
  // Waits until no task is attached (its final code-4 call has returned), at most `limit`.
  bool waitUntilIdle(std::chrono::milliseconds limit);
};
