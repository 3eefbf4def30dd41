#include "zip/zip_entry.h"

#include <gtest/gtest.h>

TEST(ZipEntryNames, FlaggedAndValidUtf8IsKeptTheRestIsGbk) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";          // 中文
  const std::string gbkLikeUtf8 = "\xC4\xBF\xC2\xBC";  // 目录, also valid UTF-8
  EXPECT_EQ(decodeEntryName("中文", true, UnflaggedNames::Gbk), "中文");
  EXPECT_EQ(decodeEntryName("中文", false, UnflaggedNames::Utf8), "中文");
  EXPECT_EQ(decodeEntryName(gbk, false, UnflaggedNames::Utf8), "中文");
  EXPECT_EQ(decodeEntryName(gbk, true, UnflaggedNames::Utf8), "中文");  // flag lies
  EXPECT_EQ(decodeEntryName(gbkLikeUtf8, false, UnflaggedNames::Gbk), "目录");
  EXPECT_EQ(decodeEntryName("\xFF", false, UnflaggedNames::Gbk), "\xEF\xBF\xBD");
}

TEST(ZipEntryTimes, DosFieldsAndExtendedTimestamps) {
  // 2001-02-03 04:05:06: date (21 << 9 | 2 << 5 | 3), time (4 << 11 | 5 << 5 | 3).
  const uint32_t dos = (21u << 9 | 2u << 5 | 3u) << 16 | (4u << 11 | 5u << 5 | 3u);
  EXPECT_EQ(dosDateTimeToFileTime(dos), unixTimeToFileTime(981173106));
  EXPECT_EQ(dosDateTimeToFileTime(0), 0u);  // month 0 names no instant
  EXPECT_EQ(unixTimeToFileTime(0), kUnixEpochAsFileTime);

  ZipEntryInfo info;
  info.writeTime = info.accessTime = info.creationTime = 7;
  // An unrelated block, then "UT" with modification and access times; a creation time is
  // flagged but cut off by the field's end.
  const std::string extra = std::string("\x01\x00\x02\x00zz", 6) +
                            std::string("UT\x09\x00\x07\x10\x00\x00\x00\x20\x00\x00\x00", 13);
  applyExtendedTimestamp(extra, info);
  EXPECT_EQ(info.writeTime, unixTimeToFileTime(16));
  EXPECT_EQ(info.accessTime, unixTimeToFileTime(32));
  EXPECT_EQ(info.creationTime, 7u);
  applyExtendedTimestamp(std::string("UT\x01\x00", 4), info);  // under 5 bytes: ignored
  EXPECT_EQ(info.writeTime, unixTimeToFileTime(16));
}
