// Transfers against a scripted loopback server that injects the faults real servers do not
// produce on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "nginx_server.h"
#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer/transfer_task.h"
#include "transfer_recorder.h"

namespace {

const std::string kBody = patternBytes(100003, 7);

// Answers a request for `body` as a range-capable server does.
void answer(ScriptedConnection& connection, const std::string& request, const std::string& body,
            const std::string& extraFields = "") {
  int64_t from = requestedRangeStart(request);
  if (from < 0) {
    connection.send(
        httpHeader(200, "OK",
                   "Content-Length: " + std::to_string(body.size()) + "\r\n" + extraFields) +
        body);
    return;
  }
  std::string part = body.substr(static_cast<size_t>(from));
  connection.send(httpHeader(206, "Partial Content",
                             "Content-Range: bytes " + std::to_string(from) + "-" +
                                 std::to_string(body.size() - 1) + "/" +
                                 std::to_string(body.size()) + "\r\n" + extraFields) +
                  part);
}

// Records the request headers the server saw.
struct RequestLog {
  std::mutex mutex;
  std::vector<std::string> requests;
  void add(const std::string& request) {
    std::lock_guard lock(mutex);
    requests.push_back(request);
  }
  std::vector<std::string> all() {
    std::lock_guard lock(mutex);
    return requests;
  }
};

class ScriptedFault : public ::testing::Test {
 protected:
  TempDir out_;
  TransferRecorder recorder_;
};

}  // namespace

TEST_F(ScriptedFault, HeaderSplitOverManyReceivesIsAssembled) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    std::string header = httpHeader(200, "OK", "Content-Length: 100003\r\nServer: slow\r\n");
    c.sendInPieces(header, 5, 2);
    c.send(kBody);
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
}

TEST_F(ScriptedFault, OverlongHeaderIsAPermanentFailure) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nX-Filler: " + std::string(5000, 'x') + "\r\n\r\n");
    c.waitForPeerClose(3000);
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.hasLog("HTTP返回头部信息过长"));
  EXPECT_FALSE(recorder_.hasLog("重试"));
  EXPECT_EQ(server.connectionCount(), 1);
  EXPECT_FALSE(recorder_.complete);
}

TEST_F(ScriptedFault, MissingSizeAndRejectedStatusAreNotRetried) {
  ScriptedServer noLength([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(200, "OK", "") + "body");
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(noLength.url("/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.hasLog("无法获得文件大小"));
  EXPECT_EQ(noLength.connectionCount(), 1);
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerFailed), 1);

  TransferRecorder forbidden;
  ScriptedServer teapot([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(418, "Teapot", "Content-Length: 0\r\n"));
  });
  ASSERT_TRUE(runTransfer(forbidden, forbidden.param(teapot.url("/f.bin"), out_.file("g"))));
  EXPECT_TRUE(forbidden.hasLog("暂时不支持的返回, 返回号[418]"));
  EXPECT_EQ(teapot.connectionCount(), 1);
  EXPECT_FALSE(fileExists(out_.file("g")));
}

TEST_F(ScriptedFault, DroppedConnectionsResumeFromWhereTheyWere) {
  RequestLog log;
  ScriptedServer server([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    log.add(request);
    if (c.index() == 0) {  // half the body, then a plain close
      c.send(httpHeader(200, "OK", "Content-Length: 100003\r\n") + kBody.substr(0, 50001));
    } else if (c.index() == 1) {  // a header and nothing, then a reset
      c.send(httpHeader(206, "Partial Content", "Content-Range: bytes 50001-100002/100003\r\n"));
      c.close(true);
    } else {
      answer(c, request, kBody);
    }
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
  std::vector<std::string> requests = log.all();
  ASSERT_EQ(requests.size(), 3u);
  // What arrived before the failure was written, so both retries ask from there.
  EXPECT_EQ(requestedRangeStart(requests[1]), 50001);
  EXPECT_EQ(requestedRangeStart(requests[2]), 50001);
  EXPECT_TRUE(recorder_.hasLog("有错误发生"));
  EXPECT_TRUE(recorder_.hasLog("等待0秒后重试"));
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerDone), 1);
}

