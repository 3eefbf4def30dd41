// The central directory read from an archive's last bytes held in memory (a delta's fetched
// end) agrees with the one read from the file, asks for more only when the directory begins
// before the held bytes, and refuses held bytes that are cut or lie.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "archive_tools.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "zip/entry_spans.h"
#include "zip/zip_directory.h"

namespace {

constexpr uint64_t kTail = 65536 + 22;

// Info-ZIP archive of `count` files with long names, so that the directory outgrows the tail
// when `count` is large; zip64 when `zip64` (Python's zipfile, forced).
std::string makeArchive(const TempDir& dir, int count, bool zip64) {
  for (int k = 0; k < count; ++k) {
    char name[96];
    std::snprintf(name, sizeof name, "t/a-rather-long-folder-name/and-a-long-file-name-%05d.txt",
                  k);
    dir.write(name, patternBytes(200 + 13 * k % 700, k));
  }
  std::string archive = dir.file(zip64 ? "z64.zip" : "a.zip");
  if (zip64) {
    pythonZip(archive, R"(
for root, _, files in sorted(os.walk('t')):
    for f in sorted(files):
        p = os.path.join(root, f)
        with z.open(p, 'w', force_zip64=True) as out:
            out.write(open(p, 'rb').read())
)");
  } else {
    infoZip(dir.path(), {"-q", "-r", "-6"}, archive, {"t"});
  }
  return archive;
}

CentralDirectory fromFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::optional<CentralDirectory> directory = readCentralDirectory(fd, readWholeFile(path).size());
  ::close(fd);
  EXPECT_TRUE(directory.has_value());
  return directory.value_or(CentralDirectory{});
}

void expectSame(const CentralDirectory& a, const CentralDirectory& b) {
  ASSERT_EQ(a.entries.size(), b.entries.size());
  EXPECT_EQ(a.offset, b.offset);
  EXPECT_EQ(a.size, b.size);
  for (size_t k = 0; k < a.entries.size(); ++k) {
    EXPECT_EQ(a.entries[k].rawName, b.entries[k].rawName);
    EXPECT_EQ(a.entries[k].crc, b.entries[k].crc);
    EXPECT_EQ(a.entries[k].compressedSize, b.entries[k].compressedSize);
    EXPECT_EQ(a.entries[k].localHeaderOffset, b.entries[k].localHeaderOffset);
  }
}

}  // namespace

TEST(RemoteDirectory, HeldBytesGiveTheFilesDirectoryOrAskForMore) {
  TempDir dir;
  struct Case {
    const char* what;
    int count;
    bool zip64;
  };
  const Case cases[] = {{"a small directory inside the tail", 40, false},
                        {"a directory that begins before the tail", 1500, false},
                        {"zip64 records and end record", 60, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = makeArchive(dir, c.count, c.zip64);
    std::string bytes = readWholeFile(path);
    const uint64_t size = bytes.size();
    const uint64_t start = size > kTail ? size - kTail : 0;
    ArchiveTail tail{std::string_view(bytes).substr(start), start, size};
    std::optional<DirectoryExtent> extent = locateCentralDirectory(tail);
    ASSERT_TRUE(extent.has_value());
    CentralDirectory expected = fromFile(path);
    EXPECT_EQ(extent->offset, expected.offset);
    if (extent->offset < start) {
      // Not held yet: nothing is parsed, then the bytes from the directory on are enough.
      EXPECT_FALSE(parseCentralDirectory(tail).has_value());
      tail = ArchiveTail{std::string_view(bytes).substr(extent->offset), extent->offset, size};
    }
    std::optional<CentralDirectory> parsed = parseCentralDirectory(tail);
    ASSERT_TRUE(parsed.has_value());
    expectSame(*parsed, expected);
    std::optional<std::vector<EntrySpan>> spans = entrySpans(*parsed);
    ASSERT_TRUE(spans.has_value());
    uint64_t covered = 0;
    for (const EntrySpan& span : *spans) covered += span.length();
    EXPECT_EQ(covered, parsed->offset);  // the entries tile the archive up to the directory

    // Held bytes that are cut, or claim another start or size, are refused.
    std::string_view held = tail.bytes;
    EXPECT_FALSE(parseCentralDirectory({held.substr(1), tail.start, size}).has_value());
    EXPECT_FALSE(parseCentralDirectory({held.substr(0, held.size() - 1), tail.start, size}));
    EXPECT_FALSE(locateCentralDirectory({held, tail.start + 1, size}).has_value());
  }
}

TEST(RemoteDirectory, EntrySpansRefuseSharedOrImpossibleOffsets) {
  CentralDirectory directory;
  directory.offset = 1000;
  ZipEntryRecord a;
  a.rawName = "a";
  a.compressedSize = 100;
  ZipEntryRecord b = a;
  b.rawName = "b";
  b.localHeaderOffset = 500;
  directory.entries = {a, b};
  ASSERT_TRUE(entrySpans(directory).has_value());
  EXPECT_EQ((*entrySpans(directory))[0].end, 500u);
  EXPECT_EQ((*entrySpans(directory))[1].end, 1000u);

  directory.entries[1].localHeaderOffset = 0;  // shares a's header
  EXPECT_FALSE(entrySpans(directory).has_value());
  directory.entries[1].localHeaderOffset = 1000;  // at the directory
  EXPECT_FALSE(entrySpans(directory).has_value());
  directory.entries[1].localHeaderOffset = 100;  // a's data would not fit before it
  EXPECT_FALSE(entrySpans(directory).has_value());
}
