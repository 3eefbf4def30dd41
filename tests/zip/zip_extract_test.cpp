#include "zip/zip.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "platform/files.h"
#include "temp_dir.h"

using Paths = std::vector<std::string>;

namespace {

struct stat statOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info;
}

}  // namespace

class ZipExtract : public ::testing::Test {
 protected:
  // A source tree of a large incompressible file (several blocks), a small text and a
  // nested folder.
  void writeSourceTree() {
    dir.write("src/big.bin", patternBytes(3 * ZIP::kBlockSize + 123));
    dir.write("src/text.txt", std::string(5000, 'a'));
    dir.write("src/sub/deeper/leaf.txt", "leaf");
  }
  void expectSourceTreeIn(const std::string& target) {
    EXPECT_EQ(listTree(target),
              (Paths{"big.bin", "sub/", "sub/deeper/", "sub/deeper/leaf.txt", "text.txt"}));
    EXPECT_EQ(readWholeFile(target + "/big.bin"), patternBytes(3 * ZIP::kBlockSize + 123));
    EXPECT_EQ(readWholeFile(target + "/text.txt"), std::string(5000, 'a'));
    EXPECT_EQ(readWholeFile(target + "/sub/deeper/leaf.txt"), "leaf");
  }

  TempDir dir;
  ZIP zip;
};

TEST_F(ZipExtract, StoredAndDeflatedArchivesFromInfoZip) {
  writeSourceTree();
  infoZip(dir.file("src"), {"-r", "-0"}, dir.file("stored.zip"), {"."});
  infoZip(dir.file("src"), {"-r", "-9"}, dir.file("deflated.zip"), {"."});
  ASSERT_TRUE(pythonCheck(dir.file("stored.zip"),
                          "assert all(i.compress_type == 0 for i in "
                          "zipfile.ZipFile(sys.argv[1]).infolist())"));
  ASSERT_TRUE(pythonCheck(dir.file("deflated.zip"),
                          "assert zipfile.ZipFile(sys.argv[1]).getinfo('text.txt')"
                          ".compress_type == 8"));
  EXPECT_EQ(zip.extract(dir.file("stored.zip"), dir.file("out-stored")), 1);
  expectSourceTreeIn(dir.file("out-stored"));
  // A missing target is created with its parents; a trailing "/" changes nothing.
  EXPECT_EQ(zip.extract(dir.file("deflated.zip"), dir.file("a/b/out-deflated/")), 1);
  expectSourceTreeIn(dir.file("a/b/out-deflated"));
}

TEST_F(ZipExtract, StreamedArchiveFromBsdtar) {
  writeSourceTree();
  ASSERT_EQ(
      runTool({"bsdtar", "--format", "zip", "-cf", dir.file("bsd.zip"), "."}, dir.file("src")), 0);
  EXPECT_EQ(zip.extract(dir.file("bsd.zip"), dir.file("out")), 1);
  expectSourceTreeIn(dir.file("out"));
}

TEST_F(ZipExtract, ArchivesWithoutFolderEntriesGetTheirFoldersBelowTheTargetOnly) {
  writeSourceTree();
  infoZip(dir.file("src"), {"-r", "-D"}, dir.file("zip-D.zip"), {"."});
  ASSERT_TRUE(pythonCheck(dir.file("zip-D.zip"),
                          "assert not any(i.is_dir() for i in "
                          "zipfile.ZipFile(sys.argv[1]).infolist())"));
  pythonZip(dir.file("python.zip"),
            "z.writestr('top.txt', 'top')\n"
            "z.writestr('d/e/in.txt', 'in')\n"
            "z.writestr(zipfile.ZipInfo('d/'), '')\n"
            "z.writestr('D/E/second.txt', 'second')");
  EXPECT_EQ(zip.extract(dir.file("zip-D.zip"), dir.file("one")), 1);
  expectSourceTreeIn(dir.file("one"));
  EXPECT_EQ(zip.extract(dir.file("python.zip"), dir.file("two/")), 1);
  EXPECT_EQ(listTree(dir.file("two")),
            (Paths{"d/", "d/e/", "d/e/in.txt", "d/e/second.txt", "top.txt"}));

  // A folder the archive implies is never made or entered through a link in the target.
  dir.write("outside/keep.txt", "keep");
  ::mkdir(dir.file("three").c_str(), 0755);
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("three/d").c_str()), 0);
  EXPECT_EQ(zip.extract(dir.file("python.zip"), dir.file("three")), 0);
  EXPECT_EQ(listTree(dir.file("outside")), Paths{"keep.txt"});
  EXPECT_EQ(listDirectory(dir.file("three")), (Paths{"d", "top.txt"}));  // written before it
}

