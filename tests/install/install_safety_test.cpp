// Install jobs against the server folders of a running server: nothing may be truncated,
// hang or fill the disk, and every failure is reported.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "install/install_jobs.h"
#include "platform/files.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "small_tmpfs.h"
#include "temp_dir.h"
#include "zip/zip.h"

using Paths = std::vector<std::string>;

class InstallSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    setProgramDir(dir.file("prog/"));
  }
  void TearDown() override { freeGlobals(globals); }

  void setProgramDir(const std::string& path) {
    std::filesystem::create_directories(path);
    globals->programDir = path;
  }
  // Python's zipfile writes `body` into the program directory's archive `name`.
  void makeArchive(const std::string& name, const std::string& body) {
    pythonZip(globals->programDir + name, body);
  }
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : window.boxes) texts.push_back(box.text);
    return texts;
  }
  // Regular files below `path` that are empty.
  static Paths emptyFiles(const std::string& path) {
    Paths empty;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
      if (entry.is_regular_file() && entry.file_size() == 0) empty.push_back(entry.path());
    }
    return empty;
  }

  RecordingWindow window;
  std::unique_ptr<Globals> globals;
  TempDir dir;
  ZIP zip;
};

TEST_F(InstallSafety, AProgramFolderInsideARootAndARootThatIsTheStagingFolder) {
  // The program lives in root/Mir200/tools/: markers count only below the staging folder,
  // and the staging folder given as a root holds the extracted files themselves.
  std::string root = dir.file("root");
  setProgramDir(root + "/Mir200/tools/");
  makeArchive("功能.zip",
              "z.writestr(zipfile.ZipInfo('Mir200/'), '')\n"
              "z.writestr('Mir200/a.dll', 'plugin a')");
  std::string staging = root + "/Mir200/tools/功能插件";
  window.texts[control::编辑框_功能目录] = root + "\n" + staging;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(emptyFiles(root), Paths{});
  EXPECT_EQ(readWholeFile(root + "/Mir200/a.dll"), "plugin a");
  EXPECT_EQ(listTree(staging), (Paths{"Mir200/", "Mir200/a.dll"}));

  // A plain program folder, and the staging folder given as the root.
  setProgramDir(dir.file("prog/"));
  makeArchive("功能.zip",
              "z.writestr(zipfile.ZipInfo('Mir200/'), '')\n"
              "z.writestr('Mir200/b.dll', 'plugin b')");
  window.texts[control::编辑框_功能目录] = dir.file("prog/功能插件/");
  installPackage(*globals, packageInfo(PackageId::Plugin), zip);
  EXPECT_EQ(boxTexts(), (Paths{"安装完成", "安装完成"}));
  EXPECT_EQ(readWholeFile(dir.file("prog/功能插件/Mir200/b.dll")), "plugin b");
}

