// Servers and links of the field, played by a scripted loopback server: answers to range
// requests that do not fit, servers that ignore ranges, links that reset, hostile header
// values. Whatever they do, no wrong byte is ever reported complete.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <condition_variable>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "download/download.h"
#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer/transfer_task.h"
#include "transfer_recorder.h"

namespace {

const std::string kBody = patternBytes(100003, 11);
const std::string kOther = patternBytes(120000, 12);  // the file after it was replaced

std::string lengthField(size_t size) {
  return "Content-Length: " + std::to_string(size) + "\r\n";
}

// Runs a task over `connections` and returns its outcome.
TaskOutcome run(TransferRecorder& recorder, const std::string& url, const std::string& path,
                int32_t connections) {
  Download download;
  EXPECT_TRUE(download.start(recorder.param(url, path, connections), quickTuning()));
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(60)));
  return download.outcome();
}

// Every byte of `file` is the right one or still zero.
void expectNoWrongByte(const std::string& file, const std::string& body) {
  ASSERT_LE(file.size(), body.size());
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] != body[i] && file[i] != 0) {
      ADD_FAILURE() << "wrong byte at " << i;
      return;
    }
  }
}

}  // namespace

// A 206 is accepted only when its Content-Range starts where the segment stands and names
// the task's total, a 200 only when it has the task's size; field names in any case and
// blanks around the value are fine.
TEST(ServerFaults, RangeAnswersAreCheckedBeforeAnyByteIsWritten) {
  struct Case {
    const char* name;
    std::function<std::string(int64_t from)> answer;  // header and body of a range answer
  };
  const Case bad[] = {
      {"another total (the file was replaced)",
       [](int64_t from) {
         return httpHeader(206, "Partial",
                           "Content-Range: bytes " + std::to_string(from) + "-119999/120000\r\n") +
                kOther.substr(static_cast<size_t>(from));
       }},
      {"no Content-Range",
       [](int64_t from) {
         return httpHeader(206, "Partial", "") + kOther.substr(static_cast<size_t>(from));
       }},
      {"lower case, 10 bytes early",
       [](int64_t from) {
         return httpHeader(
                    206, "Partial",
                    "content-range: bytes " + std::to_string(from - 10) + "-100002/100003\r\n") +
                kOther.substr(static_cast<size_t>(from - 10));
       }},
      {"the whole of another file",
       [](int64_t) { return httpHeader(200, "OK", lengthField(kOther.size())) + kOther; }},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([&](ScriptedConnection& connection) {
      int64_t from = requestedRangeStart(connection.readUntil("\r\n\r\n"));
      connection.send(from < 0 ? httpHeader(200, "OK", lengthField(kBody.size())) + kBody
                               : c.answer(from));
    });
    TempDir out;
    TransferRecorder recorder;
    TaskOutcome outcome = run(recorder, server.url("/f.bin"), out.file("f"), 4);
    EXPECT_EQ(outcome.ending, TaskEnding::Failed);
    EXPECT_EQ(outcome.kind, FailureKind::Integrity);
    EXPECT_NE(outcome.message.find("不符"), std::string::npos) << outcome.message;
    EXPECT_FALSE(recorder.complete);
    EXPECT_EQ(recorder.written, 25000);  // the first connection's own segment only
    EXPECT_FALSE(fileExists(out.file("f")));
    std::string partial = readWholeFile(partialPathOf(out.file("f")));
    EXPECT_EQ(partial.size(), kBody.size());
    expectNoWrongByte(partial, kBody);
  }

  SCOPED_TRACE("lower case with blanks, right range");
  ScriptedServer server([](ScriptedConnection& connection) {
    int64_t from = requestedRangeStart(connection.readUntil("\r\n\r\n"));
    if (from < 0) {
      connection.send(httpHeader(200, "OK", "content-length:   100003  \r\n") + kBody);
      return;
    }
    connection.send(
        httpHeader(206, "Partial",
                   "CONTENT-RANGE:  Bytes " + std::to_string(from) + "-100002/100003 \r\n") +
        kBody.substr(static_cast<size_t>(from)));
  });
  TempDir out;
  TransferRecorder recorder;
  EXPECT_EQ(run(recorder, server.url("/f.bin"), out.file("f"), 4).ending, TaskEnding::Complete);
  EXPECT_TRUE(readWholeFile(out.file("f")) == kBody);
}