TEST_F(ScriptedFault, RetryMessageShowsTheWaitInSeconds) {
  std::atomic<bool> retried{false};
  TaskParam param = recorder_.param("http://127.0.0.1:1/f.bin", out_.file("f"));
  Download download;
  EngineTuning tuning;  // the system's 5000 ms wait; the stop ends it early
  ASSERT_TRUE(download.start(param, tuning));
  for (int i = 0; i < 200 && !recorder_.hasLog("等待5秒后重试"); ++i) {
    recorder_.waitEnded(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(recorder_.hasLog("连接 [127.0.0.1:1]失败"));
  EXPECT_TRUE(recorder_.hasLog("等待5秒后重试"));
  download.stop();
  EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(3)));
  (void)retried;
}

// A server that answers range requests with the whole file: the task falls back to one
// connection, says so once, and the file comes out whole. Either the first connection reads
// on through its own answer (here: while it is still slow in coming), or, when segment
// answers come late and it has closed already, one of them is read from byte 0.
TEST_F(ScriptedFault, ServerThatIgnoresRangesFallsBackToOneConnection) {
  for (bool lateSegments : {false, true}) {
    for (bool withLength : {true, false}) {
      SCOPED_TRACE(std::string(withLength ? "full length" : "no length on segments") +
                   (lateSegments ? ", late segment answers" : ", slow first answer"));
      TransferRecorder recorder;
      ScriptedServer server([withLength, lateSegments](ScriptedConnection& c) {
        std::string request = c.readUntil("\r\n\r\n");
        bool segment = requestedRangeStart(request) >= 0;
        std::string length = withLength || !segment
                                 ? "Content-Length: " + std::to_string(kBody.size()) + "\r\n"
                                 : "";
        if (segment && lateSegments) c.stall(400);
        if (segment || lateSegments) {
          c.send(httpHeader(200, "OK", length) + kBody);
        } else {
          c.send(httpHeader(200, "OK", length));
          c.sendInPieces(kBody, 8192, 30);
        }
      });
      std::string path =
          out_.file(std::string(lateSegments ? "l" : "s") + (withLength ? "a" : "b"));
      ASSERT_TRUE(runTransfer(recorder, recorder.param(server.url("/f.bin"), path, 4)));
      EXPECT_TRUE(recorder.complete);
      EXPECT_TRUE(readWholeFile(path) == kBody);
      int said = 0;
      for (const LogRecord& line : recorder.logs()) {
        if (line.message == "服务器不支持断点续传, 改为单连接下载") ++said;
      }
      EXPECT_EQ(said, 1);
      EXPECT_EQ(recorder.count(TaskStatus::WorkerFailed), 0);
      // Which connection carried the file: the first one to its end, or one that started
      // over from byte 0.
      Worker* first = recorder.statuses().front().worker;
      bool firstReadAll = false;
      bool restarted = false;
      for (const StatusRecord& call : recorder.statuses()) {
        if (call.code == TaskStatus::WorkerDone && call.worker == first && call.a == 100003) {
          firstReadAll = true;
        }
        bool range = call.code == TaskStatus::FirstRange || call.code == TaskStatus::NextRange;
        if (range && call.a == 0 && call.b == 100003) restarted = true;
      }
      if (!lateSegments) {
        EXPECT_TRUE(firstReadAll);
      }
      EXPECT_EQ(restarted, lateSegments);
    }
  }
}

TEST_F(ScriptedFault, RedirectCarriesOnlyTheCookiePair) {
  RequestLog log;
  ScriptedServer target([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    log.add(request);
    answer(c, request, kBody);
  });
  std::string location = target.url("/new/f.bin");
  ScriptedServer origin([&](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(302, "Found",
                      "Location: " + location + "\r\nSet-Cookie: sid=42; Path=/; HttpOnly\r\n"));
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(origin.url("/old/f.bin"), out_.file("f"), 4)));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
  EXPECT_TRUE(recorder_.hasLog("重定向到 [" + location + "]"));
  std::vector<std::string> requests = log.all();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requestTarget(requests[0]), "/new/f.bin");
  EXPECT_NE(requests[0].find("Windows 98)\r\nCookie: sid=42\r\nPragma: no-cache\r\n"),
            std::string::npos);
  for (size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].find("Cookie"), std::string::npos);  // segments carry no cookie
    EXPECT_NE(requests[i].find("Range: bytes="), std::string::npos);
  }
}

