#include <gtest/gtest.h>

#include "download/speed_text.h"
#include "download_jobs/package_download.h"
#include "platform/files.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "temp_dir.h"

TEST(SpeedText, UnitThresholdsWithTheTolerance) {
  EXPECT_EQ(speedText(0), "0.00KB/S");
  EXPECT_EQ(speedText(512), "0.50KB/S");
  EXPECT_EQ(speedText(1023), "1.00KB/S");
  EXPECT_EQ(speedText(1024), "1.00KB/S");
  EXPECT_EQ(speedText(1048575), "1024.00KB/S");
  EXPECT_EQ(speedText(1048576), "1.00MB/S");
  EXPECT_EQ(speedText(1572864), "1.50MB/S");
  EXPECT_EQ(speedText(1073741716), "1024.00MB/S");
  EXPECT_EQ(speedText(1073741717), "1.00GB/S");
}

namespace {

class DownloadJob : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    globals->programDir = program.path() + "/";
  }
  void TearDown() override { freeGlobals(globals); }

  TempDir program;
  RecordingWindow window;
  std::unique_ptr<Globals> globals;
};

}  // namespace

TEST_F(DownloadJob, EmptyUrlShowsItsMessageAndKeepsTheOldArchive) {
  program.write("反挂.zip", "old");
  startPackageDownload(*globals, packageInfo(PackageId::AntiCheat));
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, "反挂下载地址为空");
  EXPECT_EQ(window.boxes[0].owner, BoxOwner::MainWindow);
  EXPECT_EQ(globals->downloadBusy, 0);
  EXPECT_EQ(readWholeFile(program.file("反挂.zip")), "old");
  EXPECT_FALSE(window.visible[control::进度条1]);
}

TEST_F(DownloadJob, ClickWhileBusyChangesNothing) {
  globals->downloadBusy = 1;
  startPackageDownload(*globals, packageInfo(PackageId::Server));
  EXPECT_TRUE(window.calls.empty());
  EXPECT_EQ(globals->downloadBusy, 1);
  globals->downloadBusy = 0;
}

TEST_F(DownloadJob, RefusedStartReturnsToIdleWithAMessage) {
  program.write("三端.zip", "old");
  globals->package(PackageId::Server).manifest.url =
      "gopher://127.0.0.1/a.zip";  // a scheme the engine refuses
  startPackageDownload(*globals, packageInfo(PackageId::Server));
  EXPECT_EQ(window.texts[control::标签_提示内容], "正在下载三端文件:");
  EXPECT_TRUE(window.visible[control::进度条1]);
  EXPECT_EQ(readWholeFile(program.file("三端.zip")), "old");  // kept until a new one is complete
  ASSERT_TRUE(
      window.runPostedUntil([&] { return !window.boxes.empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(window.boxes[0].text, kDownloadCannotStart);
  EXPECT_EQ(globals->downloadBusy, 0);
  EXPECT_FALSE(window.visible[control::进度条1]);
  EXPECT_FALSE(window.visible[control::标签_提示内容]);
  EXPECT_EQ(window.texts[control::透明标签1], "三端: 不支持的下载地址");
  EXPECT_EQ(window.texts[control::按钮_下载三端], "下载");
  EXPECT_EQ(readWholeFile(program.file("三端.zip")), "old");
}
