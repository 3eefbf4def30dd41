#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/md5.h"
#include "temp_dir.h"

TEST(Md5, KnownDigestsOfBytesAndFiles) {
  EXPECT_EQ(md5OfBytes(""), kEmptyMd5);
  EXPECT_EQ(md5OfBytes("abc"), "900150983cd24fb0d6963f7d28e17f72");
  TempDir dir;
  EXPECT_EQ(md5OfFile(dir.write("abc", "abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5OfFile(dir.write("empty", "")), kEmptyMd5);
  EXPECT_EQ(md5OfFile(dir.file("missing")), kEmptyMd5);
  EXPECT_EQ(md5OfFile(dir.path()), kEmptyMd5);  // a folder is unreadable as a file
}

TEST(Md5, StreamedFileEqualsWholeBytesAcrossChunkBoundaries) {
  TempDir dir;
  for (size_t size : {65535u, 65536u, 65537u, 3u * 65536u + 17u}) {
    std::string bytes = patternBytes(size);
    EXPECT_EQ(md5OfFile(dir.write("f", bytes)), md5OfBytes(bytes)) << size;
  }
}

TEST(Codepage, GbkIsDecodedAndUtf8KeptAsItIs) {
  const std::string gbk = "\xB7\xB4\xB9\xD2";  // 反挂 in GBK
  EXPECT_EQ(gbkToUtf8(gbk), "反挂");
  EXPECT_EQ(utf8ToGbk("反挂"), gbk);
  EXPECT_EQ(manifestBodyToUtf8(gbk), "反挂");
  EXPECT_EQ(manifestBodyToUtf8("反挂"), "反挂");
  EXPECT_EQ(manifestBodyToUtf8("\xEF\xBB\xBF反挂"), "反挂");
}

TEST(Codepage, InvalidBytesGiveReplacementsNotFailures) {
  EXPECT_TRUE(isValidUtf8("plain ascii"));
  EXPECT_FALSE(isValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(isValidUtf8("\xE5\x8F"));      // cut short
  EXPECT_EQ(gbkToUtf8("a\xFF"
                      "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(gbkToUtf8("a\xB7"), "a\xEF\xBF\xBD");  // lead byte at the end
}
