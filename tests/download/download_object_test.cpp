// The download object: refused starts, idle operations, lifetime of a running task.
#include "download/download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer/transfer_task.h"

namespace {

const std::string kBody = patternBytes(50000, 3);

// Serves kBody after a pause, so that a test can act while the transfer runs.
std::unique_ptr<ScriptedServer> slowServer(int pauseMs) {
  return std::make_unique<ScriptedServer>([pauseMs](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.stall(pauseMs);
    c.send(httpHeader(200, "OK", "Content-Length: " + std::to_string(kBody.size()) + "\r\n") +
           kBody);
  });
}

struct Ending {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  bool startedAgain = true;
};

TaskParam params(const std::string& url, const std::string& path, Ending& ending,
                 Download* restart = nullptr) {
  TaskParam param;
  param.url = url;
  param.localPath = path;
  param.statusCallback = [&ending, restart, param](TaskStatus code, Worker*, int32_t, int32_t,
                                                   TransferTask*) mutable {
    if (code != TaskStatus::TaskEnded) return 0;
    bool again = restart != nullptr && restart->start(param);
    std::lock_guard lock(ending.mutex);
    ++ending.calls;
    ending.startedAgain = again;
    ending.changed.notify_all();
    return 0;
  };
  return param;
}

}  // namespace

TEST(DownloadObject, RefusesWhatItCannotStart) {
  TempDir dir;
  Download download;
  Ending ending;
  EXPECT_FALSE(download.start(params("mms://127.0.0.1/f", dir.file("f"), ending)));
  EXPECT_FALSE(download.start(params("http://127.0.0.1", dir.file("f"), ending)));
  EXPECT_FALSE(download.start(params("gopher://127.0.0.1/f", dir.file("f"), ending)));
  std::string longPath = dir.path() + "/" + std::string(259 - dir.path().size(), 'p');
  ASSERT_EQ(longPath.size(), 260u);
  EXPECT_FALSE(download.start(params("http://127.0.0.1:1/f", longPath, ending)));
  TaskParam absent = params("http://127.0.0.1:1/f", dir.file("f"), ending);
  absent.url.reset();
  EXPECT_FALSE(download.start(absent));
  EXPECT_EQ(ending.calls, 0);  // no callback follows a refusal
  EXPECT_EQ(download.takeReceivedBytes(), 0);
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::milliseconds(0)));
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(download.snapshot(bytes));
  download.stop();  // nothing to stop
}

TEST(DownloadObject, PathJustUnderTheLimitIsAccepted) {
  TempDir dir;
  Ending ending;
  auto server = slowServer(0);
  std::string path = dir.path() + "/" + std::string(258 - dir.path().size(), 'p');
  ASSERT_EQ(path.size(), 259u);
  Download download;
  ASSERT_TRUE(download.start(params(server->url("/f"), path, ending)));
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_TRUE(readWholeFile(path) == kBody);
}

TEST(DownloadObject, NoNewStartUntilTheTaskIsReleased) {
  TempDir dir;
  Ending ending;
  auto server = slowServer(0);
  Download download;
  TaskParam param = params(server->url("/f"), dir.file("f"), ending, &download);
  ASSERT_TRUE(download.start(param));
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_EQ(ending.calls, 1);
  EXPECT_FALSE(ending.startedAgain);  // refused from inside the TaskEnded call
  ASSERT_TRUE(download.start(params(server->url("/f"), dir.file("g"), ending)));
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_TRUE(readWholeFile(dir.file("g")) == kBody);
}

TEST(DownloadObject, DestroyingItStopsTheTaskAndWaitsForTheEnd) {
  TempDir dir;
  Ending ending;
  auto server = slowServer(20000);
  {
    Download download;
    ASSERT_TRUE(download.start(params(server->url("/f"), dir.file("f"), ending)));
  }
  EXPECT_EQ(ending.calls, 1);  // the final call came before the object went
}
