// Whole transfers from a real nginx on loopback: byte-identical files for every size and
// connection count, the event order, the speed limit.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>

#include "nginx_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transfer/transfer_task.h"
#include "transfer_recorder.h"

namespace {

class NginxTransfer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir();
    for (int64_t size : {0, 1, 4095, 10000, 20480, 100003, 64 << 20}) {
      root_->write("f" + std::to_string(size) + ".bin", patternBytes(size, size));
    }
    root_->write("eight.bin", patternBytes(8 << 20, 8));
    server_ = new NginxServer(root_->path());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete root_;
  }
  static TempDir* root_;
  static NginxServer* server_;
  TempDir out_;
};

TempDir* NginxTransfer::root_ = nullptr;
NginxServer* NginxTransfer::server_ = nullptr;

// Checks the order of the status calls: per worker 5 first, then 6; 3 before the first
// 16; exactly one 8 or 9 per worker, as its last call; 4 last and once.
void expectEventOrder(const std::vector<StatusRecord>& calls) {
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().code, TaskStatus::TaskEnded);
  int ends = 0;
  bool sizeSeen = false;
  std::map<Worker*, std::vector<TaskStatus>> perWorker;
  for (const StatusRecord& call : calls) {
    if (call.code == TaskStatus::TaskEnded) ++ends;
    if (call.code == TaskStatus::SizeKnown) sizeSeen = true;
    if (call.code == TaskStatus::Data) {
      EXPECT_TRUE(sizeSeen) << "16 before 3";
    }
    if (call.worker != nullptr) perWorker[call.worker].push_back(call.code);
  }
  EXPECT_EQ(ends, 1);
  for (const auto& [worker, codes] : perWorker) {
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.front(), TaskStatus::WorkerStarted);
    TaskStatus last = codes.back();
    EXPECT_TRUE(last == TaskStatus::WorkerDone || last == TaskStatus::WorkerFailed);
    int endings = 0;
    bool ranged = false;
    for (TaskStatus code : codes) {
      if (code == TaskStatus::WorkerDone || code == TaskStatus::WorkerFailed) ++endings;
      if (code == TaskStatus::FirstRange) ranged = true;
      if (code == TaskStatus::Data || code == TaskStatus::NextRange) {
        EXPECT_TRUE(ranged) << "data before 6";
      }
    }
    EXPECT_EQ(endings, 1);
  }
}

}  // namespace

TEST_F(NginxTransfer, EverySizeAndConnectionCountIsByteIdentical) {
  for (int64_t size : {0, 1, 4095, 10000, 20480, 100003, 64 << 20}) {
    std::string name = "f" + std::to_string(size) + ".bin";
    std::string expected = readWholeFile(root_->file(name));
    for (int connections : {1, 4, 8}) {
      SCOPED_TRACE(name + " over " + std::to_string(connections));
      TransferRecorder recorder;
      std::string path = out_.file(std::to_string(connections) + "-" + name);
      ASSERT_TRUE(
          runTransfer(recorder, recorder.param(server_->url("/" + name), path, connections)));
      EXPECT_TRUE(recorder.complete);
      EXPECT_EQ(recorder.written, size);
      EXPECT_EQ(recorder.finalCount, size);
      EXPECT_TRUE(readWholeFile(path) == expected);
      expectEventOrder(recorder.statuses());
      int workers = recorder.count(TaskStatus::WorkerStarted);
      if (size < 20480) {
        EXPECT_EQ(workers, 1);
      }
      if (size >= (1 << 20)) {
        EXPECT_EQ(workers, connections);
      }
      int64_t reported = 0;
      for (const StatusRecord& call : recorder.statuses()) {
        if (call.code == TaskStatus::Data) reported += call.a;
      }
      EXPECT_GE(reported, size);
    }
  }
}

TEST_F(NginxTransfer, SegmentsFollowTheLayout) {
  TransferRecorder recorder;
  ASSERT_TRUE(
      runTransfer(recorder, recorder.param(server_->url("/f100003.bin"), out_.file("f.bin"), 4)));
  std::set<std::pair<int32_t, int32_t>> ranges;
  for (const StatusRecord& call : recorder.statuses()) {
    if (call.code == TaskStatus::FirstRange || call.code == TaskStatus::NextRange) {
      ranges.insert({call.a, call.b});
    }
  }
  // Workers may take over each other's segments, but every first range starts on the grid.
  for (const auto& [from, to] : ranges) {
    EXPECT_TRUE(from % 25000 == 0 || to - from <= 25003) << from << "-" << to;
  }
  EXPECT_TRUE(ranges.count({75000, 100003}) == 1);
}

TEST_F(NginxTransfer, SpeedLimitSlowsTheTransfer) {
  TransferRecorder recorder;
  TaskParam param = recorder.param(server_->url("/eight.bin"), out_.file("eight.bin"), 2);
  param.speedLimit = 1 << 20;
  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(runTransfer(recorder, param));
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_TRUE(recorder.complete);
  EXPECT_GE(seconds, 7.0);
  EXPECT_EQ(readWholeFile(out_.file("eight.bin")), readWholeFile(root_->file("eight.bin")));
}

TEST_F(NginxTransfer, MissingFileIsNotRetried) {
  TransferRecorder recorder;
  ASSERT_TRUE(runTransfer(recorder, recorder.param(server_->url("/none.bin"), out_.file("n"), 4)));
  EXPECT_FALSE(recorder.complete);
  EXPECT_TRUE(recorder.hasLog("出现错误"));
  EXPECT_FALSE(recorder.hasLog("重试"));
  EXPECT_EQ(recorder.count(TaskStatus::WorkerFailed), 1);
  EXPECT_FALSE(fileExists(out_.file("n")));
}

TEST_F(NginxTransfer, PathEndingInSlashTakesTheUrlName) {
  TransferRecorder recorder;
  ASSERT_TRUE(
      runTransfer(recorder, recorder.param(server_->url("/f10000.bin"), out_.path() + "/")));
  EXPECT_TRUE(recorder.complete);
  EXPECT_EQ(readWholeFile(out_.file("f10000.bin")), readWholeFile(root_->file("f10000.bin")));
}