TEST_F(InstallSafety, AFifoInPlaceOfAFileOrThePluginListFailsThatRootAtOnce) {
  makeArchive("功能.zip",
              "z.writestr(zipfile.ZipInfo('Mir200/'), '')\n"
              "z.writestr('Mir200/a.dll', 'a')\n"
              "z.writestr('Mir200/b.dll', 'b')");
  std::string fileFifo = dir.file("one"), listFifo = dir.file("two"), good = dir.file("three");
  std::filesystem::create_directories(fileFifo + "/Mir200");
  std::filesystem::create_directories(listFifo + "/Mir200");
  std::filesystem::create_directories(good);
  ASSERT_EQ(::mkfifo((fileFifo + "/Mir200/a.dll").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((listFifo + "/Mir200/PlugList.txt").c_str(), 0644), 0);
  window.texts[control::编辑框_功能目录] = fileFifo + "\n" + listFifo + "\n" + good;

  // A job that blocked here would hang the test run; the failures must come at once.
  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(
      boxTexts(),
      (Paths{"安装到 " + fileFifo + "/ 失败\n" + fileFifo + "/Mir200/a.dll: 不是普通文件",
             "安装到 " + listFifo + "/ 失败\n" + listFifo + "/Mir200/PlugList.txt: 不是普通文件",
             "安装完成"}));
  EXPECT_FALSE(fileExists(fileFifo + "/Mir200/b.dll"));  // those roots are left untouched
  EXPECT_FALSE(fileExists(listFifo + "/Mir200/b.dll"));
  EXPECT_EQ(readWholeFile(good + "/Mir200/b.dll"), "b");
}

TEST_F(InstallSafety, ARootWithoutRoomFailsBeforeAnythingInItChanges) {
  SmallTmpfs small("1m");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string full = small.path();
  std::filesystem::create_directories(full + "/Mir200");
  writeWholeFile(full + "/Mir200/PlugList.txt", "jxq.dll\r\n");
  writeWholeFile(full + "/Mir200/a.dll", "old");
  makeArchive("功能.zip",
              "z.writestr(zipfile.ZipInfo('Mir200/'), '')\n"
              "z.writestr(zipfile.ZipInfo('Mir200/new/'), '')\n"
              "z.writestr('Mir200/a.dll', 'new')\n"
              "z.writestr('Mir200/new/big.bin', os.urandom(2 << 20))");
  std::string roomy = dir.file("roomy");
  std::filesystem::create_directories(roomy);
  window.texts[control::编辑框_功能目录] = full + "\n" + roomy;

  installPackage(*globals, packageInfo(PackageId::Plugin), zip);

  EXPECT_EQ(boxTexts(), (Paths{"安装到 " + full + "/ 失败\n" + full + "/: " + std::strerror(ENOSPC),
                               "安装完成"}));
  EXPECT_EQ(listTree(full), (Paths{"Mir200/", "Mir200/PlugList.txt", "Mir200/a.dll"}));
  EXPECT_EQ(readWholeFile(full + "/Mir200/a.dll"), "old");
  EXPECT_EQ(readWholeFile(full + "/Mir200/PlugList.txt"), "jxq.dll\r\n");
  EXPECT_EQ(readWholeFile(roomy + "/Mir200/a.dll"), "new");
}

TEST_F(InstallSafety, OfNamesThatDifferOnlyInCaseTheLaterInTheArchiveIsInstalled) {
  makeArchive("三端.zip",
              "z.writestr(zipfile.ZipInfo('mir200/'), '')\n"
              "z.writestr('mir200/a.dll', 'first a')\n"
              "z.writestr('mir200/A.dll', 'second a')\n"
              "z.writestr('MIR200/B.dll', 'first b')\n"
              "z.writestr('mir200/b.dll', 'second b')");
  std::string root = dir.file("root");
  dir.write("root/MIR200/A.DLL", "old a");
  window.texts[control::编辑框_三端目录] = root;

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  EXPECT_EQ(boxTexts(), Paths{"安装完成"});
  EXPECT_EQ(listTree(root), (Paths{"MIR200/", "MIR200/A.DLL", "MIR200/B.dll"}));
  EXPECT_EQ(readWholeFile(root + "/MIR200/A.DLL"), "second a");
  EXPECT_EQ(readWholeFile(root + "/MIR200/B.dll"), "second b");
}

TEST_F(InstallSafety, LinksPlantedInARootAreReplacedAndNeverWrittenThrough) {
  // Whoever can write in a root plants links to files outside it; a folder link is the
  // operator's layout and is followed.
  std::string secret = dir.write("outside/secret.bin", "outside bytes");
  std::string privateList = dir.write("outside/list.txt", "A.dll\r\njxq.dll\r\n");
  ::chmod(privateList.c_str(), 0600);
  std::string fifo = dir.file("outside/fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::filesystem::create_directories(dir.file("outside/gates"));
  std::string root = dir.file("root"), second = dir.file("second");
  std::filesystem::create_directories(root + "/mir200");
  std::filesystem::create_directories(second + "/mir200");
  ASSERT_EQ(::symlink(secret.c_str(), (root + "/mir200/M2Server.exe").c_str()), 0);
  ASSERT_EQ(::symlink(privateList.c_str(), (root + "/mir200/PlugList.txt").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere.dll", (root + "/mir200/gone.dll").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("outside/gates").c_str(), (root + "/SelGate").c_str()), 0);
  ASSERT_EQ(::symlink(fifo.c_str(), (second + "/mir200/PlugList.txt").c_str()), 0);
  makeArchive("三端.zip",
              "z.writestr(zipfile.ZipInfo('mir200/'), '')\n"
              "z.writestr(zipfile.ZipInfo('SelGate/'), '')\n"
              "z.writestr('mir200/M2Server.exe', 'm2')\n"
              "z.writestr('mir200/gone.dll', 'gone')\n"
              "z.writestr('SelGate/SelGate.exe', 'sel')");
  window.texts[control::编辑框_三端目录] = root + "\n" + second;

  installPackage(*globals, packageInfo(PackageId::Server), zip);

  // A list that links to a FIFO is no list: that root fails, without blocking.
  EXPECT_EQ(boxTexts(),
            (Paths{"安装到 " + second + "/ 失败\n" + second + "/mir200/PlugList.txt: 不是普通文件",
                   "安装完成"}));
  EXPECT_EQ(readWholeFile(secret), "outside bytes");
  EXPECT_EQ(readWholeFile(privateList), "A.dll\r\njxq.dll\r\n");
  for (const char* name : {"M2Server.exe", "PlugList.txt", "gone.dll"}) {
    struct stat info {};
    ASSERT_EQ(::lstat((root + "/mir200/" + name).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
  }
  EXPECT_EQ(readWholeFile(root + "/mir200/M2Server.exe"), "m2");
  EXPECT_EQ(readWholeFile(root + "/mir200/gone.dll"), "gone");
  EXPECT_EQ(readWholeFile(root + "/mir200/PlugList.txt"),
            "A.dll\r\nM2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n");
  struct stat list {};
  ::stat((root + "/mir200/PlugList.txt").c_str(), &list);
  EXPECT_EQ(list.st_mode & 077, 0u);  // as private as the file it was read from
  EXPECT_EQ(readWholeFile(dir.file("outside/gates/SelGate.exe")), "sel");
  EXPECT_EQ(listTree(dir.file("outside")),
            (Paths{"fifo", "gates/", "gates/SelGate.exe", "list.txt", "secret.bin"}));
}
