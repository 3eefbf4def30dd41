#include "shell/globals.h"

#include <gtest/gtest.h>

TEST(Globals, StartWithTheirDefaults) {
  std::unique_ptr<Globals> globals;
  initGlobals(globals);
  ASSERT_NE(globals, nullptr);
  EXPECT_EQ(globals->downloadBusy, 0);
  EXPECT_EQ(globals->processorCount, 0);
  EXPECT_TRUE(globals->programDir.empty());
  EXPECT_EQ(globals->package(PackageId::Server).manifest.url, "");
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
  freeGlobals(globals);
  EXPECT_EQ(globals, nullptr);
}

TEST(Globals, FreeingIsSafeWhateverWasSet) {
  std::unique_ptr<Globals> globals;
  freeGlobals(globals);  // never created
  initGlobals(globals);
  globals->taskParams.reset();  // members that are gone are skipped
  globals->downloadObject.reset();
  freeGlobals(globals);
  freeGlobals(globals);
  EXPECT_EQ(globals, nullptr);
  initGlobals(globals);
  Globals* first = globals.get();
  initGlobals(globals);  // a second call keeps the first table
  EXPECT_EQ(globals.get(), first);
  freeGlobals(globals);
}

TEST(Globals, ManifestUrlKeepsTheFixedPath) {
  std::string url = builtInManifestUrl();
  EXPECT_EQ(url.substr(url.size() - 20), "/xiazaiqi/xiazai.txt");
}

TEST(Packages, AreFoundByNameOrAliasInWindowOrder) {
  EXPECT_EQ(findPackage("三端"), &packageInfo(PackageId::Server));
  EXPECT_EQ(findPackage("anticheat"), &packageInfo(PackageId::AntiCheat));
  EXPECT_EQ(findPackage("其他"), nullptr);  // a manifest section, not a package name
  EXPECT_EQ(findPackage(""), nullptr);
  for (size_t k = 0; k < kPackageCount; ++k) EXPECT_EQ(indexOf(packageTable()[k].id), k);
}
