// Stopping and continuing downloads against a real nginx on loopback: nothing under the
// target's name before completion, only the missing ranges asked for on resume, and a fresh
// start whenever the control file or the server's file does not match.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <iomanip>
#include <sstream>
#include <thread>

#include "archive_tools.h"
#include "download/control_file.h"
#include "download/download.h"
#include "nginx_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer_recorder.h"

namespace {

constexpr size_t kSize = 4 << 20;
// Without sendfile, nginx paces every 32 KiB write: a stop lands midway, not after a burst
// the size of the socket buffers.
constexpr char kPaced[] = "sendfile off;\noutput_buffers 1 32k;\nlimit_rate 512k;\n";

struct Range {
  int64_t from;
  int64_t to;  // one past the last byte
};

// One request of the access log: its status, Range and If-Range ("-" when not sent).
struct Request {
  int status = 0;
  std::string range;
  std::string ifRange;
};

class Resume : public ::testing::Test {
 protected:
  Resume() {
    root_.write("f.bin", patternBytes(kSize, 7));
    server_ =
        std::make_unique<NginxServer>(root_.path(), std::string(kPaced) + "access_log " +
                                                        logs_.file("access.log") + " ranges;\n");
    url_ = server_->url("/f.bin");
    target_ = out_.file("f.bin");
  }

  // Starts a download and stops it once `atLeast` bytes are written; nothing may appear under
  // the target's name meanwhile.
  void stopMidway(int connections, int64_t atLeast = 1 << 20) {
    Download download;
    TransferRecorder recorder;
    ASSERT_TRUE(download.start(recorder.param(url_, target_, connections), quickTuning()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (download.progress().received < atLeast && std::chrono::steady_clock::now() < deadline) {
      EXPECT_FALSE(fileExists(target_));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    download.stop();
    ASSERT_TRUE(recorder.waitEnded());
    ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(5)));
    ASSERT_FALSE(recorder.complete);
    EXPECT_FALSE(fileExists(target_));
    EXPECT_TRUE(fileExists(partialPathOf(target_)));
  }

  // Runs a download to its end; the recorder keeps its log.
  void runToEnd(TransferRecorder& recorder, int connections, bool completes = true) {
    Download download;
    ASSERT_TRUE(download.start(recorder.param(url_, target_, connections), quickTuning()));
    ASSERT_TRUE(recorder.waitEnded());
    ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(5)));
    EXPECT_EQ(recorder.complete, completes);
  }

  // The ranges the control file counts as missing.
  std::vector<Range> missingRanges() {
    std::string bytes = readWholeFile(controlPathOf(target_));
    ControlFileCheck check =
        checkControlFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), url_);
    EXPECT_TRUE(check.content.has_value()) << check.problem;
    std::vector<Range> missing;
    if (!check.content) return missing;
    for (const Segment& segment : check.content->segments) {
      if (!segment.finished()) missing.push_back({segment.position(), segment.end()});
    }
    return missing;
  }

  // The requests that began since forgetRequests(). nginx logs a request when it ends, and a
  // paced connection that the client closed ends late: the start time tells them apart (to
  // the millisecond nginx gives).
  std::vector<Request> requests() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<Request> found;
    std::istringstream lines(readWholeFile(logs_.file("access.log")));
    std::string method, uri, range, ifRange;
    double ended = 0, took = 0;
    int status = 0;
    while (lines >> ended >> took >> method >> uri >> status >> std::quoted(range) >>
           std::quoted(ifRange)) {
      if (ended - took >= since_ - 0.05) found.push_back({status, range, ifRange});
    }
    return found;
  }

  void forgetRequests() {
    since_ =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  }

  // Rewrites the served file, its modification time moved on so that its ETag changes.
  void replaceServedFile(const std::string& bytes) {
    root_.write("f.bin", bytes);
    struct utimbuf later {
      0, ::time(nullptr) + 100
    };
    ::utime(root_.file("f.bin").c_str(), &later);
  }

  TempDir root_;
  TempDir logs_;
  TempDir out_;
  std::unique_ptr<NginxServer> server_;
  std::string url_;
  std::string target_;
  double since_ = 0;
};

}  // namespace

