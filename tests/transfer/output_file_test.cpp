// The output file: exclusive creation, bounds, writes after close, empty files; the digest of
// what is written to it.
#include "transfer/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/md5.h"
#include "temp_dir.h"
#include "transfer/prefix_digest.h"
#include "transfer/segment_table.h"

TEST(OutputFile, WritesLandInTheFileAndStopAtClose) {
  TempDir dir;
  std::string path = dir.file("out.bin");
  {
    OutputFile file;
    ASSERT_TRUE(file.create(path, 10));
    const uint8_t bytes[] = {'a', 'b', 'c'};
    EXPECT_TRUE(file.write(7, bytes, 3));
    EXPECT_FALSE(file.write(8, bytes, 3));  // past the end
    EXPECT_FALSE(file.write(-1, bytes, 1));
    file.close();
    EXPECT_FALSE(file.write(0, bytes, 1));  // refused, not a fault
    EXPECT_TRUE(file.wasOpened());
    EXPECT_FALSE(file.isOpen());
  }
  EXPECT_EQ(readWholeFile(path), std::string(7, '\0') + "abc");
  OutputFile again;
  EXPECT_TRUE(again.openExisting(path, 10));
  OutputFile other;  // the file is claimed while `again` has it open
  OutputFileError why;
  EXPECT_FALSE(other.openExisting(path, 10, &why));
  EXPECT_EQ(why.problem, ClaimProblem::Busy);
  EXPECT_EQ(why.holder, ::getpid());
  EXPECT_FALSE(other.create(path, 10, {}, &why));
  EXPECT_EQ(why.problem, ClaimProblem::Busy);
  again.close();
  EXPECT_TRUE(other.create(path, 4));  // an old file, once free, is replaced by a new one
  EXPECT_EQ(readWholeFile(path), std::string(4, '\0'));
}

TEST(OutputFile, EmptyFileIsCreatedEmpty) {
  TempDir dir;
  OutputFile file;
  ASSERT_TRUE(file.create(dir.file("empty"), 0));
  EXPECT_TRUE(file.write(0, nullptr, 0));
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("empty").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST(OutputFile, RefusesSizesBeyondThirtyTwoBits) {
  TempDir dir;
  OutputFile file;
  EXPECT_FALSE(file.create(dir.file("huge"), int64_t{1} << 32));
  EXPECT_FALSE(fileExists(dir.file("huge")));
}

// The running digest of the written prefix: bytes written out of order are read back once the
// prefix reaches them, and bytes that stop counting as written (a rewind of the table) are
// hashed anew from what the file then holds, never from what it held before.
TEST(PrefixDigest, HashesTheFileAsWrittenInAnyOrderAndStartsOverAfterARewind) {
  TempDir dir;
  const std::string first = patternBytes(300000, 1);
  const std::string second = patternBytes(300000, 2);
  OutputFile file;
  ASSERT_TRUE(file.create(dir.file("p.part"), 300000));
  SegmentTable table;
  table.layout(300000, 3);
  PrefixDigest digest(table, file, true);
  auto write = [&](const std::string& bytes, int32_t index) {
    Segment segment = table.at(index);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + segment.start;
    ASSERT_TRUE(file.write(segment.start, data, static_cast<size_t>(segment.length)));
    table.commit(index, segment.length);
    digest.advance(segment.start, data, static_cast<size_t>(segment.length));
  };
  write(first, 2);
  write(first, 0);
  EXPECT_FALSE(digest.finish(300000).has_value());  // segment 1 is missing
  write(first, 1);
  std::optional<ContentDigests> whole = digest.finish(300000);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->md5, md5OfBytes(first));

  write(first, 0);          // the digest runs over the whole first content again
  table.layout(300000, 3);  // then everything counts as unwritten
  for (int32_t index : {1, 2, 0}) write(second, index);
  whole = digest.finish(300000);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->md5, md5OfBytes(second));
}
