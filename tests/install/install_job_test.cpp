#include "install/install_jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "install/event_pump.h"
#include "platform/files.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "temp_dir.h"
#include "zip/zip.h"

using Paths = std::vector<std::string>;

namespace {

const char kListBefore[] = "A.dll\r\n\r\njxq.dll\r\nQZVM2PlusLoad.dll\r\n";

}  // namespace

class InstallJob : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    setProgramDir(dir.file("prog/"));
  }
  void TearDown() override {
    clearQuitRequest();
    freeGlobals(globals);
  }

  void setProgramDir(const std::string& path) {
    std::filesystem::create_directories(path);
    globals->programDir = path;
  }
  // Zips the files (relative path -> content) with Info-ZIP, folder entries included, into
  // the program directory under `name`.
  void makeArchive(const std::string& name, const std::map<std::string, std::string>& files) {
    std::string source = dir.file("src-" + std::to_string(sources++));
    for (const auto& [path, content] : files)
      dir.write(source.substr(dir.path().size() + 1) + "/" + path, content);
    infoZip(source, {"-r"}, globals->programDir + name, {"."});
  }
  std::string makeRoot(const std::string& name) {
    std::string root = dir.file(name);
    std::filesystem::create_directories(root);
    return root;
  }
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : window.boxes) texts.push_back(box.text);
    return texts;
  }
  bool allOwnedByMainWindow() const {
    for (const auto& box : window.boxes) {
      if (box.owner != BoxOwner::MainWindow) return false;
    }
    return true;
  }

  RecordingWindow window;
  std::unique_ptr<Globals> globals;
  TempDir dir;
  ZIP zip;
  int sources = 0;
};

TEST_F(InstallJob, ServerEndsGoIntoEveryExistingRoot) {
  makeArchive("三端.zip", {{"mir200/M2Server.exe", "m2"},
                           {"mir200/Envir/QuestDiary/q.txt", "quest"},
                           {"mir200/PlugList.txt", "From.archive\r\n"},
                           {"SelGate/SelGate.exe", "sel"},
                           {"Velmar引擎控制台/GameCenter.exe", "gc"},
                           {"Velmar引擎控制台2/more.ini", "more"},
                           {"readme.txt", "top-level"}});
  std::string missing = dir.file("A");
  std::string first = makeRoot("first"), second = makeRoot("second");
  dir.write("first/mir200/PlugList.txt", kListBefore);
  window.texts[control::编辑框_三端目录] = missing + "\r\n" + first + "\r\n\r\n" + second + "/\r\n";

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(boxTexts(), (Paths{missing + "目录不存在", "目录不存在", "安装完成"}));
  EXPECT_TRUE(allOwnedByMainWindow());
  const Paths installed{"SelGate/",
                        "SelGate/SelGate.exe",
                        "Velmar引擎控制台/",
                        "Velmar引擎控制台/GameCenter.exe",
                        "Velmar引擎控制台2/",
                        "Velmar引擎控制台2/more.ini",
                        "mir200/",
                        "mir200/Envir/",
                        "mir200/Envir/QuestDiary/",
                        "mir200/Envir/QuestDiary/q.txt",
                        "mir200/M2Server.exe"};
  Paths withList = installed;
  withList.push_back("mir200/PlugList.txt");
  std::sort(withList.begin(), withList.end());
  EXPECT_EQ(listTree(first), withList);
  EXPECT_EQ(listTree(second), installed);  // the archive's list is never copied
  EXPECT_EQ(readWholeFile(first + "/mir200/Envir/QuestDiary/q.txt"), "quest");
  EXPECT_EQ(readWholeFile(first + "/mir200/PlugList.txt"),
            "A.dll\r\nQZVM2PlusLoad.dll\r\nM2LinkerX86.dll\r\n");
  EXPECT_FALSE(fileExists(missing));
  EXPECT_EQ(readWholeFile(dir.file("prog/Velmar三端/readme.txt")), "top-level");
}

