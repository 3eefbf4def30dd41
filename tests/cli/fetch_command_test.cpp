// downloader-cli fetch, run as a program against nginx and a scripted server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <regex>

#include "cli_run.h"
#include "nginx_server.h"
#include "platform/files.h"
#include "scripted_server.h"
#include "temp_dir.h"

namespace {

class FetchCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir();
    root_->write("pkg.zip", patternBytes(300000, 5));
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

TempDir* FetchCommand::root_ = nullptr;
NginxServer* FetchCommand::server_ = nullptr;

}  // namespace

TEST_F(FetchCommand, CompleteFileExitsZero) {
  Outcome outcome = runCli("fetch " + server_->url("/pkg.zip") + " " + out_.file("p.zip") +
                               " --connections 4 --speed-limit 0 --referer ''",
                           out_);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.errorText;
  EXPECT_TRUE(readWholeFile(out_.file("p.zip")) == readWholeFile(root_->file("pkg.zip")));
}

TEST_F(FetchCommand, FolderPathTakesTheUrlNameAndLogShowsLevelAndTime) {
  Outcome outcome = runCli(
      "fetch " + server_->url("/pkg.zip") + " " + out_.path() + "/ --log --connections=2", out_);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.errorText;
  EXPECT_TRUE(readWholeFile(out_.file("pkg.zip")) == readWholeFile(root_->file("pkg.zip")));
  // Local time in ISO 8601 with its offset.
  const std::regex isoTime(
      "\\[0\\] "
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} "
      "正在连接 \\[");
  EXPECT_TRUE(std::regex_search(outcome.errorText, isoTime)) << outcome.errorText;
  EXPECT_NE(outcome.errorText.find("[1] "), std::string::npos);
  EXPECT_NE(outcome.errorText.find("[2] "), std::string::npos);
}

TEST_F(FetchCommand, FailureExitsNonZeroWithTheLastError) {
  Outcome outcome =
      runCli("fetch " + server_->url("/missing.zip") + " " + out_.file("m.zip"), out_);
  EXPECT_NE(outcome.exitCode, 0);
  EXPECT_NE(outcome.errorText.find("出现错误"), std::string::npos) << outcome.errorText;
  EXPECT_FALSE(fileExists(out_.file("m.zip")));
}

TEST_F(FetchCommand, ServerThatIgnoresRangesStillGivesTheWholeFile) {
  const std::string body = patternBytes(100003, 9);
  ScriptedServer ignoresRanges([&](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100003\r\n\r\n" + body);
  });
  Outcome outcome = runCli(
      "fetch " + ignoresRanges.url("/f.bin") + " " + out_.file("f.bin") + " --connections 4", out_);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.errorText;
  EXPECT_TRUE(readWholeFile(out_.file("f.bin")) == body);
}

TEST_F(FetchCommand, BadArgumentsShowUsage) {
  EXPECT_EQ(runCli("fetch only-one-argument", out_).exitCode, 2);
  EXPECT_EQ(runCli("fetch http://h/f p --connections 0", out_).exitCode, 2);
  EXPECT_EQ(runCli("fetch http://h/f p --connections 17", out_).exitCode, 2);
  EXPECT_EQ(runCli("fetch http://h/f p --connections 2147483647", out_).exitCode, 2);
  EXPECT_EQ(runCli("fetch http://h/f p --bogus", out_).exitCode, 2);
  EXPECT_EQ(runCli("nosuchcommand", out_).exitCode, 2);
  EXPECT_NE(runCli("fetch https://h/f " + out_.file("x"), out_).exitCode, 0);
}
