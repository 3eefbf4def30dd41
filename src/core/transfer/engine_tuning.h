#pragma once
// Fixed sizes of the transfer engine and the timings a caller may shorten per task.
#include <cstddef>
#include <cstdint>

// Receive buffer of every worker; also the largest single receive and the size below which
// an HTTP file is fetched over one connection.
inline constexpr size_t kTransferBufferSize = 20480;
// A segment is split for a new worker only when it has at least this many bytes left.
inline constexpr int64_t kSplitThreshold = 2 * static_cast<int64_t>(kTransferBufferSize);
// Below this size a file always has one segment, whatever the protocol.
inline constexpr int64_t kSingleSegmentFloor = 4096;
// Longest local path, terminator included.
inline constexpr size_t kLocalPathLimit = 260;

// Engine timings with the system's values as defaults. Tests pass smaller ones; a task keeps
// its own copy, so nothing here is global.
struct EngineTuning {
  // Failures in a row that a worker retries when none of its attempts moved its file
  // position on (bytes the file already held, sent again by a server that ignores ranges, do
  // not count). A connection that did move it on retries at once and starts the count
  // afresh: a link that keeps breaking but keeps delivering is never given up on.
  int32_t retryLimit = 999;
  int32_t retryWaitMs = 5000;       // pause before a retry that follows an attempt without a byte
  int32_t maxRedirects = 20;        // longest redirect chain the first connection follows
  int32_t acceptTimeoutMs = 20000;  // bound on waiting for an active-mode data connection
};