// An absurd connection count lays out only what the file can fill, and starts no more
// workers than that.
TEST(ServerFaults, HugeConnectionCountsStayWithinTheFile) {
  ScriptedServer server([](ScriptedConnection& c) {
    int64_t from = std::max<int64_t>(requestedRangeStart(c.readUntil("\r\n\r\n")), 0);
    c.send(rangeAnswerHeader(from, kBody.size()) + kBody.substr(static_cast<size_t>(from)));
  });
  TempDir out;
  TransferRecorder recorder;
  EXPECT_EQ(run(recorder, server.url("/f.bin"), out.file("f"), INT32_MAX).ending,
            TaskEnding::Complete);
  EXPECT_TRUE(readWholeFile(out.file("f")) == kBody);
  EXPECT_LE(recorder.count(TaskStatus::WorkerStarted), 4);
}

namespace {

// A link that resets every connection midway: each answer carries half of what was asked
// (at least 64 KiB), then the connection is reset.
void resetMidway(ScriptedConnection& c, const std::string& body) {
  int64_t from = std::max<int64_t>(requestedRangeStart(c.readUntil("\r\n\r\n")), 0);
  size_t left = body.size() - static_cast<size_t>(from);
  size_t sent = left <= 65536 ? left : std::max<size_t>(left / 2, 65536);
  c.send(rangeAnswerHeader(from, body.size()) + body.substr(static_cast<size_t>(from), sent));
  c.waitUntilSent();
  c.close(sent < left);
}

EngineTuning systemWaitFewRetries() {
  EngineTuning tuning;  // the system's 5000 ms retry wait
  tuning.retryLimit = 2;
  return tuning;
}

// Fetches `url` into `path` over 4 connections with the system's retry wait; how long it took.
std::chrono::steady_clock::duration timedFetch(Download& download, TransferRecorder& recorder,
                                               const std::string& url, const std::string& path) {
  auto began = std::chrono::steady_clock::now();
  EXPECT_TRUE(download.start(recorder.param(url, path, 4), systemWaitFewRetries()));
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(60)));
  return std::chrono::steady_clock::now() - began;
}

}  // namespace

// A connection that received bytes retries at once, and such retries do not use up the
// retry limit: a link that keeps breaking but keeps delivering is seen through quickly.
TEST(ServerFaults, ResetMidwayLinkRetriesAtOnce) {
  const std::string body = patternBytes(4 << 20, 13);
  ScriptedServer server([&](ScriptedConnection& c) { resetMidway(c, body); });
  TempDir out;
  TransferRecorder recorder;
  Download download;
  auto took = timedFetch(download, recorder, server.url("/f.bin"), out.file("f"));
  EXPECT_EQ(download.outcome().ending, TaskEnding::Complete) << download.outcome().message;
  EXPECT_TRUE(readWholeFile(out.file("f")) == body);
  EXPECT_TRUE(recorder.hasLog("立即重试"));
  EXPECT_FALSE(recorder.hasLog("等待5秒后重试"));
  EXPECT_GE(server.connectionCount(), 8);  // it did break, many times
  EXPECT_LT(took, std::chrono::seconds(4));
}

