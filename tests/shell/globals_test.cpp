#include "shell/globals.h"

#include <gtest/gtest.h>

TEST(Globals, StartWithTheirDefaults) {
  initGlobals();
  ASSERT_NE(globals, nullptr);
  EXPECT_EQ(globals->downloadBusy, 0);
  EXPECT_EQ(globals->processorCount, 0);
  EXPECT_TRUE(globals->programDir.empty());
  EXPECT_EQ(globals->serverPackage->url, "");
  EXPECT_EQ(globals->manifestUrl, builtInManifestUrl());
  const TaskParam& p = *globals->taskParams;
  EXPECT_EQ(p.flags, 1);
  EXPECT_EQ(p.userName, "anonymous");
  EXPECT_EQ(p.password->size(), 17u);
  EXPECT_EQ(p.connectionCount, 1);
  EXPECT_EQ(p.connectTimeout, 20000);
  EXPECT_EQ(p.exitWait, 1000);
  EXPECT_EQ(p.receiveBlockSize, 20480);
  EXPECT_EQ(p.sendBlockSize, 1024);
  EXPECT_EQ(p.ftpTransferType, 1);
  EXPECT_EQ(p.binaryExtensions, ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm");
  EXPECT_FALSE(p.proxy.has_value());
  EXPECT_FALSE(p.referer.has_value());  // absent: derived from the URL
  EXPECT_TRUE(p.url.has_value());
  freeGlobals();
  EXPECT_EQ(globals, nullptr);
}

TEST(Globals, FreeingIsSafeWhateverWasSet) {
  freeGlobals();  // never created
  initGlobals();
  globals->taskParams.reset();  // members that are gone are skipped
  globals->downloadObject.reset();
  freeGlobals();
  freeGlobals();
  EXPECT_EQ(globals, nullptr);
  initGlobals();
  Globals* first = globals;
  initGlobals();  // a second call keeps the first table
  EXPECT_EQ(globals, first);
  freeGlobals();
}

TEST(Globals, ManifestUrlKeepsTheFixedPath) {
  std::string url = builtInManifestUrl();
  EXPECT_EQ(url.substr(url.size() - 20), "/xiazaiqi/xiazai.txt");
}
