#include "install/plugin_list.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "temp_dir.h"

namespace {
const std::vector<std::string> kFunctionPlugin{"QZVM2PlusLoad.dll"};
const std::vector<std::string> kServerEnds{"M2LinkerX86.dll", "QZVM2PlusLoad.dll"};
}  // namespace

TEST(PluginList, RewritesInTheListsOwnLineEndingAndLeavesWhatIsNoText) {
  using Result = PluginListEdit::Result;
  struct Case {
    std::string stored;
    std::vector<std::string> names;
    Result result;
    std::string text;
  };
  const Case cases[] = {
      {"A.dll\r\n\r\njxq.dll\r\nQZVM2PlusLoad.dll\r\n", kFunctionPlugin, Result::Rewritten,
       "A.dll\r\nQZVM2PlusLoad.dll\r\n"},
      {"TKM2Plugin.dll\r\nRBVKExtendX86.dll\r\nrbvkextendx64.DLL\r\nJXQ.dll\r\nqzvm2.dll\r\n"
       "QZVM2Load.dll",
       kServerEnds, Result::Rewritten, "M2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n"},
      // A list without CRLF keeps LF, with no blank line and no CRLF added.
      {"A.dll\n\njxq.dll\nB.dll", kServerEnds, Result::Rewritten,
       "A.dll\nB.dll\nM2LinkerX86.dll\nQZVM2PlusLoad.dll\n"},
      // With a CRLF anywhere, lines end at CRLF; a bare LF inside a line stays.
      {"A.dll\nB.dll\r\n", kFunctionPlugin, Result::Rewritten,
       "A.dll\nB.dll\r\nQZVM2PlusLoad.dll\r\n"},
      // Already listed in another letter case or between blanks: kept as stored, not added.
      {" qzvm2plusload.dll\t\r\nm2linkerx86.DLL", kServerEnds, Result::Rewritten,
       " qzvm2plusload.dll\t\r\nm2linkerx86.DLL\r\n"},
      // The removal list compares whole lines: a blank keeps the line.
      {" jxq.dll\r\n插件\xD6\xD0.dll\r\n",
       {},
       Result::Rewritten,
       " jxq.dll\r\n插件\xD6\xD0.dll\r\n"},
      {"", kServerEnds, Result::LeftAlone, ""},
      {std::string("A.dll\r\n\0tail\r\n", 13), kServerEnds, Result::NotText, ""},
      // UTF-16 with a byte-order mark, here of one CJK character (so without a NUL).
      {"\xFF\xFE\x2D\x4E", kServerEnds, Result::NotText, ""},
      {"\xFE\xFF\x4E\x2D", kServerEnds, Result::NotText, ""},
  };
  for (const Case& c : cases) {
    const PluginListEdit edit = rewritePluginList(c.stored, c.names);
    EXPECT_EQ(edit.result, c.result) << c.stored;
    EXPECT_EQ(edit.text, c.text) << c.stored;
  }
}

TEST(PluginList, EditsTheListBelowARootAndNeverCreatesOne) {
  TempDir dir;
  std::string list = dir.write("root/Mir200/plugList.TXT", "jxq.dll\r\nA.dll\r\n");
  EXPECT_TRUE(updatePluginList(dir.file("root"), kFunctionPlugin));
  EXPECT_EQ(readWholeFile(list), "A.dll\r\nQZVM2PlusLoad.dll\r\n");

  dir.write("empty/mir200/PlugList.txt", "");
  EXPECT_TRUE(updatePluginList(dir.file("empty/"), kFunctionPlugin));
  EXPECT_EQ(readWholeFile(dir.file("empty/mir200/PlugList.txt")), "");
  EXPECT_TRUE(updatePluginList(dir.file("none/"), kFunctionPlugin));
  EXPECT_FALSE(fileExists(dir.file("none/mir200/PlugList.txt")));
}
