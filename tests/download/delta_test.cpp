// Delta downloads of zip archives made by Info-ZIP, served by a real nginx: the server's
// archive arrives byte for byte, the access log shows that only the changed entries' spans
// (and the directory) were asked for, and every odd case (a damaged local entry, local headers
// that differ, a server without ranges, a stop midway) still ends with the server's archive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <thread>

#include "archive_tools.h"
#include "download/control_file.h"
#include "download/download.h"
#include "nginx_server.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer_recorder.h"

namespace {

struct Range {
  int64_t from;
  int64_t to;  // one past the last byte
};

// One request of the access log.
struct Request {
  int status = 0;
  std::string range;  // "-" without one
  std::string ifRange;
  int64_t sent = 0;  // body bytes
};

// Each entry of an archive as Python's zipfile reads it: name, its span from the local header
// to the next one (or the directory) and what a delta compares.
struct Entry {
  std::string name;
  Range span;
  std::string fields;  // CRC, sizes, method, flags, time
};

struct Archive {
  std::vector<Entry> entries;
  int64_t directory = 0;
  int64_t size = 0;
};

Archive listArchive(const std::string& path) {
  EXPECT_TRUE(pythonCheck(path, R"(
z = zipfile.ZipFile(sys.argv[1])
infos = sorted(z.infolist(), key=lambda i: i.header_offset)
ends = [i.header_offset for i in infos[1:]] + [z.start_dir]
with open(sys.argv[1] + '.txt', 'w') as out:
    out.write('%d %d\n' % (z.start_dir, os.path.getsize(sys.argv[1])))
    for info, end in zip(infos, ends):
        out.write('%s %d %d %d/%d/%d/%d/%d/%s\n' % (info.filename, info.header_offset, end,
            info.CRC, info.compress_size, info.file_size, info.compress_type, info.flag_bits,
            info.date_time))
)"));
  Archive archive;
  std::istringstream lines(readWholeFile(path + ".txt"));
  ::unlink((path + ".txt").c_str());
  lines >> archive.directory >> archive.size;
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    Entry entry;
    fields >> entry.name >> entry.span.from >> entry.span.to;
    std::getline(fields, entry.fields);
    archive.entries.push_back(entry);
  }
  return archive;
}

// The spans of the new archive that the old one does not hold alike, and the directory.
std::vector<Range> changedSpans(const Archive& older, const Archive& newer) {
  std::vector<Range> changed;
  for (const Entry& entry : newer.entries) {
    bool same = false;
    for (const Entry& old : older.entries) {
      same |= old.name == entry.name && old.fields == entry.fields &&
              old.span.to - old.span.from == entry.span.to - entry.span.from;
    }
    if (!same) changed.push_back(entry.span);
  }
  changed.push_back({newer.directory, newer.size});
  return changed;
}

// [from, to] of "bytes=A-B"; a suffix "bytes=-N" of a file of `size` bytes.
std::optional<Range> askedRange(const std::string& header, int64_t size) {
  if (header.rfind("bytes=", 0) != 0) return std::nullopt;
  std::string value = header.substr(6);
  size_t dash = value.find('-');
  if (dash == std::string::npos) return std::nullopt;
  if (dash == 0) return Range{std::max<int64_t>(0, size - std::stoll(value.substr(1))), size};
  int64_t from = std::stoll(value.substr(0, dash));
  int64_t to = dash + 1 < value.size() ? std::stoll(value.substr(dash + 1)) + 1 : size;
  return Range{from, std::min(to, size)};
}

bool inside(const Range& range, const std::vector<Range>& spans) {
  for (const Range& span : spans) {
    if (range.from >= span.from && range.to <= span.to) return true;
  }
  // A range may run over several adjacent changed spans.
  int64_t reached = range.from;
  bool moved = true;
  while (reached < range.to && moved) {
    moved = false;
    for (const Range& span : spans) {
      if (span.from <= reached && span.to > reached) {
        reached = span.to;
        moved = true;
      }
    }
  }
  return reached >= range.to;
}

constexpr char kLogFormat[] =
    "log_format delta '$uri $status \"$http_range\" \"$http_if_range\" $body_bytes_sent';\n";

class Delta : public ::testing::Test {
 protected:
  // A tree of incompressible files (stored) and text files (deflated), packed at level 6 as
  // the old archive; then a few files changed, one added and one removed, packed the same way
  // as the new archive the server holds.
  void SetUp() override {
    for (int k = 0; k < 24; ++k) writeFile(k, 0);
    ASSERT_EQ(pack("-6", old_), 0);
    writeFile(3, 1);
    writeFile(11, 1);
    writeFile(18, 1);
    writeFile(30, 0);
    ::unlink(tree_.file("t/f07.txt").c_str());
    ASSERT_EQ(pack("-6", site_.file("pkg.zip")), 0);
    newBytes_ = readWholeFile(site_.file("pkg.zip"));
    target_ = out_.file("pkg.zip");
  }

