#pragma once
// What a transfer task resumes from, and how it keeps the state it could resume from.
//
// While data flows, the controller hands the task to its state saver at least once a second,
// and once more when the task ends without its whole file (stopped or failed); the saver
// writes the control file beside the partial file. A saver that fails only costs the chance
// to resume: the transfer goes on.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transfer/protocol.h"
#include "transfer/segment_table.h"
#include "transfer/task_delta.h"

struct TransferTask;

// Writes the task's state beside its partial file; false when it could not.
using StateSaver = std::function<bool(const TransferTask& task)>;

// The state of an earlier task of the same URL into the same file, whose partial file holds
// the bytes the segments count as done.
struct TaskResume {
  int64_t totalSize = 0;
  std::vector<Segment> segments;
  int32_t capacity = 0;
  ProtocolSnapshot protocol;  // the layer's values the earlier task saved
};

// For a local path ending in "/": the state an earlier task left beside the partial file of
// `target` (the path once its name is known), when it is intact and names the same URL; else
// none, with `note` saying why when there was a control file.
using LateResumePlanner =
    std::function<std::optional<TaskResume>(const std::string& target, std::string& note)>;

struct TaskStartOptions {
  StateSaver saveState;
  std::optional<TaskResume> resume;
  LateResumePlanner lateResume;
  std::string note;  // logged when the task starts: why it resumes or starts over
  // A fresh task that may take unchanged ranges from a local file (ignored when resuming).
  std::unique_ptr<DeltaSource> delta;
};

// Fewest milliseconds between two periodic state saves.
inline constexpr uint64_t kStateSaveIntervalMs = 500;