TEST_F(ZipExtract, ExtractedFilesAreWritableWhateverTheArchiveSays) {
  dir.write("src/ro.txt", "read-only");
  ::chmod(dir.file("src/ro.txt").c_str(), 0444);
  infoZip(dir.file("src"), {}, dir.file("ro.zip"), {"ro.txt"});
  // Attributes from a host that leaves the high half 0 (and one marked read-only).
  pythonZip(dir.file("dos.zip"),
            "i = zipfile.ZipInfo('plain.txt'); i.create_system = 0; i.external_attr = 0\n"
            "z.writestr(i, 'plain')\n"
            "i = zipfile.ZipInfo('hidden.txt'); i.create_system = 0; i.external_attr = 0x27\n"
            "z.writestr(i, 'hidden')");
  // An existing read-only file at an output path is replaced.
  std::string existing = dir.write("out/ro.txt", "old");
  ::chmod(existing.c_str(), 0444);

  EXPECT_EQ(zip.extract(dir.file("ro.zip"), dir.file("out")), 1);
  EXPECT_EQ(zip.extract(dir.file("dos.zip"), dir.file("out")), 1);
  EXPECT_EQ(readWholeFile(existing), "read-only");
  for (const char* name : {"ro.txt", "plain.txt", "hidden.txt"}) {
    mode_t mode = statOf(dir.file("out/") + name).st_mode;
    EXPECT_TRUE(S_ISREG(mode)) << name;
    EXPECT_EQ(mode & (S_IRUSR | S_IWUSR), S_IRUSR | S_IWUSR) << name;
  }
}

TEST_F(ZipExtract, TimesComeFromTheExtendedTimestampOrTheDosFields) {
  dir.write("src/stamped.txt", "s");
  ASSERT_EQ(
      runTool({"touch", "-m", "-d", "2011-02-03 04:05:07 UTC", "stamped.txt"}, dir.file("src")), 0);
  ASSERT_EQ(
      runTool({"touch", "-a", "-d", "2012-06-07 08:09:10 UTC", "stamped.txt"}, dir.file("src")), 0);
  infoZip(dir.file("src"), {}, dir.file("ut.zip"), {"stamped.txt"}, {"TZ=Asia/Shanghai"});
  pythonZip(dir.file("dos.zip"),
            "z.writestr(zipfile.ZipInfo('dos.txt', (2001, 2, 3, 4, 5, 6)), 'd')");

  EXPECT_EQ(zip.extract(dir.file("ut.zip"), dir.file("out")), 1);
  EXPECT_EQ(zip.extract(dir.file("dos.zip"), dir.file("out")), 1);
  struct stat stamped = statOf(dir.file("out/stamped.txt"));
  EXPECT_EQ(stamped.st_mtime, 1296705907);                         // 2011-02-03 04:05:07 UTC
  EXPECT_EQ(stamped.st_atime, 1339056550);                         // 2012-06-07 08:09:10 UTC
  EXPECT_EQ(statOf(dir.file("out/dos.txt")).st_mtime, 981173106);  // 2001-02-03 04:05:06 as UTC
}

TEST_F(ZipExtract, GbkNamesWithoutTheUtf8FlagBecomeUtf8Names) {
  // Info-ZIP in the C locale stores the name bytes as they are: here GBK "中文/文.txt".
  ASSERT_EQ(runTool({"/usr/bin/python3", "-c",
                     "import os; os.makedirs(b'gbk/\\xd6\\xd0\\xce\\xc4');"
                     "open(b'gbk/\\xd6\\xd0\\xce\\xc4/\\xce\\xc4.txt', 'wb').write(b'g')"},
                    dir.path()),
            0);
  infoZip(dir.file("gbk"), {"-r"}, dir.file("iz.zip"), {"."}, {"LC_ALL=C"});
  // bsdtar converts UTF-8 names to GBK when asked to.
  dir.write("utf/目录/文件.txt", "b");
  ASSERT_EQ(runTool({"bsdtar", "--format", "zip", "--options", "zip:hdrcharset=CP936", "-cf",
                     dir.file("bsd.zip"), "目录"},
                    dir.file("utf")),
            0);
  const char* flagClear =
      "assert all(i.flag_bits & 0x800 == 0 for i in zipfile.ZipFile(sys.argv[1]).infolist())";
  ASSERT_TRUE(pythonCheck(dir.file("iz.zip"), flagClear));
  ASSERT_TRUE(pythonCheck(dir.file("bsd.zip"), flagClear));

  EXPECT_EQ(zip.extract(dir.file("iz.zip"), dir.file("out")), 1);
  EXPECT_EQ(zip.extract(dir.file("bsd.zip"), dir.file("out")), 1);
  EXPECT_EQ(listTree(dir.file("out")), (Paths{"中文/", "中文/文.txt", "目录/", "目录/文件.txt"}));
}

