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
//   NameKnown      a local path ending in "/" has got its file name (from the server's answer
//                  or the URL), before the name-clash question and before the partial file is
//                  made; asked on the worker thread; a = total size. Answer 0 go on (a partial
//                  file of that name is replaced), 1 give up, 2 continue the partial file when
//                  its control file describes this download (else go on as 0).
//   Resumed        the first answer confirmed that the partial file holds the server's file:
//                  the task continues it; a = bytes already there, b = 1 when a change of the
//                  server's file would be noticed (the server names its file's version), 0
//                  when it could not be.
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
  NameKnown = 19,
  Resumed = 20,
};