TEST_F(Resume, AStoppedDownloadContinuesWithOnlyTheMissingRangesOverMoreConnections) {
  stopMidway(2);
  std::vector<Range> missing = missingRanges();
  ASSERT_FALSE(missing.empty());
  int64_t left = 0;
  for (const Range& range : missing) left += range.to - range.from;
  EXPECT_LT(left, static_cast<int64_t>(kSize));
  forgetRequests();

  TransferRecorder recorder;
  runToEnd(recorder, 4);
  EXPECT_TRUE(readWholeFile(target_) == patternBytes(kSize, 7));
  EXPECT_FALSE(fileExists(partialPathOf(target_)));
  EXPECT_FALSE(fileExists(controlPathOf(target_)));
  EXPECT_TRUE(recorder.hasLog("从控制文件续传")) << "no resume line";

  // Every request of the second run asked for a range starting inside a missing range, named
  // the file's ETag, and was answered 206; four connections split the two missing ranges.
  std::vector<Request> asked = requests();
  EXPECT_GE(asked.size(), 3u);
  for (const Request& request : asked) {
    SCOPED_TRACE(request.range);
    EXPECT_EQ(request.status, 206);
    EXPECT_NE(request.ifRange, "-");
    ASSERT_EQ(request.range.rfind("bytes=", 0), 0u);
    int64_t from = std::stoll(request.range.substr(6));
    bool inside = false;
    for (const Range& range : missing) inside |= from >= range.from && from < range.to;
    EXPECT_TRUE(inside) << "asked for bytes already there";
  }
}

TEST_F(Resume, AChangedServerFileStartsOverAndGivesTheNewFile) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"another size", patternBytes(kSize + 5000, 9)},
      {"same size, another ETag", patternBytes(kSize, 11)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    root_.write("f.bin", patternBytes(kSize, 7));
    stopMidway(2);
    replaceServedFile(c.bytes);
    TransferRecorder recorder;
    runToEnd(recorder, 2);
    EXPECT_TRUE(readWholeFile(target_) == c.bytes);
    EXPECT_TRUE(recorder.hasLog("服务器上的文件已改变"));
    EXPECT_FALSE(fileExists(controlPathOf(target_)));
    ::unlink(target_.c_str());
  }
}