TEST_F(ScriptedFault, RelativeRedirectStaysInTheDirectory) {
  RequestLog log;
  ScriptedServer server([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    log.add(request);
    if (requestTarget(request) == "/d/f.bin") {
      c.send(httpHeader(301, "Moved", "Location: g.bin\r\n"));
    } else {
      answer(c, request, kBody);
    }
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/d/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.complete);
  ASSERT_GE(log.all().size(), 2u);
  EXPECT_EQ(requestTarget(log.all()[1]), "/d/g.bin");
}

TEST_F(ScriptedFault, AbsoluteRedirectWithoutPortGoesToPort80) {
  std::unique_ptr<ScriptedServer> port80;
  RequestLog log;
  try {
    port80 = std::make_unique<ScriptedServer>(
        [&](ScriptedConnection& c) {
          std::string request = c.readUntil("\r\n\r\n");
          log.add(request);
          answer(c, request, kBody);
        },
        80);
  } catch (const std::exception&) {
    GTEST_SKIP() << "port 80 of 127.0.0.1 is not available";
  }
  ScriptedServer origin([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send(httpHeader(302, "Found", "Location: http://127.0.0.1/p80/f.bin\r\n"));
  });
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(origin.url("/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.complete);
  ASSERT_EQ(log.all().size(), 1u);
  EXPECT_EQ(requestTarget(log.all()[0]), "/p80/f.bin");
  EXPECT_NE(log.all()[0].find("Host: 127.0.0.1\r\n"), std::string::npos);
}

// Every redirect code is followed and every form of Location resolved as a browser does; a
// chain that comes back to a URL, one longer than 20 redirects and one to another protocol end
// with texts that say which.
TEST_F(ScriptedFault, RedirectsOfEveryKindAreFollowedAndBadChainsNamed) {
  RequestLog log;
  std::atomic<int> port{0};
  ScriptedServer server([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    log.add(request);
    std::string target = requestTarget(request);
    auto moved = [&](int code, const std::string& location) {
      c.send(httpHeader(code, "Moved", "Location: " + location + "\r\n"));
    };
    if (target == "/s/a/f.bin") {
      moved(301, "../b/./f.bin?x=1");
    } else if (target == "/s/b/f.bin?x=1") {
      moved(303, "//127.0.0.1:" + std::to_string(port.load()) + "/t/f.bin");
    } else if (target == "/t/f.bin") {
      moved(307, "/u/f.bin#part");
    } else if (target == "/u/f.bin") {
      moved(308, "v/f.bin");
    } else if (target.rfind("/loop/", 0) == 0) {
      moved(302, target == "/loop/1" ? "2" : "1");
    } else if (target.rfind("/n/", 0) == 0) {
      moved(302, "/n/" + std::to_string(std::stoi(target.substr(3)) + 1));
    } else if (target == "/ftp") {
      moved(302, "ftp://127.0.0.1/f.bin");
    } else {
      answer(c, request, kBody);
    }
  });
  port = server.port();
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/s/a/f.bin"), out_.file("f"))));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
  std::vector<std::string> targets;
  for (const std::string& request : log.all()) targets.push_back(requestTarget(request));
  EXPECT_EQ(targets, (std::vector<std::string>{"/s/a/f.bin", "/s/b/f.bin?x=1", "/t/f.bin",
                                               "/u/f.bin", "/u/v/f.bin"}));

  struct Case {
    std::string path;
    std::string says;
    int connections;
  };
  for (const Case& c : {Case{"/loop/1", "重定向循环: [" + server.url("/loop/1") + "]", 2},
                        Case{"/n/0", "重定向次数过多: 超过 20 次", 21},
                        Case{"/ftp", "COOKIE过长或获得重定向信息错误或不支持的协议", 1}}) {
    SCOPED_TRACE(c.path);
    TransferRecorder recorder;
    int before = server.connectionCount();
    ASSERT_TRUE(runTransfer(recorder, recorder.param(server.url(c.path), out_.file("g"))));
    EXPECT_FALSE(recorder.complete);
    EXPECT_TRUE(recorder.hasLog(c.says));
    EXPECT_EQ(server.connectionCount() - before, c.connections);
    EXPECT_EQ(recorder.count(TaskStatus::WorkerFailed), 1);
  }
}

// A cookie set by [::1] is not sent to [::ffff:127.0.0.1] (another host, though both
// addresses are written with colons), and one set there goes back to it.
TEST_F(ScriptedFault, CookiesStayWithTheIpv6HostThatSetThem) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "no ::1 here";
  RequestLog log;
  ScriptedServer mapped([&](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    log.add(request);
    if (requestTarget(request) == "/hop") {
      c.send(httpHeader(302, "Found", "Location: /f.bin\r\nSet-Cookie: mapped=2; Path=/\r\n"));
    } else {
      answer(c, request, kBody);
    }
  });
  TempDir site;
  NginxListen listen;
  listen.address = "::1";
  NginxServer v6(site.path(),
                 "    location = /start { add_header Set-Cookie \"v6=1; Path=/\" always; "
                 "return 302 http://[::ffff:127.0.0.1]:" +
                     std::to_string(mapped.port()) + "/hop; }\n",
                 listen);
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(v6.url("/start"), out_.file("f"), 2)));
  EXPECT_TRUE(recorder_.complete);
  std::vector<std::string> requests = log.all();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].find("Cookie"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find("\r\nCookie: mapped=2\r\n"), std::string::npos) << requests[1];
}

