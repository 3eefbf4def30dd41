// The command table of downloader-cli: usage, each command's --help, version, and errors
// that name what was wrong.
#include <gtest/gtest.h>

#include "cli_run.h"
#include "temp_dir.h"

TEST(CommandLine, HelpVersionAndErrorsThatNameThemselves) {
  TempDir scratch;
  for (const char* command : {"fetch", "check", "download", "install"}) {
    SCOPED_TRACE(command);
    Outcome help = runCli(std::string(command) + " --help >" + scratch.file("out.txt"), scratch);
    EXPECT_EQ(help.exitCode, 0) << help.errorText;
    std::string text = readWholeFile(scratch.file("out.txt"));
    EXPECT_NE(text.find(std::string("usage: downloader-cli ") + command), std::string::npos)
        << text;
    EXPECT_GT(text.size(), 100u) << "a description follows the usage line";
  }
  Outcome version = runCli("--version >" + scratch.file("out.txt"), scratch);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(readWholeFile(scratch.file("out.txt")).rfind("downloader-cli ", 0), 0u);

  Outcome unknown = runCli("frobnicate", scratch);
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.errorText.find("unknown command 'frobnicate'"), std::string::npos)
      << unknown.errorText;
  Outcome option = runCli("check --frobnicate", scratch);
  EXPECT_EQ(option.exitCode, 2);
  EXPECT_NE(option.errorText.find("--frobnicate"), std::string::npos) << option.errorText;
  EXPECT_NE(option.errorText.find("usage: downloader-cli check"), std::string::npos)
      << option.errorText;
}
