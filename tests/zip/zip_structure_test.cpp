// Archives whose structure lies (a short entry count, entries sharing data, sizes beyond
// the free space) are refused before anything is written; zip64 archives of small files
// extract; the parallel extraction ends as writing the entries in order would.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "platform/files.h"
#include "small_tmpfs.h"
#include "temp_dir.h"
#include "zip/zip.h"

using Paths = std::vector<std::string>;

namespace {

// Python helpers for patching archives: `data` is the archive, `eocd` its end record.
const char kPatchPrelude[] = R"(
import struct
data = bytearray(open(sys.argv[1], 'rb').read())
eocd = data.rfind(b'PK\x05\x06')
def save(suffix):
    open(sys.argv[1] + suffix, 'wb').write(data)
)";

// "f007.txt" for 7.
std::string fileName(int k) {
  char name[16];
  std::snprintf(name, sizeof name, "f%03d.txt", k);
  return name;
}

}  // namespace

class ZipStructure : public ::testing::Test {
 protected:
  void patch(const std::string& archive, const std::string& body) {
    ASSERT_TRUE(pythonCheck(archive, kPatchPrelude + body)) << body;
  }
  // Extracts into a fresh folder and expects 0 with that folder left empty.
  void expectRefused(const std::string& archive) {
    const std::string target = dir.file("refused-" + std::to_string(refusals++));
    EXPECT_EQ(zip.extract(archive, target), 0) << archive;
    EXPECT_EQ(listTree(target), Paths{}) << archive;
  }

  TempDir dir;
  ZIP zip;
  int refusals = 0;
};

TEST_F(ZipStructure, AnEndRecordThatDisagreesWithTheDirectoryIsRefused) {
  const std::string archive = dir.file("four.zip");
  pythonZip(archive,
            "for n in '1234': z.writestr(n + '.txt', n * 100)\n"
            "z.comment = b'an archive comment'");
  EXPECT_EQ(zip.extract(archive, dir.file("whole")), 1);
  EXPECT_EQ(listTree(dir.file("whole")), (Paths{"1.txt", "2.txt", "3.txt", "4.txt"}));

  patch(archive,
        "struct.pack_into('<HH', data, eocd + 8, 2, 2); save('.count')\n"
        "data = bytearray(open(sys.argv[1], 'rb').read())\n"
        "size, = struct.unpack_from('<I', data, eocd + 12)\n"
        "struct.pack_into('<I', data, eocd + 12, size - 46 - 5); save('.size')\n"
        "data = bytearray(open(sys.argv[1], 'rb').read())\n"
        "offset, = struct.unpack_from('<I', data, eocd + 16)\n"
        "struct.pack_into('<I', data, eocd + 16, offset + 1); save('.offset')\n"
        "data = bytearray(open(sys.argv[1], 'rb').read())\n"
        "struct.pack_into('<HH', data, eocd + 4, 1, 1); save('.disk')");
  for (const char* suffix : {".count", ".size", ".offset", ".disk"}) {
    expectRefused(archive + suffix);
  }
}

TEST_F(ZipStructure, CentralRecordsSharingOneStreamAreRefused) {
  // Five central records for one 4 MiB stream of zeros: a small archive that would write
  // 20 MiB. The local header is shared, so every record keeps a five-byte name.
  const std::string archive = dir.file("bomb.zip");
  pythonZip(archive, "z.writestr('a.bin', bytes(4 << 20), zipfile.ZIP_DEFLATED)");
  patch(archive, R"(
cd_size, cd_offset = struct.unpack_from('<II', data, eocd + 12)
record = bytes(data[cd_offset:cd_offset + cd_size])
records = record + b''.join(record.replace(b'a.bin', n.encode()) for n in ['b.bin', 'c.bin', 'd.bin', 'e.bin'])
tail = bytearray(data[eocd:])
struct.pack_into('<HHII', tail, 8, 5, 5, len(records), cd_offset)
data = data[:cd_offset] + records + tail
save('.overlap')
)");
  EXPECT_LT(std::filesystem::file_size(archive + ".overlap"), 16u * 1024);
  expectRefused(archive + ".overlap");

  // Data that run into the central directory.
  patch(archive,
        "at = data.find(b'PK\\x01\\x02')\n"
        "size, = struct.unpack_from('<I', data, at + 20)\n"
        "struct.pack_into('<I', data, at + 20, size + 40); save('.long')");
  expectRefused(archive + ".long");
}

