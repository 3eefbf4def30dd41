#include "platform/ini.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "temp_dir.h"

TEST(IniRead, NamesMatchWithoutRegardToCaseAndBlanksAreDropped) {
  const std::string text = "; comment\r\n[Other]\r\nAuto=9\r\n [ download ] \r\n  AUTO =  1 \t\r\n";
  EXPECT_EQ(iniReadText(text, "Download", "auto", "0"), "1");
  EXPECT_EQ(iniReadText(text, "other", "auto", "0"), "9");
}

TEST(IniRead, MissingItemsGiveTheDefault) {
  TempDir dir;
  EXPECT_EQ(iniRead(dir.file("none.ini"), "Download", "Auto", "0"), "0");
  std::string file = dir.write("a.ini", "[Download]\nTime=24\n");
  EXPECT_EQ(iniRead(file, "Download", "Auto", "0"), "0");
  EXPECT_EQ(iniRead(file, "Upload", "Time", "x"), "x");
  EXPECT_EQ(iniRead(file, "Download", "Time", "x"), "24");
}

TEST(IniRead, EmptyValueIsNotTheDefault) {
  EXPECT_EQ(iniReadText("[Download]\r\nTime=\r\n", "Download", "Time", "24"), "");
}

TEST(IniRead, LeadingControlCharactersAreSkippedAndEmptyNamesReadEmpty) {
  TempDir dir;
  std::string file = dir.write("a.ini", "[Download]\r\nAuto=1\r\n");
  EXPECT_EQ(iniRead(" \t" + file, "\n Download", "\x01 Auto", "0"), "1");
  EXPECT_EQ(iniRead(file, " ", "Auto", "default"), "");
  EXPECT_EQ(iniRead(file, "Download", "", "default"), "");
  EXPECT_EQ(iniRead("  ", "Download", "Auto", "default"), "");
}

TEST(IniRead, ValuesAreCutAt10239Bytes) {
  std::string value(20000, 'v');
  EXPECT_EQ(iniReadText("[S]\nK=" + value + "\n", "S", "K", "").size(), 10239u);
}

TEST(IniRead, FirstSectionAndKeyWinAndKeysOfLaterSectionsDoNotLeak) {
  const std::string text = "[A]\nK=1\nK=2\n[B]\nJ=3\n[A]\nK=4\n";
  EXPECT_EQ(iniReadText(text, "A", "K", ""), "1");
  EXPECT_EQ(iniReadText(text, "A", "J", "none"), "none");
}

TEST(IniRead, OddTextGivesDefinedResults) {
  EXPECT_EQ(iniReadText("", "S", "K", "d"), "d");
  EXPECT_EQ(iniReadText("[S", "S", "K", "d"), "d");
  EXPECT_EQ(iniReadText("[S]K=1", "S", "K", "d"), "d");
  EXPECT_EQ(iniReadText("[S]\nK=1", "S", "K", "d"), "1");  // no newline at the end
  EXPECT_EQ(iniReadText(std::string("[S]\nK=a\0b\n", 10), "S", "K", "d"), std::string("a\0b", 3));
}

TEST(IniWrite, CreatesFileAndSectionThenReplacesInPlace) {
  TempDir dir;
  std::string file = dir.file("Config.ini");
  ASSERT_TRUE(iniWrite(file, "Download", "Auto", "1"));
  ASSERT_TRUE(iniWrite(file, "Download", "Time", "24"));
  EXPECT_EQ(readWholeFile(file), "[Download]\r\nAuto=1\r\nTime=24\r\n");
  ASSERT_TRUE(iniWrite(file, "download", "AUTO", "0"));
  EXPECT_EQ(readWholeFile(file), "[Download]\r\nAUTO=0\r\nTime=24\r\n");
}

TEST(IniWrite, KeepsOtherSectionsAndAddsNewOnesAtTheEnd) {
  TempDir dir;
  std::string file = dir.write("c.ini", "[A]\nX=1\n\n[B]\nY=2");
  ASSERT_TRUE(iniWrite(file, "A", "Z", "3"));
  ASSERT_TRUE(iniWrite(file, "B", "W", "4"));
  ASSERT_TRUE(iniWrite(file, "C", "V", "5"));
  EXPECT_EQ(readWholeFile(file), "[A]\nX=1\nZ=3\r\n\n[B]\nY=2\r\nW=4\r\n[C]\r\nV=5\r\n");
  EXPECT_EQ(iniRead(file, "a", "z", ""), "3");
  EXPECT_EQ(iniRead(file, "b", "y", ""), "2");
}

TEST(IniWrite, FailsWithoutNamesOrWhenTheFolderIsMissing) {
  TempDir dir;
  EXPECT_FALSE(iniWrite(dir.file("x.ini"), " ", "K", "v"));
  EXPECT_FALSE(iniWrite(dir.file("x.ini"), "S", "", "v"));
  EXPECT_FALSE(iniWrite(dir.file("missing/x.ini"), "S", "K", "v"));
  EXPECT_FALSE(fileExists(dir.file("x.ini")));
}

TEST(IniRead, OnePairOfQuotesAroundAValueIsDropped) {
  const std::string text =
      "[Download]\r\nTime=\"24\"\r\nMD5 = \"abc\" \r\nTwo=\"\"x\"\"\r\nOne=\"x\r\nIn=a\"b\"\r\n"
      "Empty=\"\"\r\n";
  EXPECT_EQ(iniReadText(text, "Download", "Time", ""), "24");
  EXPECT_EQ(iniReadText(text, "Download", "MD5", ""), "abc");
  EXPECT_EQ(iniReadText(text, "Download", "Two", ""), "\"x\"");
  EXPECT_EQ(iniReadText(text, "Download", "One", ""), "\"x");
  EXPECT_EQ(iniReadText(text, "Download", "In", ""), "a\"b\"");
  EXPECT_EQ(iniReadText(text, "Download", "Empty", "d"), "");
  EXPECT_EQ(iniReadText(text, "Download", "Missing", "\"d\""), "\"d\"");  // defaults as given
}

TEST(IniWrite, AByteOrderMarkIsSkippedAndKeptWithEverythingElse) {
  TempDir dir;
  const std::string bom = "\xEF\xBB\xBF";
  std::string file =
      dir.write("Config.ini", bom + "[Download]\r\nAuto=1\r\nTime=5\r\n[Other]\r\nk=v\r\n");
  EXPECT_EQ(iniRead(file, "Download", "Auto", "0"), "1");
  ASSERT_TRUE(iniWrite(file, "Download", "Time", "7"));
  EXPECT_EQ(readWholeFile(file), bom + "[Download]\r\nAuto=1\r\nTime=7\r\n[Other]\r\nk=v\r\n");
}
