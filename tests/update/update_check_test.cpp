#include "update/update_check.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "nginx_server.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "recording_window.h"
#include "scripted_server.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "temp_dir.h"

namespace {

std::string manifest(const std::string& serverMd5, const std::string& pluginMd5,
                     const std::string& antiMd5, const std::string& toolsMd5) {
  return "[三端]\r\nURL=http://h/a.zip\r\nMD5=" + serverMd5 +
         "\r\n[功能]\r\nURL=http://h/b.zip\r\nMD5=" + pluginMd5 +
         "\r\n[反挂]\r\nURL=http://h/c.zip\r\nMD5=" + antiMd5 +
         "\r\n[其他]\r\nURL=http://h/d.zip\r\nMD5=" + toolsMd5 + "\r\n";
}

const std::string kMd5A = md5OfBytes("server archive");
const std::string kMd5B = md5OfBytes("plugin archive");
const std::string kMd5C = md5OfBytes("anti archive");
const std::string kMd5D = md5OfBytes("tools archive");

class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    globals->programDir = program.path() + "/";
    globals->manifestUrl = server.url("/xiazaiqi/xiazai.txt");
  }
  void TearDown() override { freeGlobals(globals); }

  void publish(const std::string& body) { site.write("xiazaiqi/xiazai.txt", body); }
  Rgb color(const char* label) { return window.colors[label]; }

  TempDir program;
  TempDir site;
  NginxServer server{site.path()};
  RecordingWindow window;
  std::unique_ptr<Globals> globals;
};

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};

}  // namespace

TEST_F(UpdateCheck, WithoutArchivesEveryPackageIsNewAndNoInstallButtonIsEnabled) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  for (const char* mark : {control::标签1, control::标签2, control::标签3, control::标签5}) {
    EXPECT_EQ(window.texts[mark], "发现新版") << mark;
    EXPECT_EQ(color(mark), kRed) << mark;
  }
  EXPECT_FALSE(window.enabled[control::按钮_安装三端]);
  EXPECT_FALSE(window.enabled[control::按钮_工具安装]);
  EXPECT_EQ(globals->package(PackageId::Server).localMd5, kEmptyMd5);
  EXPECT_EQ(globals->package(PackageId::Server).manifest.url, "http://h/a.zip");
  EXPECT_EQ(globals->package(PackageId::Tools).manifest.md5, kMd5D);
  EXPECT_EQ(window.texts[control::透明标签1], "");
}

TEST_F(UpdateCheck, MatchingDigestIsCurrentAndEnablesItsInstallButton) {
  program.write("三端.zip", "server archive");
  program.write("工具.zip", "");  // an empty archive counts as missing
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::标签1], "最新版");
  EXPECT_EQ(color(control::标签1), kGreen);
  EXPECT_TRUE(window.enabled[control::按钮_安装三端]);
  EXPECT_FALSE(window.enabled[control::按钮_工具安装]);
  EXPECT_EQ(window.texts[control::标签5], "发现新版");
}

TEST_F(UpdateCheck, UpperCaseDigestNeverMatches) {
  program.write("三端.zip", "server archive");
  std::string upper = kMd5A;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  publish(manifest(upper, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::标签1], "发现新版");
}

TEST_F(UpdateCheck, MissingDigestStopsAtThatPackageAndLeavesLaterMarks) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  program.write("三端.zip", "server archive");
  publish(manifest(kMd5A, kMd5B, "", kMd5D));
  window.calls.clear();
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "反挂插件MD5 错误");
  EXPECT_EQ(window.texts[control::标签1], "最新版");
  for (const std::string& call : window.calls) {
    EXPECT_EQ(call.find("标签3"), std::string::npos) << call;
    EXPECT_EQ(call.find("标签5"), std::string::npos) << call;
  }
  EXPECT_EQ(globals->package(PackageId::Tools).manifest.md5,
            kMd5D);  // the table is filled all the same
}

