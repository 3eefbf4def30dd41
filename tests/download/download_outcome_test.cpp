// Download::outcome(): how a task ended and why, as a value, for each class of failure.
#include <gtest/gtest.h>

#include "download/download.h"
#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer_recorder.h"

namespace {

const std::string kBody = patternBytes(60000, 4);

void serve(ScriptedConnection& c, int status, const std::string& fields, const std::string& body) {
  c.readUntil("\r\n\r\n");
  c.send(httpHeader(status, "X", fields) + body);
}

// Runs url -> path through one Download object and returns its outcome, read both inside the
// final call and after the task was released (they must agree).
TaskOutcome fetch(const std::string& url, const std::string& path,
                  std::function<int32_t(TransferTask*)> onNameClash = {}) {
  TransferRecorder recorder;
  recorder.onNameClash = std::move(onNameClash);
  Download download;
  TaskParam param = recorder.param(url, path);
  TaskOutcome inside;
  StatusCallback record = param.statusCallback;
  param.statusCallback = [&](TaskStatus code, Worker* worker, int32_t a, int32_t b,
                             TransferTask* task) -> int32_t {
    if (code == TaskStatus::TaskEnded) inside = download.outcome();
    return record(code, worker, a, b, task);
  };
  EXPECT_TRUE(download.start(param, quickTuning()));
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(30)));
  TaskOutcome after = download.outcome();
  EXPECT_EQ(inside.ending, after.ending);
  EXPECT_EQ(inside.kind, after.kind);
  EXPECT_EQ(inside.message, after.message);
  return after;
}

}  // namespace

TEST(DownloadOutcome, EachEndingAndFailureClass) {
  TempDir out;
  {
    SCOPED_TRACE("complete");
    ScriptedServer server(
        [](ScriptedConnection& c) { serve(c, 200, "Content-Length: 60000\r\n", kBody); });
    TaskOutcome outcome = fetch(server.url("/f"), out.file("f"));
    EXPECT_EQ(outcome.ending, TaskEnding::Complete);
    EXPECT_EQ(outcome.kind, FailureKind::None);
    EXPECT_EQ(outcome.message, "");
  }
  {
    SCOPED_TRACE("error reply");
    ScriptedServer server([](ScriptedConnection& c) { serve(c, 404, "", ""); });
    TaskOutcome outcome = fetch(server.url("/g"), out.file("g"));
    EXPECT_EQ(outcome.ending, TaskEnding::Failed);
    EXPECT_EQ(outcome.kind, FailureKind::ServerReply);
    EXPECT_EQ(outcome.message, "出现错误, 返回号[404]");
  }
  {
    SCOPED_TRACE("network: retries exhausted");
    TaskOutcome outcome = fetch("http://127.0.0.1:1/h", out.file("h"));
    EXPECT_EQ(outcome.ending, TaskEnding::Failed);
    EXPECT_EQ(outcome.kind, FailureKind::Network);
    EXPECT_EQ(outcome.message, "连接 [127.0.0.1:1]失败");
  }
  {
    SCOPED_TRACE("local file: the caller gives up on a name clash");
    ScriptedServer server(
        [](ScriptedConnection& c) { serve(c, 200, "Content-Length: 60000\r\n", kBody); });
    out.write("taken", "old");
    TaskOutcome outcome =
        fetch(server.url("/taken"), out.file("taken"), [](TransferTask*) { return 1; });
    EXPECT_EQ(outcome.ending, TaskEnding::Failed);
    EXPECT_EQ(outcome.kind, FailureKind::LocalFile);
    EXPECT_EQ(outcome.message, "发现同名文件, 用户选择放弃下载");
  }
}

TEST(DownloadOutcome, StoppedTaskSaysSoAndARecoveredFailureIsForgotten) {
  TempDir out;
  // The first connection is reset after its header; the retry succeeds.
  ScriptedServer flaky([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    if (c.index() == 0) {
      c.send(httpHeader(200, "OK", "Content-Length: 60000\r\n"));
      c.close(true);
      return;
    }
    int64_t from = requestedRangeStart(request);
    c.send(httpHeader(206, "Partial",
                      "Content-Range: bytes " + std::to_string(from) + "-59999/60000\r\n") +
           kBody.substr(static_cast<size_t>(from)));
  });
  TaskOutcome recovered = fetch(flaky.url("/f"), out.file("f"));
  EXPECT_EQ(recovered.ending, TaskEnding::Complete);
  EXPECT_EQ(recovered.message, "");

  ScriptedServer stalling([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(200, "OK", "Content-Length: 60000\r\n") + kBody.substr(0, 100));
    c.waitForPeerClose(10000);
  });
  TransferRecorder recorder;
  Download download;
  ASSERT_TRUE(download.start(recorder.param(stalling.url("/s"), out.file("s")), quickTuning()));
  for (int i = 0; i < 500 && recorder.count(TaskStatus::FirstRange) == 0; ++i) {
    recorder.waitEnded(std::chrono::milliseconds(10));
  }
  download.stop();
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_EQ(download.outcome().ending, TaskEnding::Stopped);
  EXPECT_EQ(download.outcome().kind, FailureKind::None);
}
