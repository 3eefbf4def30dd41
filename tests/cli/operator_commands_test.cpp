// The operator's commands of downloader-cli against the demo vendor site.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "cli_run.h"
#include "demo_site.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "temp_dir.h"

namespace {

class OperatorCommands : public ::testing::Test {
 protected:
  CommandResult cli(const std::string& arguments) {
    return runCommand(shellQuote(DL_CLI_PATH) + " " + arguments);
  }
  std::string common() const {
    return "--manifest " + shellQuote(site.manifestUrl()) + " --dir " + shellQuote(program.path());
  }

  DemoSite site;
  TempDir program;
  TempDir root;
};

}  // namespace

TEST_F(OperatorCommands, CheckMarksEveryPackageNewWithoutArchives) {
  CommandResult result = cli("check " + common());
  EXPECT_EQ(result.status, 100) << result.output;  // a new release exists
  for (const char* line :
       {"三端: 发现新版", "功能: 发现新版", "反挂: 发现新版", "工具: 发现新版"}) {
    EXPECT_NE(result.output.find(line), std::string::npos) << result.output;
  }
}

TEST_F(OperatorCommands, DownloadAndInstallEveryPackage) {
  const std::pair<const char*, const char*> packages[] = {
      {"server", "三端"}, {"功能", "功能"}, {"anticheat", "反挂"}, {"tools", "工具"}};
  const char* archives[] = {"server.zip", "plugin.zip", "anticheat.zip", "tools.zip"};
  for (size_t i = 0; i < 4; ++i) {
    auto [name, chinese] = packages[i];
    CommandResult fetched = cli(std::string("download ") + name + " " + common());
    EXPECT_EQ(fetched.status, 0) << fetched.output;
    EXPECT_NE(fetched.output.find(std::string(chinese) + ": 最新版"), std::string::npos)
        << fetched.output;
    EXPECT_EQ(md5OfFile(program.file(std::string(chinese) + ".zip")),
              md5OfFile(site.archive(archives[i])));
    CommandResult installed = cli(std::string("install ") + name + " --root " +
                                  shellQuote(root.path()) + " --dir " + shellQuote(program.path()));
    EXPECT_EQ(installed.status, 0) << installed.output;
    EXPECT_NE(installed.output.find("安装完成"), std::string::npos) << installed.output;
  }
  EXPECT_TRUE(fileExists(root.file("mir200/M2Server.exe")));
  EXPECT_TRUE(fileExists(root.file("SelGate/SelGate.exe")));
  EXPECT_TRUE(fileExists(root.file("Velmar引擎控制台/控制台.exe")));
  EXPECT_TRUE(fileExists(root.file("mir200/Envir/地图说明.txt")));
  EXPECT_TRUE(fileExists(root.file("RunGate/RunGate.exe")));
  EXPECT_TRUE(fileExists(root.file("DBServer/DBServer.exe")));
  EXPECT_TRUE(fileExists(program.file("其他工具/工具/说明.txt")));
  EXPECT_FALSE(fileExists(root.file("工具")));  // the tools package is only extracted
  // The plugin list had no file before: it is never created.
  EXPECT_FALSE(fileExists(root.file("mir200/PlugList.txt")));
}

