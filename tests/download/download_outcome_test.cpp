// Download::outcome(): read inside the final call and after it, a failure that a retry
// recovered from is forgotten, and a stop says so. (Each failure class is checked where it
// arises: tests/transfer/server_faults_test.cpp, tests/cli/fetch_behaviour_test.cpp.)
#include <gtest/gtest.h>

#include "download/download.h"
#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer_recorder.h"

TEST(DownloadOutcome, InsideTheLastCallAndAfterARecoveredFailureAndAStop) {
  const std::string body = patternBytes(60000, 4);
  // The first connection is reset after its header; the retry succeeds.
  ScriptedServer flaky([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    if (c.index() == 0) {
      c.send(httpHeader(200, "OK", "Content-Length: 60000\r\n"));
      c.close(true);
      return;
    }
    int64_t from = requestedRangeStart(request);
    c.send(httpHeader(206, "Partial",
                      "Content-Range: bytes " + std::to_string(from) + "-59999/60000\r\n") +
           body.substr(static_cast<size_t>(from)));
  });
  TempDir out;
  TransferRecorder recorder;
  Download download;
  TaskParam param = recorder.param(flaky.url("/f"), out.file("f"));
  TaskOutcome inside;
  StatusCallback record = param.statusCallback;
  param.statusCallback = [&](TaskStatus code, Worker* worker, int32_t a, int32_t b,
                             TransferTask* task) -> int32_t {
    if (code == TaskStatus::TaskEnded) inside = download.outcome();
    return record(code, worker, a, b, task);
  };
  ASSERT_TRUE(download.start(param, quickTuning()));
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(30)));
  EXPECT_EQ(inside.ending, TaskEnding::Complete);
  EXPECT_EQ(inside.message, "");  // the reset was retried away
  EXPECT_EQ(download.outcome().ending, TaskEnding::Complete);

  ScriptedServer stalling([&](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(200, "OK", "Content-Length: 60000\r\n") + body.substr(0, 100));
    c.waitForPeerClose(10000);
  });
  TransferRecorder stopped;
  ASSERT_TRUE(download.start(stopped.param(stalling.url("/s"), out.file("s")), quickTuning()));
  for (int i = 0; i < 500 && stopped.count(TaskStatus::FirstRange) == 0; ++i) {
    stopped.waitEnded(std::chrono::milliseconds(10));
  }
  download.stop();
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_EQ(download.outcome().ending, TaskEnding::Stopped);
  EXPECT_EQ(download.outcome().kind, FailureKind::None);
}
