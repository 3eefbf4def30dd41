// A stopped FTP download continues against a real pyftpdlib: each connection restarts the
// file ("REST") where its missing range begins, and the result is byte-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "download/control_file.h"
#include "download/download.h"
#include "ftp_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transfer/output_file.h"
#include "transfer_recorder.h"

TEST(FtpResume, AStoppedDownloadRestartsEachMissingRangeWhereItBegins) {
  TempDir root;
  TempDir out;
  const std::string body = patternBytes(2 << 20, 13);
  root.write("f.bin", body);
  FtpServer server(root.path());
  const std::string url = server.url("/f.bin");
  const std::string target = out.file("f.bin");
  {
    Download download;
    TransferRecorder recorder;
    TaskParam param = recorder.param(url, target, 2);
    param.speedLimit = 1 << 20;  // the stop lands midway
    ASSERT_TRUE(download.start(param, quickTuning()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (download.progress().received < (512 << 10) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    download.stop();
    ASSERT_TRUE(recorder.waitEnded());
    ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(5)));
  }
  EXPECT_FALSE(fileExists(target));
  std::string state = readWholeFile(controlPathOf(target));
  ControlFileCheck check =
      checkControlFile(reinterpret_cast<const uint8_t*>(state.data()), state.size(), url);
  ASSERT_TRUE(check.content.has_value()) << check.problem;
  std::vector<int64_t> missingStarts;
  for (const Segment& segment : check.content->segments) {
    if (!segment.finished()) missingStarts.push_back(segment.position());
  }
  ASSERT_FALSE(missingStarts.empty());
  size_t before = server.commands().size();

  Download download;
  TransferRecorder recorder;
  ASSERT_TRUE(download.start(recorder.param(url, target, 2), quickTuning()));
  ASSERT_TRUE(recorder.waitEnded());
  ASSERT_TRUE(download.waitUntilIdle(std::chrono::seconds(5)));
  EXPECT_TRUE(recorder.complete);
  EXPECT_TRUE(readWholeFile(target) == body);
  EXPECT_FALSE(fileExists(controlPathOf(target)));

  // Every missing range was restarted at its position, and every transfer began at one
  // ("REST 100" probes the server, "REST 0" cancels the probe).
  std::vector<std::string> commands = server.commands();
  std::vector<std::string> rests;
  int retrieves = 0;
  for (size_t i = before; i < commands.size(); ++i) {
    if (commands[i].rfind("RETR ", 0) == 0) ++retrieves;
    if (commands[i].rfind("REST ", 0) == 0 && commands[i] != "REST 100" &&
        commands[i] != "REST 0") {
      rests.push_back(commands[i]);
    }
  }
  EXPECT_EQ(static_cast<int>(rests.size()), retrieves);
  for (int64_t start : missingStarts) {
    EXPECT_NE(std::find(rests.begin(), rests.end(), "REST " + std::to_string(start)), rests.end())
        << start;
  }
}