TEST_F(ZipStructure, AnArchiveLargerThanTheFreeSpaceIsRefusedBeforeWriting) {
  SmallTmpfs small("1m");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  pythonZip(dir.file("big.zip"),
            "z.writestr('first.txt', 'small')\n"
            "z.writestr('big.bin', os.urandom(2 << 20))");
  pythonZip(dir.file("fits.zip"), "z.writestr('a.txt', 'a' * 100000)");
  // Declares 3 GiB for a 10-byte entry: refused without decoding anything.
  pythonZip(dir.file("lies.zip"), "z.writestr('a.txt', 'a' * 10)");
  patch(dir.file("lies.zip"),
        "at = data.find(b'PK\\x01\\x02')\n"
        "struct.pack_into('<I', data, at + 24, 3 << 30); save('.size')");

  EXPECT_EQ(zip.extract(dir.file("big.zip"), small.path() + "/big"), 0);
  EXPECT_EQ(listTree(small.path()), Paths{"big/"});
  EXPECT_EQ(zip.extract(dir.file("lies.zip.size"), small.path() + "/lies"), 0);
  EXPECT_EQ(listTree(small.path() + "/lies"), Paths{});
  EXPECT_EQ(zip.extract(dir.file("fits.zip"), small.path() + "/fits"), 1);
  EXPECT_EQ(readWholeFile(small.path() + "/fits/a.txt"), std::string(100000, 'a'));
}