TEST_F(ScriptedFault, OverlongRequestIsRefusedNotCut) {
  ScriptedServer server([](ScriptedConnection& c) { c.readUntil("\r\n\r\n"); });
  std::string url = server.url("/" + std::string(1000, 'x'));
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(url, out_.file("f"))));
  EXPECT_TRUE(recorder_.hasLog("请求信息过长"));
  EXPECT_FALSE(recorder_.hasLog("重试"));
  EXPECT_LE(server.connectionCount(), 1);  // at most the one connection, never a retry
}

TEST_F(ScriptedFault, DispositionNamesTheFileInAFolderPath) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    answer(c, request, kBody, "Content-Disposition: attachment; filename=\"given name.bin\"\r\n");
  });
  ASSERT_TRUE(
      runTransfer(recorder_, recorder_.param(server.url("/dl?id=3"), out_.path() + "/", 4)));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("given name.bin")) == kBody);
}

TEST_F(ScriptedFault, NameClashesAreRenamedUpToTheLimit) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    answer(c, request, kBody.substr(0, 100));
  });
  out_.write("a.zip", "old");
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/a.zip"), out_.file("a.zip"))));
  EXPECT_EQ(readWholeFile(out_.file("a(1).zip")), kBody.substr(0, 100));
  EXPECT_EQ(readWholeFile(out_.file("a.zip")), "old");
  EXPECT_TRUE(recorder_.hasLog("发现同名文件, 系统自动更名为" + out_.file("a(1).zip")));

  for (int k = 2; k <= 99; ++k) out_.write("a(" + std::to_string(k) + ").zip", "old");
  TransferRecorder full;
  ASSERT_TRUE(runTransfer(full, full.param(server.url("/a.zip"), out_.file("a.zip"))));
  EXPECT_TRUE(full.hasLog("发现同名文件，超过系统自动更名次数"));
  EXPECT_FALSE(full.complete);
}

// The bytes go to PATH.part, renamed to PATH once all are written; a partial file left by
// an earlier attempt is replaced.
TEST_F(ScriptedFault, PartialFileBecomesTheTargetOnlyWhenComplete) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    answer(c, request, kBody);
  });
  out_.write("f.part", "stale bytes of an earlier attempt");
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/f"), out_.file("f"), 4)));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
  EXPECT_FALSE(fileExists(out_.file("f.part")));
}

TEST_F(ScriptedFault, GivingUpOnANameClashCreatesNoFile) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    answer(c, request, kBody);
  });
  out_.write("a.zip", "old");
  recorder_.onNameClash = [](TransferTask*) { return 1; };
  ASSERT_TRUE(runTransfer(recorder_, recorder_.param(server.url("/a.zip"), out_.file("a.zip"))));
  EXPECT_TRUE(recorder_.hasLog("发现同名文件, 用户选择放弃下载"));
  EXPECT_EQ(readWholeFile(out_.file("a.zip")), "old");
  EXPECT_FALSE(fileExists(out_.file("a(1).zip")));
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerFailed), 1);

  TransferRecorder renamed;
  std::string chosen = out_.file("mine.zip");
  renamed.onNameClash = [&](TransferTask* task) { return task->setLocalPath(chosen) ? 2 : 1; };
  ASSERT_TRUE(runTransfer(renamed, renamed.param(server.url("/a.zip"), out_.file("a.zip"))));
  EXPECT_TRUE(renamed.hasLog("发现同名文件, 用户更名为" + chosen));
  EXPECT_TRUE(readWholeFile(chosen) == kBody);
}