TEST_F(InstallJob, FunctionPluginRecordsPerMarkerAndThePluginListExamples) {
  makeArchive("功能.zip", {{"Mir200/Envir/a.txt", "a"},
                           {"Mir200/qzvkz/x.dll", "x"},
                           {"DBServer/db.ini", "db"},
                           {"Orvanta引擎控制器/c.exe", "c"},
                           {"top.txt", "top"}});
  std::string root = makeRoot("root");
  dir.write("root/Mir200/PlugList.txt", kListBefore);
  window.texts[control::编辑框_功能目录] = root;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(listTree(root),
            (Paths{"DBServer/", "DBServer/db.ini", "Mir200/", "Mir200/Envir/", "Mir200/Envir/a.txt",
                   "Mir200/PlugList.txt", "Mir200/qzvkz/", "Mir200/qzvkz/x.dll",
                   "Orvanta引擎控制器/", "Orvanta引擎控制器/c.exe", "qzvkz/", "qzvkz/x.dll"}));
  EXPECT_EQ(readWholeFile(root + "/Mir200/PlugList.txt"), "A.dll\r\nQZVM2PlusLoad.dll\r\n");

  // The server ends then edit the same list (found as "mir200/PlugList.txt").
  makeArchive("三端.zip", {{"readme.txt", "nothing to place"}});
  window.texts[control::编辑框_三端目录] = root;
  installPackage(*globals, packageInfo(PackageId::Server), zip);
  EXPECT_EQ(readWholeFile(root + "/Mir200/PlugList.txt"),
            "A.dll\r\nQZVM2PlusLoad.dll\r\nM2LinkerX86.dll\r\n");
}

TEST_F(InstallJob, PluginListsKeepTheirLineEndingAndAListThatIsNoTextFailsItsRoot) {
  makeArchive("功能.zip", {{"Mir200/a.dll", "a"}});
  std::string unix = makeRoot("unix"), wide = makeRoot("wide");
  dir.write("unix/Mir200/PlugList.txt", "A.dll\n\nJXQ.dll\n qzvm2plusload.DLL \n");
  const std::string utf16(
      "\xFF\xFE"
      "A\0.\0d\0l\0l\0\r\0\n\0",
      14);
  std::string wideList = dir.write("wide/Mir200/PlugList.txt", utf16);
  window.texts[control::编辑框_功能目录] = unix + "\n" + wide;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(), (Paths{"安装到 " + wide + "/ 失败\n" + wideList + ": 不是系统代码页的文本",
                               "安装完成"}));
  EXPECT_EQ(readWholeFile(unix + "/Mir200/PlugList.txt"), "A.dll\n qzvm2plusload.DLL \n");
  EXPECT_EQ(readWholeFile(wideList), utf16);
  EXPECT_FALSE(fileExists(wide + "/Mir200/a.dll"));  // all or nothing: the root is untouched
}

TEST_F(InstallJob, MarkersIgnoreCaseAndExistingFoldersOfAnotherCaseAreUsed) {
  makeArchive("三端.zip", {{"MIR200/Envir/a.dll", "a"}});
  std::string fresh = makeRoot("fresh"), existing = makeRoot("existing");
  std::filesystem::create_directories(existing + "/Mir200/envir");
  window.texts[control::编辑框_三端目录] = fresh + "\n" + existing + "\n";

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(listTree(fresh), (Paths{"MIR200/", "MIR200/Envir/", "MIR200/Envir/a.dll"}));
  EXPECT_EQ(listTree(existing), (Paths{"Mir200/", "Mir200/envir/", "Mir200/envir/a.dll"}));
}

TEST_F(InstallJob, MarkersInTheProgramFoldersOwnPathNeverCount) {
  setProgramDir(dir.file("srv/Mir200/downloader/"));
  makeArchive("三端.zip", {{"mir200/M2Server.exe", "m2"}, {"top.txt", "top"}});
  std::string root = makeRoot("root");
  window.texts[control::编辑框_三端目录] = root;

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(listTree(root), (Paths{"mir200/", "mir200/M2Server.exe"}));
  EXPECT_EQ(readWholeFile(root + "/mir200/M2Server.exe"), "m2");
}