  void writeFile(int k, unsigned version) {
    char name[32];
    std::snprintf(name, sizeof name, "t/f%02d.%s", k, k % 3 == 0 ? "bin" : "txt");
    std::string bytes;
    if (k % 3 == 0) {
      bytes = patternBytes(40000 + 1000 * k, 100 + k + 50 * version);
    } else {
      for (int line = 0; bytes.size() < 60000; ++line) {
        bytes += "line " + std::to_string(line * (k + 1) + version) + " of file " +
                 std::to_string(k) + "\n";
      }
    }
    tree_.write(name, bytes);
  }

  int pack(const std::string& level, const std::string& archive) {
    ::unlink(archive.c_str());
    return runTool({"zip", "-q", "-r", "-X", level, archive, "t"}, tree_.path());
  }

  void startServer(const std::string& extra = "") {
    NginxListen listen;
    listen.extraHttpConfig = kLogFormat;
    server_ = std::make_unique<NginxServer>(
        site_.path(), extra + "access_log " + logs_.file("access.log") + " delta;\n", listen);
    url_ = server_->url("/pkg.zip");
  }

  // Downloads the server's archive over the one at the target, as a package download does.
  TaskOutcome fetch(TransferRecorder& recorder, int connections = 2, bool delta = true) {
    TaskParam param = recorder.param(url_, target_, connections);
    param.expected.md5 = md5OfBytes(newBytes_);
    param.delta = delta;
    recorder.onNameClash = [](TransferTask*) { return 2; };
    Download download;
    EXPECT_TRUE(download.start(param, quickTuning()));
    EXPECT_TRUE(recorder.waitEnded());
    EXPECT_TRUE(download.waitUntilIdle(std::chrono::seconds(10)));
    return download.outcome();
  }

  // The requests for the archive logged since the last call.
  std::vector<Request> requests() {
    const std::string log = server_->settledLog(logs_.file("access.log"));
    std::vector<Request> found;
    std::istringstream lines(log.substr(std::min(seen_, log.size())));
    seen_ = log.size();
    std::string uri;
    Request request;
    while (lines >> uri >> request.status >> std::quoted(request.range) >>
           std::quoted(request.ifRange) >> request.sent) {
      if (uri == "/pkg.zip") found.push_back(request);
    }
    return found;
  }

  TempDir tree_;
  TempDir site_;
  TempDir out_;
  TempDir logs_;
  std::string old_ = out_.file("old.zip");
  std::string newBytes_;
  std::string target_;
  std::unique_ptr<NginxServer> server_;
  std::string url_;
  size_t seen_ = 0;
};

int64_t unionBytes(std::vector<Range> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.from < b.from; });
  int64_t sum = 0, reached = 0;
  for (const Range& range : ranges) {
    int64_t from = std::max(range.from, reached);
    if (range.to > from) sum += range.to - from;
    reached = std::max(reached, range.to);
  }
  return sum;
}

int64_t sentBytes(const std::vector<Request>& requests) {
  int64_t sum = 0;
  for (const Request& request : requests) sum += request.sent;
  return sum;
}

}  // namespace