TEST_F(ZipStructure, Zip64ArchivesOfSmallFilesExtract) {
  dir.write("src/big.bin", patternBytes(3 * ZIP::kBlockSize + 7));
  dir.write("src/sub/text.txt", std::string(70000, 't'));
  dir.write("src/sub/empty.txt", "");
  infoZip(dir.file("src"), {"-r", "-fz"}, dir.file("fz.zip"), {"."});
  infoZip(dir.file("src"), {"-r", "-fz", "-0"}, dir.file("fz-stored.zip"), {"."});
  ASSERT_TRUE(pythonCheck(dir.file("fz.zip"), R"(
data = open(sys.argv[1], 'rb').read()
assert data.rfind(b'PK\x06\x06') > 0, 'no zip64 end record'
assert b'\x01\x00\x10\x00' in data, 'no zip64 extra field in a local header'
)"));
  for (const char* name : {"fz.zip", "fz-stored.zip"}) {
    const std::string target = dir.file(std::string("out-") + name);
    EXPECT_EQ(zip.extract(dir.file(name), target), 1) << name;
    EXPECT_EQ(listTree(target), (Paths{"big.bin", "sub/", "sub/empty.txt", "sub/text.txt"}));
    EXPECT_EQ(readWholeFile(target + "/big.bin"), patternBytes(3 * ZIP::kBlockSize + 7));
    EXPECT_EQ(readWholeFile(target + "/sub/text.txt"), std::string(70000, 't'));
  }
  // A zip64 field that the record calls for but the extra field lacks is damage.
  patch(dir.file("fz.zip"),
        "at = data.find(b'PK\\x01\\x02')\n"
        "extra = at + 46 + struct.unpack_from('<H', data, at + 28)[0]\n"
        "z64 = data.find(b'\\x01\\x00\\x08\\x00', extra)\n"
        "data[z64] = 0x99; save('.no64')");
  expectRefused(dir.file("fz.zip.no64"));
}

TEST_F(ZipStructure, NamesThatDifferOnlyInCaseAreOneFileAndTheLaterEntryWins) {
  pythonZip(dir.file("case.zip"),
            "z.writestr(zipfile.ZipInfo('Mir200/'), '')\n"
            "z.writestr('Mir200/A.dll', 'first A')\n"
            "z.writestr('MIR200/a.DLL', 'second A')\n"
            "z.writestr('mir200/b.dll', 'first b')\n"
            "z.writestr('Mir200/B.DLL', 'second b')\n"
            "z.writestr(zipfile.ZipInfo('mir200/Sub/'), '')\n"
            "z.writestr('MIR200/SUB/x.txt', 'x')\n"
            "z.writestr('same.txt', 'one')\n"
            "z.writestr('same.txt', 'two')");
  EXPECT_EQ(zip.extract(dir.file("case.zip"), dir.file("out")), 1);
  EXPECT_EQ(listTree(dir.file("out")), (Paths{"Mir200/", "Mir200/A.dll", "Mir200/Sub/",
                                              "Mir200/Sub/x.txt", "Mir200/b.dll", "same.txt"}));
  EXPECT_EQ(readWholeFile(dir.file("out/Mir200/A.dll")), "second A");
  EXPECT_EQ(readWholeFile(dir.file("out/Mir200/b.dll")), "second b");
  EXPECT_EQ(readWholeFile(dir.file("out/same.txt")), "two");
}

TEST_F(ZipStructure, AFailureMidwayLeavesExactlyTheEntriesBeforeIt) {
  // 300 files; entry 200 is stored with a wrong byte; a folder entry follows it.
  pythonZip(dir.file("many.zip"),
            "for k in range(300):\n"
            "    if k == 250: z.writestr(zipfile.ZipInfo('late/'), '')\n"
            "    data = ('entry %03d ' % k).encode() * (50 + k)\n"
            "    z.writestr('f%03d.txt' % k, data, zipfile.ZIP_STORED if k == 200 else "
            "zipfile.ZIP_DEFLATED)");
  patch(dir.file("many.zip"),
        "at = data.find(b'entry 200 ')\n"
        "data[at] = ord('E'); save('.bad')");
  const std::string target = dir.file("out");
  dir.write("out/f100.txt", "old 100");
  dir.write("out/f250.txt", "old 250");
  EXPECT_EQ(zip.extract(dir.file("many.zip.bad"), target), 0);
  Paths expected;
  for (int k = 0; k < 200; ++k) expected.push_back(fileName(k));
  expected.push_back("f250.txt");
  EXPECT_EQ(listTree(target), expected);
  EXPECT_NE(readWholeFile(target + "/f100.txt"), "old 100");
  EXPECT_EQ(readWholeFile(target + "/f250.txt"), "old 250");

  // A handler that stops after entry 120: progress came in order, nothing after it.
  std::vector<int32_t> seen;
  zip.onProgress = [&](const ZipProgress& progress) {
    seen.push_back(progress.index);
    if (progress.index == 120) zip.cancel();
  };
  EXPECT_EQ(zip.extract(dir.file("many.zip"), dir.file("stopped")), 1);
  ASSERT_EQ(seen.size(), 121u);
  for (int32_t k = 0; k <= 120; ++k) EXPECT_EQ(seen[k], k);
  EXPECT_EQ(listTree(dir.file("stopped")).size(), 121u);
  EXPECT_TRUE(fileExists(dir.file("stopped/f120.txt")));
  EXPECT_FALSE(fileExists(dir.file("stopped/f121.txt")));
}

TEST_F(ZipStructure, ARelativeTargetGetsTheFoldersOfItsFilesAndLosesThoseAfterAFailure) {
  pythonZip(dir.file("nested.zip"),
            "z.writestr('a/one.txt', 'one', zipfile.ZIP_STORED)\n"
            "z.writestr('b/deep/two.txt', 'two', zipfile.ZIP_STORED)\n"
            "z.writestr('c/three.txt', 'three', zipfile.ZIP_STORED)");
  patch(dir.file("nested.zip"),
        "at = data.find(b'two', data.find(b'two.txt') + 7)\n"
        "data[at] = ord('T'); save('.bad')");
  const std::string previous = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const int whole = zip.extract(dir.file("nested.zip"), "rel/whole");
  const int bad = zip.extract(dir.file("nested.zip.bad"), "rel/bad");
  ASSERT_EQ(::chdir(previous.c_str()), 0);

  EXPECT_EQ(whole, 1);
  EXPECT_EQ(listTree(dir.file("rel/whole")),
            (Paths{"a/", "a/one.txt", "b/", "b/deep/", "b/deep/two.txt", "c/", "c/three.txt"}));
  EXPECT_EQ(bad, 0);
  // The folders made for the failed entry and the one after it are gone again.
  EXPECT_EQ(listTree(dir.file("rel/bad")), (Paths{"a/", "a/one.txt"}));
}