TEST_F(InstallJob, AFailedCopyLeavesThatRootUntouchedAndTheOthersGoOn) {
  makeArchive("功能.zip", {{"Mir200/a.dll", "a"}, {"Mir200/b.dll", "b"}});
  std::string blocked = makeRoot("blocked"), good = makeRoot("good");
  // A folder where the file belongs: no copy can replace it, not even as root.
  std::filesystem::create_directories(blocked + "/Mir200/a.dll");
  dir.write("blocked/Mir200/PlugList.txt", "jxq.dll\r\n");
  window.texts[control::编辑框_功能目录] = blocked + "\n" + good;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(),
            (Paths{"安装到 " + blocked + "/ 失败\n" + blocked + "/Mir200/a.dll: 不是普通文件",
                   "安装完成"}));
  EXPECT_TRUE(allOwnedByMainWindow());
  EXPECT_FALSE(fileExists(blocked + "/Mir200/b.dll"));
  EXPECT_EQ(readWholeFile(blocked + "/Mir200/PlugList.txt"), "jxq.dll\r\n");
  EXPECT_EQ(readWholeFile(good + "/Mir200/b.dll"), "b");
}

TEST_F(InstallJob, AnImmutableDestinationFailsTheCopy) {
  makeArchive("反挂.zip", {{"RunGate/RunGate.exe", "new"}});
  std::string root = makeRoot("root");
  std::string locked = dir.write("root/RunGate/RunGate.exe", "old");
  if (runTool({"chattr", "+i", locked}) != 0) GTEST_SKIP() << "chattr +i not available here";
  window.texts[control::编辑框_反挂目录] = root + "/";
  installPackage(*globals, packageInfo(PackageId::AntiCheat), zip);
  runTool({"chattr", "-i", locked});
  EXPECT_EQ(boxTexts(), (Paths{"安装到 " + root + "/ 失败\n" + locked + ": " + std::strerror(EPERM),
                               "安装完成"}));
  EXPECT_EQ(readWholeFile(locked), "old");
}

TEST_F(InstallJob, ReadOnlyDestinationsFailTheirRootWhoeverInstalls) {
  // These tests may run as root, whom no permission bit stops: the bits alone decide.
  makeArchive("功能.zip", {{"Mir200/a.dll", "new"}, {"Mir200/b.dll", "b"}});
  std::string file = makeRoot("file"), done = makeRoot("done"), list = makeRoot("list");
  std::string readOnly = dir.write("file/Mir200/a.dll", "old");
  std::string doneList = dir.write("done/Mir200/PlugList.txt", "QZVM2PlusLoad.dll\r\n");
  std::string oldList = dir.write("list/Mir200/PlugList.txt", "jxq.dll\r\n");
  for (const std::string& path : {readOnly, doneList, oldList}) ::chmod(path.c_str(), 0444);
  window.texts[control::编辑框_功能目录] = file + "\n" + done + "\n" + list;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(),
            (Paths{"安装到 " + file + "/ 失败\n" + readOnly + ": 只读文件",
                   "安装到 " + list + "/ 失败\n" + oldList + ": 只读文件", "安装完成"}));
  EXPECT_EQ(readWholeFile(readOnly), "old");
  EXPECT_FALSE(fileExists(file + "/Mir200/b.dll"));
  // A read-only list that already reads right needs no change and is no failure.
  EXPECT_EQ(readWholeFile(doneList), "QZVM2PlusLoad.dll\r\n");
  EXPECT_EQ(readWholeFile(oldList), "jxq.dll\r\n");
  EXPECT_FALSE(fileExists(list + "/Mir200/b.dll"));
  EXPECT_EQ(readWholeFile(done + "/Mir200/b.dll"), "b");
}

TEST_F(InstallJob, ExtractionFailureShowsItsMessageAloneWithoutOwner) {
  std::string root = makeRoot("root");
  dir.write("root/mir200/PlugList.txt", "jxq.dll\r\n");
  window.texts[control::编辑框_三端目录] = root;
  window.texts[control::编辑框_反挂目录] = root;
  dir.write("prog/反挂.zip", "this is no zip archive");

  installPackage(*globals, packageInfo(PackageId::Server), zip);  // no archive at all
  installPackage(*globals, packageInfo(PackageId::AntiCheat), zip);
  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(), (Paths{"解压三端.zip 失败", "解压 反挂.zip 失败", "解压功能.zip 失败"}));
  for (const auto& box : window.boxes) EXPECT_EQ(box.owner, BoxOwner::None);
  EXPECT_EQ(readWholeFile(root + "/mir200/PlugList.txt"), "jxq.dll\r\n");
}