// A server that sends the start of every range, then stalls until the client goes.
class StallingServer {
 public:
  StallingServer()
      : server_([](ScriptedConnection& c) {
          std::string request = c.readUntil("\r\n\r\n");
          int64_t from = std::max<int64_t>(requestedRangeStart(request), 0);
          c.send(httpHeader(from == 0 ? 200 : 206, "OK",
                            from == 0 ? "Content-Length: 100003\r\n"
                                      : "Content-Range: bytes " + std::to_string(from) +
                                            "-100002/100003\r\n") +
                 kBody.substr(static_cast<size_t>(from), 8000));
          c.waitForPeerClose(20000);
        }) {}
  std::string url() const { return server_.url("/f.bin"); }

 private:
  ScriptedServer server_;
};

TEST_F(ScriptedFault, StopInTheMiddleReportsTheBytesWritten) {
  StallingServer server;
  std::mutex mutex;
  std::condition_variable started;
  int ranges = 0;
  bool mayEnd = false;  // the final call waits, so the task stays attached until then
  recorder_.onStatus = [&](TaskStatus code) {
    std::unique_lock lock(mutex);
    if (code == TaskStatus::FirstRange) ++ranges;
    started.notify_all();
    if (code == TaskStatus::TaskEnded) started.wait(lock, [&] { return mayEnd; });
  };
  auto letEnd = [&] {
    std::lock_guard lock(mutex);
    mayEnd = true;
    started.notify_all();
  };
  Download download;
  // Also when an assertion leaves early: the download's destructor waits for the end.
  std::shared_ptr<void> lettingEnd(nullptr, [&](void*) { letEnd(); });
  TaskParam param = recorder_.param(server.url(), out_.file("f"), 4);
  ASSERT_TRUE(download.start(param, quickTuning()));
  EXPECT_FALSE(download.start(param, quickTuning()));  // a task is running
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(started.wait_for(lock, std::chrono::seconds(10), [&] { return ranges == 4; }));
  }
  download.stop();
  EXPECT_FALSE(download.start(param, quickTuning()));  // still attached until released
  letEnd();
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  ASSERT_TRUE(recorder_.ended);
  EXPECT_FALSE(recorder_.complete);
  EXPECT_EQ(recorder_.finalCount, recorder_.written);
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerDone), 4);
  EXPECT_EQ(recorder_.codes().back(), TaskStatus::TaskEnded);
  // A stopped worker writes what it holds: every byte is right or still zero.
  EXPECT_GT(recorder_.written, 0);
  // Nothing incomplete is ever under the target's name: the bytes stay in the partial file.
  EXPECT_FALSE(fileExists(out_.file("f")));
  std::string file = readWholeFile(partialPathOf(out_.file("f")));
  ASSERT_EQ(file.size(), kBody.size());
  int64_t right = 0;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == kBody[i] && file[i] != 0) ++right;
    if (file[i] != kBody[i] && file[i] != 0) {
      ADD_FAILURE() << "corrupted at " << i;
      break;
    }
  }
  EXPECT_LE(right, recorder_.written);
}

// A worker that does not end within the exit wait is never killed: the task and its
// mapping stay alive until it has ended, and the end is still reported in order.
TEST_F(ScriptedFault, SlowWorkerOutlivesTheStopWait) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    answer(c, request, kBody);
  });
  out_.write("a.zip", "old");
  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false;
  bool release = false;
  recorder_.onNameClash = [&](TransferTask*) {
    std::unique_lock lock(mutex);
    asked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    return 0;
  };
  Download download;
  TaskParam param = recorder_.param(server.url("/a.zip"), out_.file("a.zip"), 4);
  param.exitWait = 50;
  ASSERT_TRUE(download.start(param, quickTuning()));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return asked; }));
  }
  download.stop();  // returns after 50 ms with the worker still in its callback
  EXPECT_FALSE(download.waitUntilIdle(std::chrono::milliseconds(100)));
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_EQ(recorder_.codes().back(), TaskStatus::TaskEnded);
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerDone) + recorder_.count(TaskStatus::WorkerFailed), 1);
  EXPECT_FALSE(fileExists(out_.file("a(1).zip")));  // stopped before the file was made
}

