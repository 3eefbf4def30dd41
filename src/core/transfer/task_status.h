#pragma once
// The status events a transfer task reports to its status callback. The values are the
// numbers the log lines and stored records of the system use, so they never change.
#include <cstdint>

// Status callback arguments per event (code, a, b):
//   SizeKnown      first data of a fresh task; a = total size
//   TaskEnded      the task ended, always last and once; a = bytes written when stopped, else
//                  total size. How it ended is told by Download::outcome() (valid inside this
//                  call and after it), transferComplete(task) and bytesWritten(task).
//   WorkerStarted  a worker thread started
//   FirstRange     a worker begins its first segment; a = position, b = segment end
//   NextRange      a worker moves on to another segment; a = position, b = segment end
//   WorkerDone     a worker ended normally (also when stopped); a = its position
//   WorkerFailed   a worker ended with an error; a = its position
//   Data           data arrived; a = byte count (delivered within kQuietDeliveryMs; data of
//                  one worker that queued up meanwhile comes as one call)
//   NameClash      a file of the same name exists (asked on the worker thread); a = its size,
//                  b = total; answer 0 rename automatically, 1 give up, 2 the callback renamed
//                  the target itself with setLocalPath (or accepts replacing the file),
//                  anything else give up silently.
enum class TaskStatus : int32_t {
  SizeKnown = 3,
  TaskEnded = 4,
  WorkerStarted = 5,
  FirstRange = 6,
  NextRange = 7,
  WorkerDone = 8,
  WorkerFailed = 9,
  Data = 16,
  NameClash = 18,
};