// A connection that got nothing waits the retry wait; meanwhile a free worker takes over
// the rest of its segment, and the waiting worker is woken when that happens.
TEST(ServerFaults, FreeWorkerTakesOverTheRangeOfAWaitingOne) {
  std::atomic<int> refused{0};
  ScriptedServer server([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    int64_t from = std::max<int64_t>(requestedRangeStart(request), 0);
    // The first request for the last segment gets a header and then a reset, no byte.
    if (from == 75000 && refused.fetch_add(1) == 0) {
      c.send(httpHeader(206, "Partial", "Content-Range: bytes 75000-100002/100003\r\n"));
      c.waitUntilSent();
      c.close(true);
      return;
    }
    // Slowly, so that the others are still at work when the refused one starts waiting.
    c.send(rangeAnswerHeader(from, kBody.size()));
    c.sendInPieces(kBody.substr(static_cast<size_t>(from)), 4096, 15);
  });
  TempDir out;
  TransferRecorder recorder;
  Download download;
  auto took = timedFetch(download, recorder, server.url("/f.bin"), out.file("f"));
  EXPECT_EQ(download.outcome().ending, TaskEnding::Complete) << download.outcome().message;
  EXPECT_TRUE(readWholeFile(out.file("f")) == kBody);
  EXPECT_TRUE(recorder.hasLog("等待5秒后重试"));
  EXPECT_EQ(refused.load(), 2);  // asked twice: refused, then by the one that took it over
  EXPECT_LT(took, std::chrono::seconds(4));  // nobody sat out the 5 s wait
}

// A server that ignores Range and cuts every answer short: each attempt reads the same first
// bytes again, which never moves the file position on, so the attempts count against the
// retry limit and the task ends rather than retrying forever.
TEST(ServerFaults, AServerThatAlwaysCutsItsWholeFileShortIsGivenUp) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(200, "OK", lengthField(kBody.size())) + kBody.substr(0, 60000));
    c.waitUntilSent();
  });
  for (int32_t connections : {1, 4}) {
    SCOPED_TRACE(connections);
    TempDir out;
    TransferRecorder recorder;
    Download download;
    EngineTuning tuning = quickTuning();
    int before = server.connectionCount();
    ASSERT_TRUE(
        download.start(recorder.param(server.url("/f.bin"), out.file("f"), connections), tuning));
    ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(30)));
    EXPECT_EQ(download.outcome().ending, TaskEnding::Failed);
    EXPECT_EQ(download.outcome().kind, FailureKind::Network);
    // The first read and the first retry moved the position on; then every attempt is a
    // failure in a row, up to the limit (and the other connections' dropped requests).
    int used = server.connectionCount() - before;
    EXPECT_GE(used, 2 + tuning.retryLimit);
    EXPECT_LE(used, 2 + tuning.retryLimit + (connections - 1));
    EXPECT_FALSE(fileExists(out.file("f")));
  }
}

// A server that cuts the first answer for every new range start midway (half of what is left
// of the file from there, so a last single byte gets a header and a reset) and answers a
// start it has seen before whole. The connection at the end of the file chases its range in
// ever smaller answers; the workers that finished stand by: they share its range while it
// reconnects and take over the rest when its last attempt brings nothing, so nobody sits out
// the (here one minute long) retry wait.
TEST(ServerFaults, FinishedWorkersShareTheRangeOfOneThatKeepsDropping) {
  const size_t size = 1 << 20;
  const std::string body = patternBytes(size, 17);
  const int64_t tail = static_cast<int64_t>(size) / 4 * 3;  // the fourth segment's start
  std::mutex mutex;
  std::condition_variable changed;
  std::set<int64_t> seen;
  int wholeAnswersDone = 0;
  ScriptedServer server([&](ScriptedConnection& c) {
    int64_t from = std::max<int64_t>(requestedRangeStart(c.readUntil("\r\n\r\n")), 0);
    bool first;
    {
      std::unique_lock lock(mutex);
      first = seen.insert(from).second;
      // The end of the file waits until the three other connections are through: they are
      // done (standing by) when its troubles begin.
      if (first && from >= tail) {
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return wholeAnswersDone >= 3; });
      }
    }
    size_t left = size - static_cast<size_t>(from);
    size_t sent = first && from >= tail ? left / 2 : left;
    c.send(rangeAnswerHeader(from, size) + body.substr(static_cast<size_t>(from), sent));
    if (sent < left) {
      c.waitUntilSent();
      c.close(true);
      return;
    }
    c.waitForPeerClose(20000);
    std::lock_guard lock(mutex);
    if (from < tail) ++wholeAnswersDone;
    changed.notify_all();
  });
  TempDir out;
  TransferRecorder recorder;
  Download download;
  EngineTuning tuning;
  tuning.retryWaitMs = 60000;
  ASSERT_TRUE(download.start(recorder.param(server.url("/f.bin"), out.file("f"), 4), tuning));
  bool ended = download.waitUntilIdle(std::chrono::seconds(30));
  if (!ended) download.stop();
  ASSERT_TRUE(ended) << "a connection sat out its retry wait";
  EXPECT_EQ(download.outcome().ending, TaskEnding::Complete) << download.outcome().message;
  EXPECT_TRUE(readWholeFile(out.file("f")) == body);
  EXPECT_TRUE(recorder.hasLog("等待60秒后重试"));  // the last byte's empty answer
}

