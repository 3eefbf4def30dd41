#include "install/plugin_list.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "temp_dir.h"

namespace {
const std::vector<std::string> kFunctionPlugin{"QZVM2PlusLoad.dll"};
const std::vector<std::string> kServerEnds{"M2LinkerX86.dll", "QZVM2PlusLoad.dll"};
}  // namespace

TEST(PluginList, KeepsOtherLinesByteForByteAndRegistersMissingNames) {
  EXPECT_EQ(rewritePluginList("qzvm2plusload.dll", kFunctionPlugin),
            "qzvm2plusload.dll\r\nQZVM2PlusLoad.dll\r\n");
  EXPECT_EQ(rewritePluginList("TKM2Plugin.dll\r\nRBVKExtendX86.dll\r\nrbvkextendx64.DLL\r\n"
                              "JXQ.dll\r\nqzvm2.dll\r\nQZVM2Load.dll",
                              kServerEnds),
            "M2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n");
  // No trimming: a blank before a removal name keeps the line.
  EXPECT_EQ(rewritePluginList(" jxq.dll\r\n插件\xD6\xD0.dll\r\n", {}),
            " jxq.dll\r\n插件\xD6\xD0.dll\r\n");
  EXPECT_EQ(rewritePluginList("", kServerEnds), std::nullopt);
}

TEST(PluginList, EditsTheListBelowARootAndNeverCreatesOne) {
  TempDir dir;
  std::string list =
      dir.write("root/Mir200/plugList.TXT", std::string("jxq.dll\r\nA.dll\0tail", 20));
  updatePluginList(dir.file("root"), kFunctionPlugin);
  EXPECT_EQ(readWholeFile(list), "A.dll\r\nQZVM2PlusLoad.dll\r\n");

  dir.write("empty/mir200/PlugList.txt", "");
  updatePluginList(dir.file("empty/"), kFunctionPlugin);
  EXPECT_EQ(readWholeFile(dir.file("empty/mir200/PlugList.txt")), "");
  updatePluginList(dir.file("none/"), kFunctionPlugin);
  EXPECT_FALSE(fileExists(dir.file("none/mir200/PlugList.txt")));
}