// Event 5 ends one worker on request; its unfinished segment is taken over by a worker
// that finishes its own, and the file still comes out whole.
TEST_F(ScriptedFault, WorkerStoppedOnRequestHandsOverItsSegment) {
  ScriptedServer server([](ScriptedConnection& c) {
    std::string request = c.readUntil("\r\n\r\n");
    int64_t from = std::max<int64_t>(requestedRangeStart(request), 0);
    std::string head =
        from == 0
            ? httpHeader(200, "OK", "Content-Length: 100003\r\n")
            : httpHeader(206, "Partial Content",
                         "Content-Range: bytes " + std::to_string(from) + "-100002/100003\r\n");
    c.send(head);
    c.sendInPieces(kBody.substr(static_cast<size_t>(from)), 4096, 5);
  });
  std::mutex mutex;
  std::vector<StatusRecord> calls;
  TaskParam param = recorder_.param(server.url("/f.bin"), out_.file("f"), 4);
  StatusCallback record = param.statusCallback;
  param.statusCallback = [&](TaskStatus code, Worker* worker, int32_t a, int32_t b,
                             TransferTask* task) -> int32_t {
    if (code == TaskStatus::FirstRange && a == 25000) {
      TaskEvent stopIt;
      stopIt.code = kEventStopWorker;
      stopIt.worker = worker;
      task->events.post(std::move(stopIt));
    }
    return record(code, worker, a, b, task);
  };
  ASSERT_TRUE(runTransfer(recorder_, param));
  EXPECT_TRUE(recorder_.complete);
  EXPECT_TRUE(readWholeFile(out_.file("f")) == kBody);
  Worker* victim = nullptr;
  bool takenOver = false;
  for (const StatusRecord& call : recorder_.statuses()) {
    if (call.code == TaskStatus::FirstRange && call.a == 25000) victim = call.worker;
    if (call.code == TaskStatus::NextRange && call.worker != victim && call.a >= 25000 &&
        call.a < 50000) {
      takenOver = true;
    }
  }
  EXPECT_TRUE(takenOver);
  EXPECT_EQ(recorder_.count(TaskStatus::WorkerDone), 4);
}

TEST_F(ScriptedFault, SnapshotRoundTrip) {
  StallingServer server;
  std::mutex mutex;
  std::condition_variable started;
  int ranges = 0;
  recorder_.onStatus = [&](TaskStatus code) {
    std::lock_guard lock(mutex);
    if (code == TaskStatus::FirstRange) ++ranges;
    started.notify_all();
  };
  Download download;
  std::vector<uint8_t> bytes{1, 2, 3};
  EXPECT_FALSE(download.snapshot(bytes));
  EXPECT_EQ(bytes.size(), 3u);
  ASSERT_TRUE(download.start(recorder_.param(server.url(), out_.file("f"), 4), quickTuning()));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(started.wait_for(lock, std::chrono::seconds(10), [&] { return ranges == 4; }));
  }
  ASSERT_TRUE(download.snapshot(bytes));
  EXPECT_LE(bytes.size(), 2048u);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::TotalSize, 0), 100003);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::BytesDone, 0), 0);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentCount, 0), 4);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentStart, 4), 75000);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentLength, 4), 25003);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentDone, 1), 0);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentStart, 0), -1);
  EXPECT_EQ(Download::querySnapshot(bytes, SnapshotQuery::SegmentStart, 5), -1);
  EXPECT_EQ(Download::querySnapshot(bytes, static_cast<SnapshotQuery>(7), 1), -1);
  // progress() reads the same sizes directly.
  DownloadProgress progress = download.progress();
  EXPECT_EQ(progress.total, 100003);
  EXPECT_GE(progress.received, Download::querySnapshot(bytes, SnapshotQuery::BytesDone, 0));
  EXPECT_LE(progress.received, 100003);
  EXPECT_GT(download.takeReceivedBytes(), 0);
  EXPECT_EQ(download.takeReceivedBytes(), 0);
  std::vector<uint8_t> damaged = bytes;
  damaged.back() ^= 0x5a;
  EXPECT_EQ(Download::querySnapshot(damaged, SnapshotQuery::TotalSize, 0), -1);
  download.stop();
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
  EXPECT_FALSE(download.snapshot(bytes));
  EXPECT_EQ(download.progress().total, 0);
}