TEST_F(ZipExtract, Utf8NamesWithAndWithoutTheFlag) {
  dir.write("src/目录/文件.txt", "u");
  infoZip(dir.file("src"), {"-r"}, dir.file("iz.zip"), {"."}, {"LC_ALL=C.UTF-8"});
  pythonZip(dir.file("py.zip"), "z.writestr('名字.txt', 'p')");
  ASSERT_TRUE(pythonCheck(dir.file("iz.zip"),
                          "assert zipfile.ZipFile(sys.argv[1]).infolist()[1].flag_bits & 0x800 "
                          "== 0"));
  ASSERT_TRUE(pythonCheck(dir.file("py.zip"),
                          "assert zipfile.ZipFile(sys.argv[1]).infolist()[0].flag_bits & 0x800"));
  EXPECT_EQ(zip.extract(dir.file("iz.zip"), dir.file("out")), 1);
  EXPECT_EQ(zip.extract(dir.file("py.zip"), dir.file("out")), 1);
  EXPECT_EQ(listTree(dir.file("out")), (Paths{"名字.txt", "目录/", "目录/文件.txt"}));
}

TEST_F(ZipExtract, BackslashesSeparateFoldersToo) {
  pythonZip(dir.file("win.zip"),
            "z.writestr(zipfile.ZipInfo('folder\\\\'), '')\n"
            "z.writestr('folder\\\\file.txt', 'w')");
  EXPECT_EQ(zip.extract(dir.file("win.zip"), dir.file("out")), 1);
  EXPECT_EQ(listTree(dir.file("out")), (Paths{"folder/", "folder/file.txt"}));
}

TEST_F(ZipExtract, WhatIsNoZipArchiveGivesZeroAndAnEmptyTarget) {
  std::string text = dir.write("text.zip", std::string(100, 't'));
  std::string shortZip = dir.write("short.zip", std::string("PK\x03\x04", 4) + "0123456789");
  pythonZip(dir.file("empty-name.zip"), "z.writestr('a', 'a')");
  std::string noName = readWholeFile(dir.file("empty-name.zip"));
  noName[26] = 0;  // the first local header's name length
  dir.write("no-name.zip", noName);
  for (const std::string& archive : {text, shortZip, dir.file("no-name.zip"), dir.path()}) {
    std::string target = dir.file("out-" + std::to_string(archive.size()));
    EXPECT_EQ(zip.extract(archive, target), 0) << archive;
    EXPECT_TRUE(fileExists(target));
    EXPECT_EQ(listDirectory(target), Paths{});
  }
}

TEST_F(ZipExtract, MissingArchiveOrEmptyArgumentsGiveMinusOne) {
  EXPECT_EQ(zip.extract(dir.file("missing.zip"), dir.file("out")), -1);
  EXPECT_FALSE(fileExists(dir.file("out")));
  pythonZip(dir.file("a.zip"), "z.writestr('a', 'a')");
  EXPECT_EQ(zip.extract("", dir.file("out")), -1);
  EXPECT_EQ(zip.extract(dir.file("a.zip"), ""), -1);
  EXPECT_FALSE(fileExists(dir.file("out")));
}

TEST_F(ZipExtract, TargetThatCannotBeCreatedGivesZero) {
  pythonZip(dir.file("a.zip"), "z.writestr('a', 'a')");
  dir.write("file", "in the way");
  EXPECT_EQ(zip.extract(dir.file("a.zip"), dir.file("file/out")), 0);
}

TEST_F(ZipExtract, ReportsProgressAfterEachEntryAndAtTheEnd) {
  pythonZip(dir.file("a.zip"),
            "z.writestr('1', '1')\nz.writestr('2', '2')\nz.writestr('3', '3')\nz.writestr('4', "
            "'4')");
  std::vector<ZipProgress> seen;
  zip.onProgress = [&](const ZipProgress& progress) { seen.push_back(progress); };
  ASSERT_EQ(zip.extract(dir.file("a.zip"), dir.file("out")), 1);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[1].index, 1);
  EXPECT_EQ(seen[1].count, 4);
  EXPECT_EQ(seen[1].percent, 25);
  EXPECT_EQ(seen[1].path, dir.file("out/2"));
  EXPECT_EQ(seen[4].index, 4);
  EXPECT_EQ(seen[4].percent, 100);

  // A handler that cancels stops the run after that entry; it still counts as success.
  seen.clear();
  zip.onProgress = [&](const ZipProgress& progress) {
    seen.push_back(progress);
    if (progress.index == 1) zip.cancel();
  };
  EXPECT_EQ(zip.extract(dir.file("a.zip"), dir.file("stopped")), 1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(listTree(dir.file("stopped")), (Paths{"1", "2"}));

  // Failures report the end too, with nothing counted when the archive was never read.
  seen.clear();
  EXPECT_EQ(zip.extract(dir.file("missing.zip"), dir.file("x")), -1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].count, 0);
}
