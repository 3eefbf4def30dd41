#include "platform/ini.h"

#include <gtest/gtest.h>

TEST(IniText, ReadsValueIgnoringCase) {
  EXPECT_EQ(iniReadText("[Download]\r\nAuto=1\r\n", "download", "AUTO", "0"), "1");
}
