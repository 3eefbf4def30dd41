// Archives that try to write outside the target, or whose data are damaged, must not be
// reported as extracted, and must leave everything outside the target alone.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "zip/zip.h"

using Paths = std::vector<std::string>;

class ZipSafety : public ::testing::Test {
 protected:
  // Extracts into base/target and checks that base holds nothing else afterwards.
  int extractAlone(const std::string& archive) {
    int result = zip.extract(archive, dir.file("base/target"));
    EXPECT_EQ(listDirectory(dir.file("base")), Paths{"target"}) << archive;
    return result;
  }

  TempDir dir;
  ZIP zip;
};

TEST_F(ZipSafety, EscapingNamesAreRefused) {
  const std::string absolute = dir.file("base/absolute.txt");
  const std::vector<std::string> names = {
      "../up.txt", "a/../../up.txt", "..\\\\up.txt", "\\\\abs.txt",
      absolute,    "C:/drive.txt",   "c:drive.txt",  "ok/..\\\\..\\\\up.txt"};
  for (size_t k = 0; k < names.size(); ++k) {
    std::string archive = dir.file("escape" + std::to_string(k) + ".zip");
    pythonZip(archive, "z.writestr('first.txt', 'f')\nz.writestr('" + names[k] + "', 'x')");
    EXPECT_EQ(extractAlone(archive), 0) << names[k];
    EXPECT_EQ(listTree(dir.file("base/target")), Paths{"first.txt"}) << names[k];
  }
}

TEST_F(ZipSafety, NothingIsWrittenThroughALinkAnEarlierEntryDescribes) {
  // bsdtar stores a real symbolic link; Python then appends an entry through it.
  ::mkdir(dir.file("base").c_str(), 0755);
  dir.write("src/plain.txt", "p");
  ASSERT_EQ(::symlink("../../base", dir.file("src/link").c_str()), 0);
  ASSERT_EQ(runTool({"bsdtar", "--format", "zip", "-cf", dir.file("link.zip"), "plain.txt", "link"},
                    dir.file("src")),
            0);
  pythonZip(dir.file("link.zip"), "z.writestr('link/evil.txt', 'evil')", true);
  EXPECT_EQ(extractAlone(dir.file("link.zip")), 0);
  // The link entry became a plain file holding the link's text.
  EXPECT_EQ(readWholeFile(dir.file("base/target/link")), "../../base");
}