TEST_F(OperatorCommands, InstallEditsThePluginListAndReportsAMissingRoot) {
  ASSERT_EQ(cli("download 三端 " + common()).status, 0);
  root.write("mir200/PlugList.txt", "A.dll\r\njxq.dll\r\n");
  std::string missing = root.file("missing");
  CommandResult result = cli("install 三端 --root " + shellQuote(missing) + " --root " +
                             shellQuote(root.path()) + " --dir " + shellQuote(program.path()));
  EXPECT_EQ(result.status, 5) << result.output;
  EXPECT_NE(result.output.find(missing + "目录不存在\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("安装完成"), std::string::npos);
  EXPECT_EQ(readWholeFile(root.file("mir200/PlugList.txt")),
            "A.dll\r\nM2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n");
  EXPECT_TRUE(fileExists(root.file("mir200/M2Server.exe")));
}

TEST_F(OperatorCommands, BadInputGivesClearErrors) {
  CommandResult unknown = cli("download nothing " + common());
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown package: nothing"), std::string::npos) << unknown.output;
  CommandResult noRoot = cli("install 反挂 --dir " + shellQuote(program.path()));
  EXPECT_EQ(noRoot.status, 2) << noRoot.output;
  CommandResult noArchive = cli("install 反挂 --root " + shellQuote(root.path()) + " --dir " +
                                shellQuote(program.path()));
  EXPECT_EQ(noArchive.status, 5);
  EXPECT_NE(noArchive.output.find("解压 反挂.zip 失败"), std::string::npos) << noArchive.output;
  EXPECT_EQ(cli("--help").status, 0);
  EXPECT_NE(cli("install --help").output.find("--root"), std::string::npos);
}

TEST_F(OperatorCommands, ManifestServerDownFails) {
  std::string down =
      "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/xiazaiqi/xiazai.txt";
  CommandResult checked =
      cli("check --manifest " + shellQuote(down) + " --dir " + shellQuote(program.path()));
  EXPECT_NE(checked.status, 0);
  EXPECT_NE(checked.output.find("读取远程配置失败"), std::string::npos) << checked.output;
  CommandResult fetched =
      cli("download 三端 --manifest " + shellQuote(down) + " --dir " + shellQuote(program.path()));
  EXPECT_NE(fetched.status, 0);
  EXPECT_NE(fetched.output.find("三端下载地址为空"), std::string::npos) << fetched.output;
}

TEST(OperatorPaths, RelativeDirAndRootMeanTheFoldersBelowTheCurrentOne) {
  TempDir work;
  // An archive whose folder has no entry of its own installs alike, whichever way the
  // folders were named.
  const std::string python =
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    if sys.argv[2] == 'with': z.writestr(zipfile.ZipInfo('RunGate/'), '')\n"
      "    z.writestr('RunGate/RunGate.exe', 'run')\n";
  std::filesystem::create_directories(work.file("prog"));
  std::filesystem::create_directories(work.file("root"));
  ASSERT_EQ(runCommand("/usr/bin/python3 -c " + shellQuote(python) + " " +
                       shellQuote(work.file("prog/反挂.zip")) + " without")
                .status,
            0);
  auto install = [&](const std::string& dir, const std::string& root) {
    return runCommand("cd " + shellQuote(work.path()) + " && " + shellQuote(DL_CLI_PATH) +
                      " install 反挂 --dir " + shellQuote(dir) + " --root " + shellQuote(root));
  };
  CommandResult relative = install("prog", "root");
  CommandResult absolute = install(work.file("prog"), work.file("root"));
  EXPECT_EQ(relative.status, 0) << relative.output;
  EXPECT_EQ(relative.output, absolute.output);
  EXPECT_EQ(readWholeFile(work.file("root/RunGate/RunGate.exe")), "run");

  ASSERT_EQ(runCommand("/usr/bin/python3 -c " + shellQuote(python) + " " +
                       shellQuote(work.file("prog/反挂.zip")) + " with")
                .status,
            0);
  CommandResult installed = install("./prog/", "root");
  EXPECT_EQ(installed.status, 0) << installed.output;
  EXPECT_EQ(readWholeFile(work.file("root/RunGate/RunGate.exe")), "run");
  CommandResult missing = install("prog", "nowhere");
  EXPECT_NE(missing.output.find(work.file("nowhere") + "目录不存在"), std::string::npos)
      << missing.output;

  // A root that fails names the file and the reason on standard error.
  writeWholeFile(work.file("root/RunGate/RunGate.exe"), "old");
  ::chmod(work.file("root/RunGate/RunGate.exe").c_str(), 0444);
  Outcome readOnly = runCli("install 反挂 --dir " + shellQuote(work.file("prog")) + " --root " +
                                shellQuote(work.file("root")),
                            work);
  EXPECT_EQ(readOnly.exitCode, 5);
  EXPECT_EQ(readOnly.errorText, "安装到 " + work.file("root") + "/ 失败\n" +
                                    work.file("root/RunGate/RunGate.exe") + ": 只读文件\n");
}