TEST_F(Delta, FetchesOnlyTheChangedEntriesAndGivesTheServersArchive) {
  startServer();
  const Archive older = listArchive(old_);
  const Archive newer = listArchive(site_.file("pkg.zip"));
  const std::vector<Range> changed = changedSpans(older, newer);
  int64_t changedBytes = 0;
  for (const Range& span : changed) changedBytes += span.to - span.from;

  struct Case {
    const char* what;
    std::function<void()> prepare;
  };
  const Case cases[] = {
      {"the old archive as it is", [] {}},
      {"one unchanged entry damaged in the old archive",
       [&] {
         // A byte in the middle of an unchanged text file's deflated data.
         const Entry* victim = nullptr;
         for (const Entry& entry : older.entries) {
           if (entry.name == "t/f05.txt") victim = &entry;
         }
         ASSERT_NE(victim, nullptr);
         std::string bytes = readWholeFile(target_);
         bytes[static_cast<size_t>((victim->span.from + victim->span.to) / 2)] ^= 0x55;
         ASSERT_TRUE(writeWholeFile(target_, bytes));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(writeWholeFile(target_, readWholeFile(old_)));
    c.prepare();
    requests();
    TransferRecorder recorder;
    TaskOutcome outcome = fetch(recorder);
    EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
    EXPECT_TRUE(readWholeFile(target_) == newBytes_);
    EXPECT_FALSE(fileExists(partialPathOf(target_)));
    EXPECT_FALSE(fileExists(controlPathOf(target_)));
    EXPECT_FALSE(recorder.hasLog("重新下载本地复用的部分"));

    // Every range asked for lies in a changed entry, or the damaged one, or the end of the
    // archive asked for first (which holds the directory).
    std::vector<Range> allowed = changed;
    const int64_t tail = 65536 + 22;
    allowed.push_back({std::max<int64_t>(0, newer.size - tail), newer.size});
    bool damaged = recorder.hasLog("校验不符");
    EXPECT_EQ(damaged, std::string(c.what).find("damaged") != std::string::npos);
    if (damaged) {
      for (const Entry& entry : newer.entries) {
        if (entry.name == "t/f05.txt") allowed.push_back(entry.span);
      }
    }
    std::vector<Request> asked = requests();
    ASSERT_GE(asked.size(), 2u);
    for (const Request& request : asked) {
      SCOPED_TRACE(request.range);
      EXPECT_EQ(request.status, 206);
      std::optional<Range> range = askedRange(request.range, newer.size);
      ASSERT_TRUE(range.has_value());
      EXPECT_TRUE(inside(*range, allowed)) << "asked for bytes the old archive holds";
      EXPECT_EQ(request.sent, range->to - range->from);
    }
    EXPECT_LE(sentBytes(asked), unionBytes(allowed));
    EXPECT_EQ(outcome.fetchedBytes, sentBytes(asked));
    EXPECT_EQ(outcome.reusedBytes + outcome.fetchedBytes, newer.size);
    EXPECT_LT(changedBytes, newer.size / 3);
  }
}

TEST_F(Delta, LocalArchivesThatDifferEndWithTheServersArchive) {
  startServer();
  struct Case {
    const char* what;
    std::function<void()> makeLocal;
    bool refetches;  // the assembled archive fails its digest first
  };
  const Case cases[] = {
      // Same entries, but every local header holds another access time (zip without -X
      // stores it), which the directory does not show.
      {"local headers with other times",
       [this] {
         ASSERT_EQ(runTool({"zip", "-q", "-r", "-6", out_.file("local.zip"), "t"}, tree_.path()),
                   0);
         ASSERT_EQ(
             runTool({"find", "t", "-exec", "touch", "-a", "-d", "2020-01-01 00:00:00", "{}", "+"},
                     tree_.path()),
             0);
         ::unlink(site_.file("pkg.zip").c_str());
         ASSERT_EQ(runTool({"zip", "-q", "-r", "-6", site_.file("pkg.zip"), "t"}, tree_.path()), 0);
         newBytes_ = readWholeFile(site_.file("pkg.zip"));
         ASSERT_TRUE(writeWholeFile(target_, readWholeFile(out_.file("local.zip"))));
       },
       true},
      {"recompressed at another level",
       [this] {
         ASSERT_EQ(pack("-1", out_.file("fast.zip")), 0);
         ASSERT_TRUE(writeWholeFile(target_, readWholeFile(out_.file("fast.zip"))));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.makeLocal();
    TransferRecorder recorder;
    TaskOutcome outcome = fetch(recorder);
    EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
    EXPECT_TRUE(readWholeFile(target_) == newBytes_);
    EXPECT_EQ(recorder.hasLog("重新下载本地复用的部分"), c.refetches);
    EXPECT_LE(outcome.fetchedBytes + outcome.reusedBytes, static_cast<int64_t>(newBytes_.size()));
  }
}

TEST_F(Delta, AServerWithoutRangesGivesAnOrdinaryDownload) {
  startServer("max_ranges 0;\n");
  ASSERT_TRUE(writeWholeFile(target_, readWholeFile(old_)));
  TransferRecorder recorder;
  TaskOutcome outcome = fetch(recorder, 1);
  EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
  EXPECT_TRUE(readWholeFile(target_) == newBytes_);
  EXPECT_TRUE(recorder.hasLog("服务器不支持按范围下载"));
  EXPECT_EQ(outcome.reusedBytes, 0);
  // The answer to the request for the end carried the whole archive, and nothing else was asked.
  std::vector<Request> asked = requests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].status, 200);
  EXPECT_EQ(asked[0].sent, static_cast<int64_t>(newBytes_.size()));
}

TEST_F(Delta, AStoppedDeltaContinuesWithTheMissingRangesOnly) {
  // Paced so that the stop lands while changed entries are still being fetched.
  startServer("sendfile off;\noutput_buffers 1 8k;\nlimit_rate 64k;\n");
  ASSERT_TRUE(writeWholeFile(target_, readWholeFile(old_)));
  {
    TransferRecorder recorder;
    TaskParam param = recorder.param(url_, target_, 1);
    param.expected.md5 = md5OfBytes(newBytes_);
    param.delta = true;
    recorder.onNameClash = [](TransferTask*) { return 2; };
    Download download;
    ASSERT_TRUE(download.start(param, quickTuning()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (download.progress().fetched < 120000 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(download.progress().reused, 0);
    download.stop();
    ASSERT_TRUE(recorder.waitEnded());
    ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(5)));
    ASSERT_FALSE(recorder.complete);
  }
  EXPECT_TRUE(fileExists(controlPathOf(target_)));
  EXPECT_TRUE(readWholeFile(target_) == readWholeFile(old_));
  requests();

  TransferRecorder recorder;
  TaskOutcome outcome = fetch(recorder, 2);
  EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
  EXPECT_TRUE(readWholeFile(target_) == newBytes_);
  EXPECT_TRUE(recorder.hasLog("从控制文件续传"));
  const Archive older = listArchive(old_);
  const Archive newer = listArchive(site_.file("pkg.zip"));
  std::vector<Range> changed = changedSpans(older, newer);
  for (const Request& request : requests()) {
    SCOPED_TRACE(request.range);
    EXPECT_EQ(request.status, 206);
    EXPECT_NE(request.ifRange, "-");
    std::optional<Range> range = askedRange(request.range, newer.size);
    ASSERT_TRUE(range.has_value());
    EXPECT_TRUE(inside(*range, changed));
  }
}

TEST_F(Delta, ADirectoryLargerThanTheEndIsFetchedBeforeThePlan) {
  // 1500 more entries with long names: the directory begins before the last 64 KiB.
  for (int k = 0; k < 1500; ++k) {
    char name[96];
    std::snprintf(name, sizeof name, "t/many/a-long-name-for-an-entry-of-the-archive-%05d.txt", k);
    tree_.write(name, patternBytes(300, k));
  }
  ASSERT_EQ(pack("-6", old_), 0);
  writeFile(3, 2);
  tree_.write("t/many/a-long-name-for-an-entry-of-the-archive-00700.txt", "changed");
  ASSERT_EQ(pack("-6", site_.file("pkg.zip")), 0);
  newBytes_ = readWholeFile(site_.file("pkg.zip"));
  const Archive newer = listArchive(site_.file("pkg.zip"));
  ASSERT_LT(newer.directory, newer.size - 65558);
  startServer();
  ASSERT_TRUE(writeWholeFile(target_, readWholeFile(old_)));

  TransferRecorder recorder;
  TaskOutcome outcome = fetch(recorder);
  EXPECT_EQ(outcome.ending, TaskEnding::Complete) << outcome.message;
  EXPECT_TRUE(readWholeFile(target_) == newBytes_);
  EXPECT_GT(outcome.reusedBytes, newer.size / 2);
  // The end, then the rest of the directory, then the changed entries.
  std::vector<Request> asked = requests();
  ASSERT_GE(asked.size(), 3u);
  EXPECT_EQ(asked[0].range, "bytes=-65558");
  EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(newer.directory) + "-" +
                                std::to_string(newer.size - 65558 - 1));
}

TEST(DeltaControlFile, MoreRangesThanRoomAreSavedWithFewerBytesDoneNeverMore) {
  // 300 segments over 300000 bytes: each 1000 bytes, the first k % 7 * 100 done.
  std::vector<Segment> table;
  for (int k = 0; k < 300; ++k) {
    Segment segment;
    segment.start = k * 1000;
    segment.length = 1000;
    segment.done = k % 7 * 100;
    table.push_back(segment);
  }
  std::vector<Segment> coarse = coarsenedSegments(mergedSegments(table), 50);
  ASSERT_LE(coarse.size(), 50u);
  int64_t reached = 0;
  for (const Segment& segment : coarse) {
    EXPECT_EQ(segment.start, reached);
    reached = segment.end();
    // Every byte the coarse table counts done was done in the table it came from.
    for (int64_t at = segment.start; at < segment.position(); at += 50) {
      const Segment& was = table[static_cast<size_t>(at / 1000)];
      EXPECT_LT(at, was.position()) << at;
    }
  }
  EXPECT_EQ(reached, 300000);
}
