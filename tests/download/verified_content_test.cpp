// Downloads with expected content: the bytes take the target's name only when their digest is
// the expected one, hashed while they are written, whatever order the connections wrote them in.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "download/download.h"
#include "nginx_server.h"
#include "platform/file_identity.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer_recorder.h"

namespace {

constexpr size_t kSize = 3 << 20;

// Runs a download of `url` into `path` expecting `md5`; its outcome.
TaskOutcome fetchExpecting(TransferRecorder& recorder, const std::string& url,
                           const std::string& path, int32_t connections, const std::string& md5) {
  TaskParam param = recorder.param(url, path, connections);
  param.expected.md5 = md5;
  Download download;
  EXPECT_TRUE(download.start(param, quickTuning()));
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(60)));
  return download.outcome();
}

// A file served without ETag or Last-Modified, honouring ranges. While `stallAfter` is set, a
// whole-file answer sends that many bytes and then waits for the client to go.
struct PlainSite {
  std::mutex mutex;
  std::string body;
  size_t stallAfter = 0;
  std::vector<int64_t> starts;  // of every request's Range, -1 without one
  ScriptedServer server{[this](ScriptedConnection& c) {
    int64_t from = requestedRangeStart(c.readUntil("\r\n\r\n"));
    std::unique_lock lock(mutex);
    starts.push_back(from);
    size_t at = static_cast<size_t>(std::max<int64_t>(from, 0));
    size_t cut = from < 0 && stallAfter > 0 ? stallAfter : std::string::npos;
    std::string answer = rangeAnswerHeader(static_cast<int64_t>(at), body.size()) +
                         body.substr(at, cut == std::string::npos ? cut : cut - at);
    lock.unlock();
    c.send(answer);
    if (cut != std::string::npos) c.waitForPeerClose(20000);
  }};
};

}  // namespace

TEST(VerifiedContent, OnlyTheExpectedBytesTakeTheTargetsName) {
  TempDir site;
  TempDir out;
  const std::string body = patternBytes(kSize, 31);
  site.write("a.bin", body);
  NginxServer nginx(site.path());

  // Whatever the connections and the order they wrote in, the digest is the file's, and the
  // file placed is the one the outcome names.
  for (int32_t connections : {1, 3, 8}) {
    SCOPED_TRACE(connections);
    std::string path = out.file("a" + std::to_string(connections));
    TransferRecorder recorder;
    TaskOutcome outcome =
        fetchExpecting(recorder, nginx.url("/a.bin"), path, connections, md5OfBytes(body));
    EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
    EXPECT_TRUE(readWholeFile(path) == body);
    ASSERT_TRUE(outcome.digests.has_value());
    EXPECT_EQ(outcome.digests->md5, md5OfBytes(body));
    EXPECT_EQ(outcome.placedFile, fileIdentityAt(path));
  }

  // A server that ignores ranges: the connections' bytes are thrown away and the file comes
  // again from byte 0 over one of them; the digest starts over with it.
  ScriptedServer rangeless([&body](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    if (requestedRangeStart(request) >= 0) c.stall(300);
    c.send(httpHeader(200, "OK", "Content-Length: " + std::to_string(body.size()) + "\r\n") + body);
  });
  TransferRecorder fallback;
  TaskOutcome whole =
      fetchExpecting(fallback, rangeless.url("/a.bin"), out.file("r"), 4, md5OfBytes(body));
  EXPECT_EQ(whole.ending, TaskEnding::Complete) << whole.message;
  EXPECT_TRUE(fallback.hasLog("改为单连接下载"));

  // Bytes that are not the expected ones never replace the file there; nothing is left of them.
  std::string kept = out.write("old.bin", "the archive that was there");
  TransferRecorder refused;
  TaskOutcome wrong = fetchExpecting(refused, nginx.url("/a.bin"), kept, 3, md5OfBytes("x"));
  EXPECT_EQ(wrong.ending, TaskEnding::Failed);
  EXPECT_EQ(wrong.kind, FailureKind::Integrity);
  ASSERT_EQ(wrong.mismatches.size(), 1u);
  EXPECT_EQ(wrong.mismatches[0].what, "MD5");
  EXPECT_EQ(wrong.mismatches[0].expected, md5OfBytes("x"));
  EXPECT_EQ(wrong.mismatches[0].actual, md5OfBytes(body));
  EXPECT_FALSE(refused.complete);
  EXPECT_EQ(readWholeFile(kept), "the archive that was there");
  EXPECT_FALSE(fileExists(partialPathOf(kept)));
  EXPECT_FALSE(fileExists(controlPathOf(kept)));
}

// A server without validators cannot tell that its file changed between a stop and the next
// run: the continued file mixes old and new bytes. Its digest shows it, and the file is fetched
// once more from byte 0; if even that is not the expected file, the task fails rather than
// fetching it again and again.
TEST(VerifiedContent, ContinuedBytesThatDoNotMatchAreFetchedOnceMoreFromTheStart) {
  const std::string before = patternBytes(kSize, 41);
  const std::string after = patternBytes(kSize, 42);  // the same size: only the digest tells
  constexpr size_t kWritten = 3 * 20480;
  TempDir out;
  std::string path = out.file("p.zip");

  for (bool expectedExists : {true, false}) {
    SCOPED_TRACE(expectedExists ? "the server now has the expected file" : "it never has");
    PlainSite site;
    site.body = before;
    site.stallAfter = kWritten;
    std::string url = site.server.url("/f.bin");
    {
      Download first;
      TransferRecorder recorder;
      ASSERT_TRUE(first.start(recorder.param(url, path, 1), quickTuning()));
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (first.progress().received < static_cast<int64_t>(kWritten) &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      first.stop();
      ASSERT_TRUE(first.waitUntilIdle(std::chrono::seconds(10)));
      ASSERT_EQ(first.outcome().ending, TaskEnding::Stopped);
    }
    size_t asked;
    {
      std::lock_guard lock(site.mutex);
      site.stallAfter = 0;
      site.body = after;
      asked = site.starts.size();
    }

    TransferRecorder recorder;
    std::string expected = expectedExists ? md5OfBytes(after) : md5OfBytes("x");
    TaskOutcome outcome = fetchExpecting(recorder, url, path, 2, expected);
    EXPECT_TRUE(recorder.hasLog("从控制文件续传"));
    EXPECT_TRUE(recorder.hasLog("续传得到的文件与预期不符"));
    // The continued run was told that the server cannot show a change.
    bool unguarded = false;
    for (const StatusRecord& status : recorder.statuses()) {
      unguarded |= status.code == TaskStatus::Resumed &&
                   status.a == static_cast<int32_t>(kWritten) && status.b == 0;
    }
    EXPECT_TRUE(unguarded);
    // One request for the rest, then the whole file once more from byte 0, and no more.
    std::vector<int64_t> starts;
    {
      std::lock_guard lock(site.mutex);
      starts.assign(site.starts.begin() + static_cast<long>(asked), site.starts.end());
    }
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), static_cast<int64_t>(kWritten));
    EXPECT_EQ(std::count(starts.begin(), starts.end(), -1), 1);
    if (expectedExists) {
      EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
      EXPECT_TRUE(readWholeFile(path) == after);
    } else {
      EXPECT_EQ(outcome.kind, FailureKind::Integrity);
      EXPECT_FALSE(fileExists(path));
      EXPECT_FALSE(fileExists(partialPathOf(path)));
    }
    ::unlink(path.c_str());
  }
}
