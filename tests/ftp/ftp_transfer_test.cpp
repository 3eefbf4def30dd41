// Whole transfers from a real FTP server on loopback, passive and active, anonymous and with
// a user account.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/ftp_settings.h"
#include "ftp_run.h"
#include "ftp_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transfer/engine_log.h"

namespace {

struct Mode {
  bool passive;
  int32_t connections;
};

std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
  return std::string(info.param.passive ? "Passive" : "Active") + "With" +
         std::to_string(info.param.connections);
}

// The commands of one kind the server received, in order.
std::vector<std::string> commandsStartingWith(const FtpServer& server, const std::string& verb) {
  std::vector<std::string> found;
  for (const std::string& command : server.commands()) {
    if (command.rfind(verb, 0) == 0) found.push_back(command);
  }
  return found;
}

class FtpTransfer : public ::testing::TestWithParam<Mode> {};

}  // namespace

TEST_P(FtpTransfer, FilesOfEverySizeArriveByteIdentical) {
  const Mode mode = GetParam();
  TempDir served;
  TempDir local;
  const std::vector<size_t> sizes = {1, 100, 5000, (1u << 20) + 3, 64u << 20};
  for (size_t size : sizes) {
    served.write("d/f" + std::to_string(size) + ".bin", patternBytes(size, size % 97));
  }
  FtpServerOptions options;
  options.passive = mode.passive;
  FtpServer server(served.path(), options);

  for (size_t size : sizes) {
    SCOPED_TRACE("size " + std::to_string(size));
    std::string name = "f" + std::to_string(size) + ".bin";
    FtpRunResult run = runDownload(
        ftpTaskParam(server.url("/d/" + name), local.file(name), mode.connections), quickTuning());
    ASSERT_TRUE(run.complete) << run.logText();
    EXPECT_EQ(run.totalSize, static_cast<int64_t>(size));
    EXPECT_TRUE(readWholeFile(local.file(name)) == readWholeFile(served.file("d/" + name)));
    EXPECT_TRUE(run.logged(kLogError, "站点支持断点续传"));
    EXPECT_EQ(run.statusCount(TaskStatus::WorkerFailed), 0) << run.logText();
    // Every connection that ended normally read the server's last word.
    EXPECT_GE(run.linesContaining("226 Transfer complete"), 1) << run.logText();
  }
  if (mode.passive) {
    EXPECT_TRUE(commandsStartingWith(server, "PORT").empty());
  } else {
    // Passive mode failed once; after that the task stayed in active mode.
    EXPECT_EQ(commandsStartingWith(server, "PASV").size(), sizes.size());
    EXPECT_GE(commandsStartingWith(server, "PORT").size(), sizes.size());
  }
  if (mode.connections > 1) {
    // The 64 MiB file came over several connections, each from its own offset.
    EXPECT_GE(commandsStartingWith(server, "REST 50331648").size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpTransfer,
                         ::testing::Values(Mode{true, 1}, Mode{true, 4}, Mode{false, 1},
                                           Mode{false, 4}),
                         modeName);

TEST(FtpLogin, UserAccountGivenInTheUrl) {
  TempDir served;
  TempDir local;
  std::string bytes = patternBytes(200000, 3);
  served.write("private.bin", bytes);
  FtpServer server(served.path());
  TaskParam param = ftpTaskParam(server.userUrl("/private.bin"), local.file("p.bin"), 2);
  FtpRunResult run = runDownload(param, quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(readWholeFile(local.file("p.bin")) == bytes);
  EXPECT_GE(commandsStartingWith(server, "USER tester").size(), 2u);
  EXPECT_TRUE(commandsStartingWith(server, "USER anonymous").empty());
  EXPECT_TRUE(run.logged(kLogSent, "PASS ******"));
  EXPECT_EQ(run.linesContaining(FtpServerOptions().password), 0) << run.logText();
}

TEST(FtpTransferType, ByExtensionZipIsBinaryAndTextIsAscii) {
  TempDir served;
  TempDir local;
  std::string zip = patternBytes(100000, 5);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\r\n";
  served.write("pack.zip", zip);
  served.write("notes.txt", text);
  FtpServer server(served.path());

  TaskParam param = ftpTaskParam(server.url("/pack.zip"), local.file("pack.zip"), 4);
  param.ftpTransferType = kFtpTypeByExtension;
  FtpRunResult run = runDownload(param, quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(readWholeFile(local.file("pack.zip")) == zip);
  EXPECT_TRUE(run.logged(kLogReceived, "TYPE I"));
  EXPECT_FALSE(run.logged("TYPE A"));
  EXPECT_TRUE(commandsStartingWith(server, "TYPE A").empty());

  param = ftpTaskParam(server.url("/notes.txt"), local.file("notes.txt"), 4);
  param.ftpTransferType = kFtpTypeByExtension;
  size_t retrievesBefore = commandsStartingWith(server, "RETR").size();
  run = runDownload(param, quickTuning());
  ASSERT_TRUE(run.complete) << run.logText();
  EXPECT_TRUE(readWholeFile(local.file("notes.txt")) == text);
  EXPECT_TRUE(run.logged(kLogReceived, "TYPE A"));
  // The last type set before the retrieve was text; a text transfer uses one connection.
  std::vector<std::string> commands = server.commands();
  auto retrieve = std::find(commands.rbegin(), commands.rend(), "RETR notes.txt");
  ASSERT_NE(retrieve, commands.rend());
  auto type = std::find_if(retrieve, commands.rend(),
                           [](const std::string& c) { return c.rfind("TYPE", 0) == 0; });
  ASSERT_NE(type, commands.rend());
  EXPECT_EQ(*type, "TYPE A");
  EXPECT_EQ(commandsStartingWith(server, "RETR").size(), retrievesBefore + 1);
}
