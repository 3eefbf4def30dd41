// The FTP layer against a scripted server: replies a real server gives only on bad days.
#include <gtest/gtest.h>

#include "ftp/ftp_reply.h"
#include "ftp_run.h"
#include "ftp_scripted_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transfer/engine_log.h"
#include "transfer/output_file.h"

namespace {

using Script = ScriptedFtpServer::Script;

// A hook that answers `command` (an exact command, or a verb followed by a space) with
// `reply` on every connection.
ScriptedFtpServer::Hook answer(std::string command, std::string reply) {
  return [command, reply](int, const std::string& line) -> std::optional<std::string> {
    if (line == command || line.rfind(command + " ", 0) == 0) return reply;
    return std::nullopt;
  };
}

class FtpFaults : public ::testing::Test {
 protected:
  std::string target(const std::string& name = "out.bin") const { return dir.file(name); }
  bool sameAsServed(const std::string& path) const { return readWholeFile(path) == file; }

  TempDir dir;
  std::string file = patternBytes(300000, 7);
};

}  // namespace

TEST_F(FtpFaults, RestartReplyWithoutTheWordRestartMeansOneConnection) {
  Script script;
  script.hook = answer("REST 100", "350 Ready to resume at 100.\r\n");
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/d/f.bin"), target(), 4), quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  // The server honoured the probe's offset; the file must still start at byte 0.
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_TRUE(run.logged(kLogError, "站点不支持断点续传"));
  EXPECT_TRUE(run.logged(kLogSent, "REST 0"));
  EXPECT_EQ(server.sessions(), 1);
  EXPECT_EQ(server.count("RETR d/f.bin"), 1);
}

TEST_F(FtpFaults, MissingWelcomeIsRetried) {
  Script script;
  script.welcome = [](int session) -> std::optional<std::string> {
    if (session == 0) return std::nullopt;
    return "220 late but ready\r\n";
  };
  ScriptedFtpServer server(file, script);
  TaskParam param = ftpTaskParam(server.url("/f.bin"), target(), 1);
  param.receiveTimeout = 300;
  FtpRunResult run = runDownload(param, quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_TRUE(run.logged(kLogError, "获得返回命令失败"));
  EXPECT_TRUE(run.logged(kLogError, "无法得到欢迎消息"));
  EXPECT_EQ(run.linesContaining("后重试"), 1);
  EXPECT_EQ(server.sessions(), 2);
}

TEST_F(FtpFaults, RefusedPasswordFailsTheLoginAndNeverShowsThePassword) {
  Script script;
  script.hook = [](int, const std::string& line) -> std::optional<std::string> {
    // A careless server that echoes what it was given.
    if (line.rfind("PASS ", 0) == 0) return "530 Login incorrect: " + line.substr(5) + "\r\n";
    return std::nullopt;
  };
  ScriptedFtpServer server(file, script);
  TaskParam param = ftpTaskParam(server.url("/f.bin"), target(), 1);
  param.userName = "alice";
  param.password = "Tr0ub4dor&3";
  FtpRunResult run = runDownload(param, quickTuning(1));
  ASSERT_TRUE(run.finished);
  EXPECT_FALSE(run.complete);
  EXPECT_TRUE(run.logged(kLogSent, "PASS ******"));
  EXPECT_TRUE(run.logged(kLogError, "出现错误"));
  EXPECT_TRUE(run.logged(kLogError, "登录失败"));
  EXPECT_EQ(run.linesContaining("Tr0ub4dor&3"), 0) << run.logText();
  EXPECT_EQ(run.linesContaining("530 Login incorrect: ******"), 2);
  EXPECT_EQ(server.count("PASS Tr0ub4dor&3"), 2);  // it was sent, once per attempt
  EXPECT_EQ(run.statusCount(TaskStatus::WorkerFailed), 1);
  EXPECT_FALSE(fileExists(target()));
}

TEST_F(FtpFaults, MissingFileIsNotRetried) {
  Script script;
  script.hook = answer("SIZE", "550 No such file.\r\n");
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/gone.zip"), target(), 2), quickTuning());
  ASSERT_TRUE(run.finished);
  EXPECT_FALSE(run.complete);
  EXPECT_TRUE(run.logged(kLogError, "文件不存在"));
  EXPECT_EQ(run.linesContaining("后重试"), 0);
  EXPECT_EQ(server.sessions(), 1);
  EXPECT_EQ(server.count("RETR"), 0);
}

TEST_F(FtpFaults, RefusedPassiveModeSwitchesTheTaskToActiveMode) {
  Script script;
  script.hook = answer("PASV", "502 Passive mode not allowed.\r\n");
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 3), quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_TRUE(run.logged(kLogError, "设置数据通道错误"));
  EXPECT_TRUE(run.logged(kLogError, "尝试主动模式连接"));
  // Only the first connection tried passive mode; every connection used active mode.
  EXPECT_EQ(server.count("PASV"), 1);
  EXPECT_EQ(server.count("PORT 127,0,0,1,"), server.sessions());
  EXPECT_GE(server.sessions(), 3);
}