TEST_F(UpdateCheck, KeywordOnlyInsideAValueClearsTheTable) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  publish("note=反挂\r\n");
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "三端MD5 错误");
  EXPECT_EQ(globals->package(PackageId::Server).manifest.url, "");
  EXPECT_EQ(globals->package(PackageId::Tools).manifest.md5, "");
  EXPECT_EQ(window.texts[control::标签1], "发现新版");  // marks untouched
}

TEST_F(UpdateCheck, FailedFetchesKeepTheTableAndSayWhy) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  EXPECT_FALSE(globals->checkFailure);
  auto expectFailure = [&](FailureKind kind, const std::string& reason) {
    EXPECT_EQ(window.texts[control::透明标签1], "读取远程配置失败");
    ASSERT_TRUE(globals->checkFailure);
    EXPECT_EQ(globals->checkFailure->text, "读取远程配置失败");
    EXPECT_EQ(globals->checkFailure->kind, kind);
    EXPECT_NE(globals->checkFailure->reason.find(reason), std::string::npos)
        << globals->checkFailure->reason;
  };
  publish("no keyword here");
  checkForUpdates(*globals);
  expectFailure(FailureKind::ServerReply, "not a manifest");
  publish("");
  checkForUpdates(*globals);
  expectFailure(FailureKind::ServerReply, "empty");
  EXPECT_EQ(globals->package(PackageId::Server).manifest.url, "http://h/a.zip");
  globals->manifestUrl = server.url("/missing.txt");  // nginx's 404 page has no keyword
  checkForUpdates(*globals);
  expectFailure(FailureKind::ServerReply, "HTTP 404");
  globals->manifestUrl = "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/x.txt";
  checkForUpdates(*globals);
  expectFailure(FailureKind::Network, "onnect");  // libcurl's own words
  EXPECT_EQ(globals->package(PackageId::Tools).manifest.md5, kMd5D);

  // A digest missing from the manifest is the server's fault too; a good check clears it.
  globals->manifestUrl = server.url("/xiazaiqi/xiazai.txt");
  publish(manifest("", kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  ASSERT_TRUE(globals->checkFailure);
  EXPECT_EQ(globals->checkFailure->text, "三端MD5 错误");
  EXPECT_EQ(globals->checkFailure->kind, FailureKind::ServerReply);
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  EXPECT_FALSE(globals->checkFailure);
}

TEST_F(UpdateCheck, ZeroByteEndsTheText) {
  std::string body = manifest(kMd5A, kMd5B, kMd5C, kMd5D);
  body.insert(body.find("[反挂]"), std::string("\0", 1));
  publish(body);
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "读取远程配置失败");  // "反挂" lies after the zero
  publish(std::string("[三端]\r\nMD5=") + std::string("\0", 1) + "[反挂]");
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "读取远程配置失败");
}

TEST_F(UpdateCheck, GbkAndUtf8ManifestsGiveTheSameTable) {
  std::string text = manifest(kMd5A, kMd5B, kMd5C, kMd5D);
  publish(text);
  checkForUpdates(*globals);
  PackageEntry utf8 = globals->package(PackageId::AntiCheat).manifest;
  publish(utf8ToGbk(text));
  checkForUpdates(*globals);
  EXPECT_EQ(globals->package(PackageId::AntiCheat).manifest.url, utf8.url);
  EXPECT_EQ(globals->package(PackageId::AntiCheat).manifest.md5, kMd5C);
  EXPECT_EQ(window.texts[control::透明标签1], "");
}

TEST_F(UpdateCheck, CheckLeavesNoFileBehind) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  checkForUpdates(*globals);
  checkForUpdates(*globals);
  EXPECT_TRUE(std::filesystem::is_empty(program.path()));
}