TEST_F(InstallJob, AntiCheatNeverTouchesThePluginListAndAnEmptyBoxInstallsNothing) {
  makeArchive("反挂.zip", {{"RunGate/RunGate.exe", "run"}});
  std::string root = makeRoot("root");
  dir.write("root/mir200/PlugList.txt", "jxq.dll\r\n");
  window.texts[control::编辑框_反挂目录] = "";
  installPackage(*globals, packageInfo(PackageId::AntiCheat), zip);
  EXPECT_EQ(listTree(root), (Paths{"mir200/", "mir200/PlugList.txt"}));

  window.texts[control::编辑框_反挂目录] = root;
  installPackage(*globals, packageInfo(PackageId::AntiCheat), zip);
  EXPECT_EQ(boxTexts(), (Paths{"安装完成", "安装完成"}));
  EXPECT_EQ(readWholeFile(root + "/RunGate/RunGate.exe"), "run");
  EXPECT_EQ(readWholeFile(root + "/mir200/PlugList.txt"), "jxq.dll\r\n");
}

TEST_F(InstallJob, ToolsAreOnlyExtractedIntoAFreshStagingFolder) {
  dir.write("prog/其他工具/stale.txt", "old run");
  makeArchive("工具.zip", {{"mir200/tool.exe", "tool"}});
  window.texts[control::编辑框_三端目录] = makeRoot("root");

  installTools(*globals, zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(listTree(dir.file("prog/其他工具")), (Paths{"mir200/", "mir200/tool.exe"}));
  EXPECT_EQ(listTree(dir.file("root")), Paths{});

  deleteFile(dir.file("prog/工具.zip"));
  installTools(*globals, zip);
  ASSERT_EQ(window.boxes.size(), 2u);
  EXPECT_EQ(window.boxes[1].text, "解压 工具.zip 失败");
  EXPECT_EQ(window.boxes[1].owner, BoxOwner::None);
}

TEST_F(InstallJob, NoJobStartsWhileOneRunsAndTheButtonsComeBack) {
  makeArchive("三端.zip", {{"mir200/a.dll", "a"}, {"mir200/b.dll", "b"}});
  makeArchive("工具.zip", {{"t.exe", "t"}});
  std::string root = makeRoot("root");
  window.texts[control::编辑框_三端目录] = root;
  window.enabled[control::按钮_安装三端] = true;
  window.enabled[control::按钮_安装功能] = false;
  window.enabled[control::按钮_安装反挂] = false;
  window.enabled[control::按钮_工具安装] = true;
  int disabledDuringPumps = 0;
  window.onPump = [&] {
    bool allDisabled = true;
    for (const char* button : {control::按钮_安装三端, control::按钮_安装功能,
                               control::按钮_安装反挂, control::按钮_工具安装}) {
      allDisabled = allDisabled && !window.enabled[button];
    }
    disabledDuringPumps += allDisabled ? 1 : 0;
    // A click that gets through anyway, and a download finishing meanwhile.
    installPackage(*globals, packageInfo(PackageId::Server), zip);
    installTools(*globals, zip);
    window.setEnabled(control::按钮_安装反挂, true);
  };

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(window.pumps, 9);         // two files compared; four changes prepared, three swapped
  EXPECT_EQ(disabledDuringPumps, 1);  // the first pump; later ones see 反挂 enabled
  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_FALSE(fileExists(dir.file("prog/其他工具")));
  EXPECT_EQ(readWholeFile(root + "/mir200/b.dll"), "b");
  EXPECT_TRUE(window.enabled[control::按钮_安装三端]);
  EXPECT_FALSE(window.enabled[control::按钮_安装功能]);
  EXPECT_TRUE(window.enabled[control::按钮_安装反挂]);
  EXPECT_TRUE(window.enabled[control::按钮_工具安装]);
}

TEST_F(InstallJob, AQuitRequestDuringTheListingEndsTheJobQuietly) {
  makeArchive("三端.zip", {{"mir200/a.dll", "a"}, {"mir200/b.dll", "b"}});
  std::string root = makeRoot("root");
  window.texts[control::编辑框_三端目录] = root;
  window.onPump = [] { noteQuitRequest(); };

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(window.pumps, 1);
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_EQ(listTree(root), Paths{});

  // The request belonged to that job: the next one runs in full.
  window.onPump = nullptr;
  installPackage(*globals, packageInfo(PackageId::Server), zip);
  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(readWholeFile(root + "/mir200/a.dll"), "a");
}
