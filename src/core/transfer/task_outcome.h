#pragma once
// How a transfer task ended, and why it failed: a value the engine fills where the failure
// happens, so that nobody has to read it back out of log lines.
#include <optional>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "transfer/expected_content.h"

enum class TaskEnding { Complete, Stopped, Failed };

enum class FailureKind {
  None,         // no failure, or one of no particular class
  ServerReply,  // the server answered with an error (HTTP status, FTP reply, no size, ...)
  Network,      // name resolution, connect, send or receive failed, or timed out
  LocalFile,    // the local file could not be created, written or named
  Integrity,    // the server's bytes do not match what was asked (range, size, expected content)
                // or the server's file changed twice during the download
  Security,     // the server's TLS certificate was not accepted, or https led to plain http
};

struct TaskOutcome {
  TaskEnding ending = TaskEnding::Failed;
  FailureKind kind = FailureKind::None;
  std::string message;  // last error text, the system's own wording, no password
  // A task with expected content: the digests of its bytes once all were written (also when
  // they did not match), and what did not match (the bytes were then discarded).
  std::optional<ContentDigests> digests;
  std::vector<ContentMismatch> mismatches;
  // Body bytes fetched from the server, and bytes a delta took from the local file.
  int64_t fetchedBytes = 0;
  int64_t reusedBytes = 0;
  // A complete task: the file under its final name as it was placed.
  std::optional<FileIdentity> placedFile;
};