// Hostile header values and URLs: a Set-Cookie with a bare LF cannot add a request line, a
// cookie goes only to the host that set it, a fragment is never sent and neither it nor the
// query names the local file.
TEST(ServerFaults, HeaderValuesAndUrlsStayInTheirPlace) {
  std::mutex mutex;
  std::vector<std::string> requests;
  ScriptedServer target([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    c.send(httpHeader(200, "OK", lengthField(kBody.size())) + kBody);
  });
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    std::string location = "http://" + std::string(host) + ":" + std::to_string(target.port()) +
                           "/dir/f.bin?token=1#frag";
    ScriptedServer origin([&](ScriptedConnection& c) {
      c.readUntil("\r\n\r\n");
      c.send(httpHeader(302, "Found",
                        "Location: " + location + "\r\nSet-Cookie: sid=1\nX-Injected: evil\r\n"));
    });
    TempDir out;
    TransferRecorder recorder;
    EXPECT_EQ(run(recorder, origin.url("/start#top"), out.path() + "/", 1).ending,
              TaskEnding::Complete);
    EXPECT_TRUE(readWholeFile(out.file("f.bin")) == kBody);
    std::lock_guard lock(mutex);
    ASSERT_FALSE(requests.empty());
    const std::string& sent = requests.back();
    EXPECT_EQ(requestTarget(sent), "/dir/f.bin?token=1");
    EXPECT_EQ(sent.find("X-Injected"), std::string::npos);
    bool sameHost = std::string(host) == "127.0.0.1";
    EXPECT_EQ(sent.find("\r\nCookie: sid=1\r\n") != std::string::npos, sameHost) << sent;
  }
}

namespace {

// Caps the size of files this process may write while it lives (a write past the cap fails
// with EFBIG, as a full disk fails with ENOSPC), then lifts the cap again.
class FileSizeCap {
 public:
  FileSizeCap() {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  void set(rlim_t bytes) {
    rlimit cap = saved_;
    cap.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &cap);
  }
  ~FileSizeCap() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

}  // namespace

// A file that cannot be created or written ends the task with the system's reason.
TEST(ServerFaults, LocalFileFailuresCarryTheSystemsReason) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(200, "OK", lengthField(kBody.size())));
    c.stall(300);  // the cap is set meanwhile, after the file was made
    c.send(kBody);
  });
  {
    SCOPED_TRACE("create");
    FileSizeCap cap;
    cap.set(50000);
    TempDir out;
    TransferRecorder recorder;
    TaskOutcome outcome = run(recorder, server.url("/f.bin"), out.file("f"), 1);
    EXPECT_EQ(outcome.kind, FailureKind::LocalFile);
    EXPECT_NE(outcome.message.find("创建文件错误"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find(std::strerror(EFBIG)), std::string::npos) << outcome.message;
  }
  {
    SCOPED_TRACE("write");
    FileSizeCap cap;
    TempDir out;
    TransferRecorder recorder;
    recorder.onStatus = [&cap](TaskStatus code) {
      if (code == TaskStatus::SizeKnown) cap.set(1000);
    };
    TaskOutcome outcome = run(recorder, server.url("/f.bin"), out.file("f"), 1);
    EXPECT_EQ(outcome.ending, TaskEnding::Failed);
    EXPECT_EQ(outcome.kind, FailureKind::LocalFile);
    EXPECT_EQ(outcome.message, std::string("写入文件失败: ") + std::strerror(EFBIG));
    EXPECT_TRUE(recorder.hasLog("写入文件失败"));
  }
}