TEST_F(Resume, ADamagedOrForeignControlFileStartsOver) {
  struct Case {
    const char* what;
    std::function<void()> spoil;
    const char* says;
  };
  const Case cases[] = {
      {"one byte flipped",
       [this] {
         std::string bytes = readWholeFile(controlPathOf(target_));
         bytes[20] ^= 0x40;
         writeWholeFile(controlPathOf(target_), bytes);
       },
       "控制文件已损坏"},
      {"cut short",
       [this] {
         std::string bytes = readWholeFile(controlPathOf(target_));
         writeWholeFile(controlPathOf(target_), bytes.substr(0, bytes.size() / 2));
       },
       "控制文件已损坏"},
      {"another URL", [this] { url_ = server_->url("/f.bin?other"); }, "另一个下载地址"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    url_ = server_->url("/f.bin");
    stopMidway(2);
    c.spoil();
    forgetRequests();
    TransferRecorder recorder;
    runToEnd(recorder, 2);
    EXPECT_TRUE(readWholeFile(target_) == patternBytes(kSize, 7));
    EXPECT_TRUE(recorder.hasLog(c.says));
    // The download began anew: one request for the whole file.
    int whole = 0;
    for (const Request& request : requests()) whole += request.range == "-" ? 1 : 0;
    EXPECT_EQ(whole, 1);
    ::unlink(target_.c_str());
  }
}

TEST_F(Resume, AControlFileThatCannotBeWrittenCostsOnlyTheResume) {
  // A folder where the control file would go: every save fails.
  ASSERT_EQ(::mkdir(controlPathOf(target_).c_str(), 0755), 0);
  TransferRecorder recorder;
  runToEnd(recorder, 2);
  EXPECT_TRUE(readWholeFile(target_) == patternBytes(kSize, 7));
  EXPECT_TRUE(recorder.hasLog("无法写入控制文件"));
  EXPECT_EQ(listDirectory(out_.path()),
            (std::vector<std::string>{"f.bin", "f.bin.part.state"}));  // no temporary left
}

// Nothing is written through a link that stands where the engine's files go: a partial file
// that is a symbolic link is refused (the link and its target stay as they are), one with
// another name is not resumed into, and a leftover link under the control file's temporary
// name is never opened.
TEST_F(Resume, FilesAreNeverWrittenThroughLinks) {
  std::string victim = out_.write("victim", patternBytes(kSize, 3));
  std::string partial = partialPathOf(target_);
  ASSERT_EQ(::symlink(victim.c_str(), (controlPathOf(target_) + ".tmp").c_str()), 0);
  stopMidway(2);  // the stop saves the control file
  EXPECT_FALSE(missingRanges().empty());

  SCOPED_TRACE("a partial file with another name");
  ASSERT_EQ(::link(partial.c_str(), out_.file("other").c_str()), 0);
  std::string held = readWholeFile(partial);
  TransferRecorder linked;
  runToEnd(linked, 2, false);
  EXPECT_TRUE(linked.hasLog("另有硬链接, 拒绝写入"));
  EXPECT_TRUE(readWholeFile(out_.file("other")) == held);
  ::unlink(out_.file("other").c_str());

  SCOPED_TRACE("a partial file that is a symbolic link");
  ASSERT_EQ(::unlink(partial.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), partial.c_str()), 0);
  TransferRecorder refused;
  runToEnd(refused, 2, false);
  EXPECT_TRUE(refused.hasLog("是符号链接或不是普通文件, 拒绝写入"));
  EXPECT_FALSE(fileExists(target_));
  struct stat link {};
  ASSERT_EQ(::lstat(partial.c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_TRUE(readWholeFile(victim) == patternBytes(kSize, 3));
}

TEST(ControlFile, ManySegmentsAreMergedToFitAndRoundTrip) {
  // 200 segments of 1000 bytes, every tenth one unfinished: far past 2048 bytes as it is.
  std::vector<Segment> table;
  for (int i = 0; i < 200; ++i) {
    Segment segment;
    segment.start = static_cast<int64_t>(i) * 1000;
    segment.length = 1000;
    segment.done = i % 10 == 9 ? 300 : 1000;
    table.push_back(segment);
  }
  std::swap(table[3], table[150]);  // the table is not in file order
  SnapshotContent content;
  content.totalSize = 200000;
  content.segments = table;
  content.protocol.texts[kUrlSlot] = "http://h/f";
  EXPECT_FALSE(encodeSnapshot(content).has_value());

  content.segments = mergedSegments(table);
  content.capacity = 0;
  EXPECT_EQ(content.segments.size(), 20u);
  int64_t done = 0;
  for (const Segment& segment : content.segments) done += segment.done;
  EXPECT_EQ(done, 180 * 1000 + 20 * 300);
  // Each merged segment's done bytes still begin at its start: nine finished ones, then the
  // written head of the tenth.
  EXPECT_EQ(content.segments[1].start, 10000);
  EXPECT_EQ(content.segments[1].length, 10000);
  EXPECT_EQ(content.segments[1].done, 9300);

  std::optional<std::vector<uint8_t>> bytes = encodeSnapshot(content);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_LE(bytes->size(), kSnapshotLimit);
  ControlFileCheck check = checkControlFile(bytes->data(), bytes->size(), "http://h/f");
  ASSERT_TRUE(check.content.has_value()) << check.problem;
  EXPECT_EQ(check.content->segments.size(), 20u);
}

TEST(ControlFile, SegmentsThatDoNotTileTheFileAreRefusedDespiteAGoodCrc) {
  auto encoded = [](std::vector<Segment> segments, int64_t total) {
    SnapshotContent content;
    content.totalSize = total;
    content.segments = std::move(segments);
    content.protocol.texts[kUrlSlot] = "http://h/f";
    return *encodeSnapshot(content);
  };
  auto segment = [](int64_t start, int64_t length, int64_t done) {
    Segment s;
    s.start = start;
    s.length = length;
    s.done = done;
    return s;
  };
  const std::vector<std::vector<Segment>> wrong = {
      {segment(0, 500, 0), segment(600, 400, 0)},    // a gap
      {segment(0, 600, 0), segment(500, 500, 0)},    // an overlap
      {segment(0, 500, 600), segment(500, 500, 0)},  // more done than its length
      {segment(0, 500, 0), segment(500, 400, 0)},    // short of the total
      {segment(0, 500, -1), segment(500, 500, 0)},   // negative done
  };
  for (const auto& segments : wrong) {
    std::vector<uint8_t> bytes = encoded(segments, 1000);
    EXPECT_FALSE(checkControlFile(bytes.data(), bytes.size(), "http://h/f").content);
  }
  std::vector<uint8_t> good = encoded({segment(500, 500, 10), segment(0, 500, 500)}, 1000);
  EXPECT_TRUE(checkControlFile(good.data(), good.size(), "http://h/f").content);
  EXPECT_FALSE(checkControlFile(good.data(), good.size(), "http://h/g").content);
}