TEST_F(ZipSafety, LinksAlreadyInTheTargetAreNeverFollowed) {
  std::string outside = dir.write("outside/keep.txt", "keep");
  std::string target = dir.file("target");
  ::mkdir(target.c_str(), 0755);
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), (target + "/dir-link").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), (target + "/file-link").c_str()), 0);
  pythonZip(dir.file("through.zip"), "z.writestr('dir-link/keep.txt', 'overwritten')");
  pythonZip(dir.file("onto.zip"), "z.writestr('file-link', 'replaced')");
  pythonZip(dir.file("dir.zip"), "z.writestr(zipfile.ZipInfo('dir-link/new/'), '')");

  EXPECT_EQ(zip.extract(dir.file("through.zip"), target), 0);
  EXPECT_EQ(zip.extract(dir.file("dir.zip"), target), 0);
  EXPECT_EQ(zip.extract(dir.file("onto.zip"), target), 1);
  EXPECT_EQ(readWholeFile(outside), "keep");
  EXPECT_EQ(listTree(dir.file("outside")), Paths{"keep.txt"});
  struct stat info {};
  ASSERT_EQ(::lstat((target + "/file-link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(readWholeFile(target + "/file-link"), "replaced");
}

TEST_F(ZipSafety, DataThatFailTheirChecksumGiveZero) {
  pythonZip(dir.file("good.zip"),
            "z.writestr('a.txt', 'alpha', zipfile.ZIP_STORED)\n"
            "z.writestr('b.txt', 'bravo' * 100, zipfile.ZIP_DEFLATED)");
  std::string bytes = readWholeFile(dir.file("good.zip"));
  // Stored data decode whatever they hold: flip one byte of "alpha".
  std::string flipped = bytes;
  size_t alpha = flipped.find("alpha");
  ASSERT_NE(alpha, std::string::npos);
  flipped[alpha] = 'A';
  dir.write("flipped.zip", flipped);
  EXPECT_EQ(zip.extract(dir.file("flipped.zip"), dir.file("out1")), 0);
  EXPECT_FALSE(fileExists(dir.file("out1/b.txt")));  // the run ended at the bad entry

  // A checksum in the central directory that no longer matches the deflated data.
  ASSERT_TRUE(pythonCheck(dir.file("good.zip"), R"(
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.rfind(b'PK\x01\x02')  # central record of b.txt
data[at + 16] ^= 0xFF
open(sys.argv[1] + '.crc', 'wb').write(data)
)"));
  EXPECT_EQ(zip.extract(dir.file("good.zip.crc"), dir.file("out2")), 0);
  EXPECT_EQ(zip.extract(dir.file("good.zip"), dir.file("out3")), 1);
}

TEST_F(ZipSafety, DamagedCentralDirectoryAndUnreadableEntriesGiveZero) {
  pythonZip(dir.file("three.zip"),
            "z.writestr('1.txt', 'one')\nz.writestr('2.txt', 'two')\nz.writestr('3.txt', "
            "'three')");
  ASSERT_TRUE(pythonCheck(dir.file("three.zip"), R"(
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find(b'PK\x01\x02')
at = data.find(b'PK\x01\x02', at + 4)  # second central record
data[at] = 0
open(sys.argv[1] + '.damaged', 'wb').write(data)
)"));
  EXPECT_EQ(zip.extract(dir.file("three.zip.damaged"), dir.file("damaged")), 0);

  pythonZip(dir.file("bzip2.zip"), "z.writestr('b.txt', 'b' * 1000, zipfile.ZIP_BZIP2)");
  EXPECT_EQ(zip.extract(dir.file("bzip2.zip"), dir.file("bzip2")), 0);
  EXPECT_EQ(readWholeFile(dir.file("bzip2/b.txt")), "");  // created, then left empty

  dir.write("src/secret.txt", "secret");
  infoZip(dir.file("src"), {"-P", "password"}, dir.file("encrypted.zip"), {"secret.txt"});
  EXPECT_EQ(zip.extract(dir.file("encrypted.zip"), dir.file("encrypted")), 0);
}

TEST_F(ZipSafety, OverlongAndNulNamesAreRefused) {
  pythonZip(dir.file("long.zip"), "z.writestr('d/' * 129 + 'f', 'x')");  // 259 bytes: fine
  pythonZip(dir.file("longer.zip"), "z.writestr('d/' * 129 + 'ff', 'x')");
  std::string folders;
  for (int k = 0; k < 129; ++k) folders += "d/";
  std::filesystem::create_directories(dir.file("out/") + folders);
  EXPECT_EQ(zip.extract(dir.file("long.zip"), dir.file("out")), 1);
  EXPECT_EQ(zip.extract(dir.file("longer.zip"), dir.file("out")), 0);
  EXPECT_TRUE(fileExists(dir.file("out/") + folders + "f"));
  EXPECT_FALSE(fileExists(dir.file("out/") + folders + "ff"));
  pythonZip(dir.file("nul.zip"), "z.writestr('a.txt#.exe', 'x')");
  ASSERT_TRUE(pythonCheck(dir.file("nul.zip"), R"(
data = open(sys.argv[1], 'rb').read().replace(b'a.txt#.exe', b'a.txt\x00.exe')
open(sys.argv[1], 'wb').write(data)
)"));
  EXPECT_EQ(zip.extract(dir.file("nul.zip"), dir.file("nul")), 0);
  EXPECT_EQ(listDirectory(dir.file("nul")), Paths{});
}