TEST_F(UpdateCheck, ResetHidesTheProgressLine) {
  window.setVisible(control::进度条1, true);
  window.setText(control::标签_提示内容, "正在下载三端文件:");
  window.setProgress(control::进度条1, 40);
  resetProgressDisplay(*globals);
  EXPECT_EQ(window.texts[control::标签_提示内容], "");
  EXPECT_FALSE(window.visible[control::标签_提示内容]);
  EXPECT_FALSE(window.visible[control::标签_每秒速度]);
  EXPECT_FALSE(window.visible[control::进度条1]);
  EXPECT_EQ(window.progress[control::进度条1], 0);
}

TEST_F(UpdateCheck, AsyncCheckDisablesItsButtonDropsASecondRequestAndStopsAtOnce) {
  ScriptedServer silent(neverAnswers);
  globals->manifestUrl = silent.url("/xiazaiqi/xiazai.txt");
  window.setEnabled(control::按钮_检查更新, true);
  startUpdateCheck(*globals);
  EXPECT_TRUE(globals->checkRunning);
  EXPECT_FALSE(window.enabled[control::按钮_检查更新]);
  const size_t calls = window.calls.size();
  startUpdateCheck(*globals);  // dropped
  EXPECT_EQ(window.calls.size(), calls);
  stopUpdateCheck(*globals);  // the fetch is abandoned, the thread joined
  EXPECT_FALSE(globals->checkRunning);
  window.runPosted();
  EXPECT_EQ(window.calls.size(), calls);  // nothing was applied
}

TEST_F(UpdateCheck, ATricklingManifestEndsAtTheOverallLimit) {
  ScriptedServer slow([](ScriptedConnection& c) { tricklesForever(c, "", 100); });
  globals->manifestUrl = slow.url("/xiazaiqi/xiazai.txt");
  globals->manifestTotalTimeoutMs = 500;
  startUpdateCheck(*globals);
  ASSERT_TRUE(
      window.runPostedUntil([this] { return !globals->checkRunning; }, std::chrono::seconds(20)));
  EXPECT_EQ(window.texts[control::透明标签1], "读取远程配置失败");
  EXPECT_TRUE(window.enabled[control::按钮_检查更新]);
}

TEST_F(UpdateCheck, AFinishedDownloadAsksForOneMoreCheckAndItsMismatchIsTold) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  program.write("三端.zip", "not the published archive");
  startUpdateCheck(*globals);
  globals->finishedDownload = FinishedDownload{PackageId::Server, ""};
  startUpdateCheck(*globals, true);  // runs once the first has ended
  ASSERT_TRUE(
      window.runPostedUntil([this] { return !globals->checkRunning && !globals->finishedDownload; },
                            std::chrono::seconds(20)));
  EXPECT_EQ(window.texts[control::透明标签1], "三端.zip MD5与远程配置不符");
  EXPECT_TRUE(window.enabled[control::按钮_安装三端]);
  EXPECT_EQ(window.texts[control::标签1], "发现新版");
}

// The digest a verified download computed stands for its archive while the file is the one it
// placed; once the file changed, the check reads it.
TEST_F(UpdateCheck, AnArchiveIsReadAgainOnlyWhenItIsNoLongerTheOneADownloadPlaced) {
  publish(manifest(kMd5A, kMd5B, kMd5C, kMd5D));
  std::string path = program.write("三端.zip", "server archive");
  std::optional<FileIdentity> placed = fileIdentityAt(path);
  ASSERT_TRUE(placed.has_value());
  // A digest no file has: seen only when the file was not read.
  globals->package(PackageId::Server).placed =
      KnownDigest{*placed, {kMd5B, kEmptySha256, placed->size}};
  checkForUpdates(*globals);
  EXPECT_EQ(globals->package(PackageId::Server).localMd5, kMd5B);

  program.write("三端.zip", "another server archive");
  checkForUpdates(*globals);
  EXPECT_EQ(globals->package(PackageId::Server).localMd5, md5OfBytes("another server archive"));
  EXPECT_EQ(window.texts[control::标签1], "发现新版");
}
