// The output file: exclusive creation, bounds, writes after close, empty files.
#include "transfer/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "temp_dir.h"

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