namespace {

// A file that changes while it is downloaded: version 0 until `changeAfter` body bytes of it
// have gone out, then version 1, and (up to `lastVersion`) so on. Every answer names its
// version's ETag and treats If-Range as nginx does (another version: the whole file, 200), and
// every connection is cut after 64 KiB of body.
class ChangingFile {
 public:
  ChangingFile(size_t changeAfter, int lastVersion)
      : changeAfter_(changeAfter), lastVersion_(lastVersion) {}

  std::string body(int version) const { return patternBytes(1 << 20, 50 + version); }
  std::string url() const { return server_.url("/f.bin"); }
  int connections() const { return server_.connectionCount(); }

 private:
  static std::string etagOf(int version) { return "\"v" + std::to_string(version) + "\""; }

  void answer(ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    int64_t from = requestedRangeStart(request);
    size_t ifRange = request.find("\r\nIf-Range: ");
    std::string validator;
    if (ifRange != std::string::npos) {
      size_t start = ifRange + 12;
      validator = request.substr(start, request.find("\r\n", start) - start);
    }
    int version;
    {
      std::lock_guard lock(mutex_);
      version = version_;
    }
    if (from >= 0 && !validator.empty() && validator != etagOf(version)) from = -1;
    std::string bytes = body(version);
    size_t at = static_cast<size_t>(std::max<int64_t>(from, 0));
    size_t sent = std::min<size_t>(bytes.size() - at, 64 * 1024);
    std::string header = rangeAnswerHeader(std::max<int64_t>(from, 0), bytes.size());
    header.insert(header.find("\r\n") + 2, "ETag: " + etagOf(version) + "\r\n");
    c.send(header + bytes.substr(at, sent));
    c.waitUntilSent();
    {
      std::lock_guard lock(mutex_);
      sentOfVersion_[version] += sent;
      if (version_ == version && version < lastVersion_ &&
          sentOfVersion_[version] >= changeAfter_) {
        ++version_;
      }
    }
    c.close(at + sent < bytes.size());
  }

  const size_t changeAfter_;
  const int lastVersion_;
  std::mutex mutex_;
  int version_ = 0;
  std::map<int, size_t> sentOfVersion_;
  ScriptedServer server_{[this](ScriptedConnection& c) { answer(c); }};
};

}  // namespace

// A file that changes during the download while connections keep dropping: every reconnect
// names the old version in If-Range and gets the new file whole. The task starts over once as a
// whole with the new file; a second change ends it as an integrity failure. Either way it ends,
// and well within a minute.
TEST(ServerFaults, AFileThatChangesWhileConnectionsDropStartsOverOnceThenFails) {
  for (int lastVersion : {1, 2}) {
    SCOPED_TRACE(lastVersion == 1 ? "one change" : "two changes");
    ChangingFile file(256 * 1024, lastVersion);
    TempDir out;
    TransferRecorder recorder;
    Download download;
    ASSERT_TRUE(download.start(recorder.param(file.url(), out.file("f"), 4), quickTuning()));
    bool ended = download.waitUntilIdle(std::chrono::seconds(60));
    if (!ended) download.stop();
    ASSERT_TRUE(ended) << "still downloading after a minute";
    int startedOver = 0;
    for (const LogRecord& line : recorder.logs()) {
      if (line.message.find("整个任务从头重新下载") != std::string::npos) ++startedOver;
    }
    EXPECT_EQ(startedOver, 1);
    TaskOutcome outcome = download.outcome();
    if (lastVersion == 1) {
      EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
      EXPECT_TRUE(readWholeFile(out.file("f")) == file.body(1));
    } else {
      EXPECT_EQ(outcome.ending, TaskEnding::Failed);
      EXPECT_EQ(outcome.kind, FailureKind::Integrity);
      EXPECT_NE(outcome.message.find("再次改变"), std::string::npos) << outcome.message;
      EXPECT_FALSE(fileExists(out.file("f")));
    }
    // Two downloads of 16 pieces each, give or take the connections that were cut off.
    EXPECT_LT(file.connections(), 100);
  }
}