TEST_F(FtpFaults, PassiveConnectionGoesToTheControlServerWhateverTheReplyNames) {
  Script script;
  script.passiveHost = "127,0,0,2";  // the listener is on 127.0.0.1 only
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 2), quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_FALSE(run.logged("数据通道连接失败"));
  EXPECT_EQ(server.count("PORT"), 0);
}

TEST_F(FtpFaults, ActiveModeAcceptsOnlyTheServersConnection) {
  Script script;
  script.hook = answer("PASV", "502 No.\r\n");
  script.activeDecoyAddress = "127.0.0.2";
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 1), quickTuning(0));
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
}

TEST_F(FtpFaults, ServerThatNeverConnectsInActiveModeIsATransientFailure) {
  Script script;
  script.hook = [](int session, const std::string& line) -> std::optional<std::string> {
    if (line == "PASV") return "502 No.\r\n";
    if (session != 0) return std::nullopt;
    if (line.rfind("PORT", 0) == 0) return "200 Sure.\r\n";  // and never connects
    if (line.rfind("RETR", 0) == 0) return "150 Here it comes.\r\n";
    return std::nullopt;
  };
  ScriptedFtpServer server(file, script);
  TaskParam param = ftpTaskParam(server.url("/f.bin"), target(), 1);
  param.connectTimeout = 300;
  FtpRunResult run = runDownload(param, quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_TRUE(run.logged(kLogError, "数据通道连接失败"));
  EXPECT_EQ(server.sessions(), 2);
}

TEST_F(FtpFaults, MultiLineRepliesAreReadToTheirFinalLine) {
  Script script;
  script.welcome = [](int) -> std::optional<std::string> {
    return "220-Welcome\r\n220-Second line\r\n 220 indented, not the end\r\n220 Ready\r\n";
  };
  script.hook = [](int, const std::string& line) -> std::optional<std::string> {
    if (line.rfind("USER", 0) == 0) return "331-Password\r\n331-is\r\n331 required\r\n";
    if (line.rfind("SIZE", 0) == 0) return "213-Size follows\r\n213 300000\r\n";
    return std::nullopt;
  };
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 2), quickTuning(0));
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_TRUE(run.logged(kLogReceived, "220-Second line"));
  EXPECT_TRUE(run.logged(kLogReceived, "220 Ready"));
}

TEST_F(FtpFaults, OverLongReplyLinesAreCutWithoutLosingTheirPlace) {
  Script script;
  script.welcome = [](int) -> std::optional<std::string> {
    // The text at byte kFtpLineLimit of the first line looks like a refusal.
    return "220-" + std::string(kFtpLineLimit - 4, 'w') + "421 Go away\r\n220 Ready\r\n";
  };
  script.hook = [](int, const std::string& line) -> std::optional<std::string> {
    if (line.rfind("PASS", 0) == 0) return "230 " + std::string(9000, 'y') + "\r\n";
    return std::nullopt;
  };
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 1), quickTuning(0));
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(sameAsServed(target()));
  EXPECT_EQ(run.linesContaining("421 Go away"), 0);
  EXPECT_TRUE(run.logged(kLogReceived, "230 " + std::string(kFtpLineLimit - 4, 'y')));
}

TEST_F(FtpFaults, SegmentWhoseOffsetIsRefusedIsNotFilledFromTheStart) {
  Script script;
  script.hook = [](int session, const std::string& line) -> std::optional<std::string> {
    bool probeOrReset = line == "REST 100" || line == "REST 0";
    if (session == 1 && line.rfind("REST ", 0) == 0 && !probeOrReset) {
      return "501 Offset refused.\r\n";
    }
    return std::nullopt;
  };
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 2), quickTuning(0));
  ASSERT_TRUE(run.finished);
  EXPECT_TRUE(run.logged(kLogError, "该站点不支持断点续传"));
  // What a refused connection should have fetched is fetched by another one, or by none
  // (when the others were already done); no part of the file ever holds misplaced bytes.
  // An incomplete file stays under its partial name.
  std::string written = readWholeFile(run.complete ? target() : partialPathOf(target()));
  ASSERT_EQ(written.size(), file.size());
  for (size_t at = 0; at < file.size(); at += 1000) {
    std::string block = written.substr(at, 1000);
    ASSERT_TRUE(block == file.substr(at, 1000) || block == std::string(block.size(), '\0'))
        << "misplaced bytes at " << at;
  }
  EXPECT_EQ(written.substr(0, 150000), file.substr(0, 150000));
}

// A server that refuses SIZE: the task ends saying so, not with the notice that came before.
TEST_F(FtpFaults, RefusedSizeSaysSo) {
  Script script;
  script.hook = answer("SIZE", "502 SIZE not implemented\r\n");
  ScriptedFtpServer server(file, script);
  FtpRunResult run = runDownload(ftpTaskParam(server.url("/f.bin"), target(), 4), quickTuning());
  ASSERT_TRUE(run.finished);
  EXPECT_FALSE(run.complete);
  EXPECT_EQ(run.outcome.kind, FailureKind::ServerReply);
  EXPECT_EQ(run.outcome.message, "服务器拒绝SIZE命令, 无法获得文件大小, 返回号[502]");
  EXPECT_FALSE(fileExists(target()));
}
