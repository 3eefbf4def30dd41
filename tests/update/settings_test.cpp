#include "update/settings.h"

#include <gtest/gtest.h>

#include "nginx_server.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "temp_dir.h"

namespace {

constexpr std::chrono::seconds kSettleLimit{20};

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    globals->programDirectorySource = [this] { return program.path(); };
    globals->clock = [this] { return now; };
    site.write("xiazaiqi/xiazai.txt", "[反挂]\r\n");  // a manifest that stops at 三端
    globals->manifestUrl = server.url("/xiazaiqi/xiazai.txt");
  }
  void TearDown() override { freeGlobals(globals); }

  std::string config() const { return program.file("Config.ini"); }
  // Runs the window's posted work until the update check that is running has ended.
  void settle(RecordingWindow& on) {
    ASSERT_TRUE(on.runPostedUntil([this] { return !globals->checkRunning; }, kSettleLimit));
  }
  void created(RecordingWindow& on) {
    onMainWindowCreated(*globals);
    settle(on);
  }
  void created() { created(window); }
  void tick() {
    onCheckTimer(*globals);
    settle(window);
  }
  // How many update checks ran: each one clears the status line first.
  int checks() const {
    int count = 0;
    for (const std::string& call : window.calls) count += call == "setText 透明标签1 ";
    return count;
  }

  uint64_t now = 1000;
  TempDir program;
  TempDir site;
  NginxServer server{site.path()};
  RecordingWindow window;
  std::unique_ptr<Globals> globals;
};

}  // namespace

TEST_F(Settings, CreatedWithoutConfigLeavesBoxUntickedAnd24AndWritesNothing) {
  created();
  EXPECT_EQ(globals->programDir, program.path() + "/");
  EXPECT_GE(globals->processorCount, 1);
  EXPECT_FALSE(window.checked[control::选择框_检查更新]);
  EXPECT_EQ(window.texts[control::编辑框1], "24");
  EXPECT_EQ(globals->lastCheckTick, 1000u);
  EXPECT_EQ(checks(), 1);
  EXPECT_EQ(window.texts[control::透明标签1], "三端MD5 错误");
  EXPECT_FALSE(fileExists(config()));
}

TEST_F(Settings, CreatedRestoresAutoOnlyForExactlyOne) {
  program.write("Config.ini", "[download]\r\nauto=1\r\ntime=100\r\n");
  created();
  EXPECT_TRUE(window.checked[control::选择框_检查更新]);
  EXPECT_EQ(window.texts[control::编辑框1], "100");
  RecordingWindow other;
  globals->window = &other;
  program.write("Config.ini", "[Download]\r\nAuto=yes\r\nTime=\r\n");
  created(other);
  EXPECT_FALSE(other.checked[control::选择框_检查更新]);
  EXPECT_EQ(other.texts[control::编辑框1], "");
}

TEST_F(Settings, ProgramDirHasExactlyOneSeparator) {
  globals->programDirectorySource = [] { return std::string("/"); };
  created();
  EXPECT_EQ(globals->programDir, "/");
  globals->programDirectorySource = [this] { return program.path() + "//"; };
  created();
  EXPECT_EQ(globals->programDir, program.path() + "/");
}

TEST_F(Settings, SaveWritesBothKeysAndRestartsTheIntervalOnlyWhenTicked) {
  created();
  now = 5000;
  window.setChecked(control::选择框_检查更新, true);
  window.setText(control::编辑框1, "100");
  saveAutoCheckSettings(*globals);
  EXPECT_EQ(readWholeFile(config()), "[Download]\r\nAuto=1\r\nTime=100\r\n");
  EXPECT_EQ(globals->lastCheckTick, 5000u);
  now = 9000;
  window.setChecked(control::选择框_检查更新, false);
  window.setText(control::编辑框1, " 7 ");
  saveAutoCheckSettings(*globals);
  EXPECT_EQ(iniRead(config(), "Download", "Auto", ""), "0");
  EXPECT_EQ(iniRead(config(), "Download", "Time", ""), "7");
  EXPECT_EQ(globals->lastCheckTick, 5000u);
}

TEST_F(Settings, TimerChecksOnlyOnceStrictlyMoreThanTheIntervalHasPassed) {
  created();
  window.setChecked(control::选择框_检查更新, true);
  window.setText(control::编辑框1, "1");
  now = 1000 + 3600000;
  tick();
  EXPECT_EQ(checks(), 1);
  now = 1000 + 3600001;
  tick();
  EXPECT_EQ(checks(), 2);
  EXPECT_EQ(globals->lastCheckTick, now);
  tick();
  EXPECT_EQ(checks(), 2);  // the interval restarted
}

TEST_F(Settings, TimerDoesNothingUnticked) {
  created();
  now = 1000000000;
  tick();
  EXPECT_EQ(checks(), 1);
}

TEST_F(Settings, NonNumericOrZeroIntervalChecksAtEveryTick) {
  created();
  window.setChecked(control::选择框_检查更新, true);
  for (const char* interval : {"", "abc", "0", "-3"}) {
    window.setText(control::编辑框1, interval);
    int before = checks();
    now += 1;
    tick();
    EXPECT_EQ(checks(), before + 1) << interval;
  }
}

TEST(LeadingNumber, ReadsTheLeadingDecimal) {
  EXPECT_EQ(leadingNumber("24"), 24);
  EXPECT_EQ(leadingNumber("12h"), 12);
  EXPECT_EQ(leadingNumber(" 5"), 5);
  EXPECT_EQ(leadingNumber("h12"), 0);
  EXPECT_EQ(leadingNumber(""), 0);
  EXPECT_EQ(leadingNumber("-2"), -2);
}

TEST_F(Settings, ServerRootsAreSavedAndRestoredBoxByBox) {
  for (const char* box :
       {control::编辑框_三端目录, control::编辑框_功能目录, control::编辑框_反挂目录}) {
    window.setText(box, "D:/Mirserver");  // the window's own text
  }
  created();
  saveServerRoots(*globals);  // nothing changed: nothing is written
  EXPECT_FALSE(fileExists(config()));
  window.setText(control::编辑框_三端目录, "/srv/a\n/srv/b\n");
  window.setText(control::编辑框_功能目录, "");
  window.setText(control::编辑框_反挂目录, "/srv/c\r\n\r\n/srv/d");
  saveServerRoots(*globals);
  EXPECT_EQ(iniRead(config(), "Roots", "Server", "?"), "/srv/a|/srv/b");
  EXPECT_EQ(iniRead(config(), "Roots", "Plugin", "?"), "");
  EXPECT_EQ(iniRead(config(), "Roots", "AntiCheat", "?"), "/srv/c||/srv/d");
  // Saved once: leaving a box again without a change does not write it again.
  iniWrite(config(), "Roots", "Server", "/elsewhere");
  saveServerRoots(*globals);
  EXPECT_EQ(iniRead(config(), "Roots", "Server", "?"), "/elsewhere");
  iniWrite(config(), "Roots", "Server", "/srv/a|/srv/b");

  RecordingWindow next;
  next.setText(control::编辑框_功能目录, "D:/Mirserver");
  globals->window = &next;
  created(next);
  EXPECT_EQ(next.texts[control::编辑框_三端目录], "/srv/a\n/srv/b");
  EXPECT_EQ(next.texts[control::编辑框_功能目录], "");
  EXPECT_EQ(next.texts[control::编辑框_反挂目录], "/srv/c\n\n/srv/d");
  globals->window = &window;
}

TEST_F(Settings, TheSavedVendorManifestReplacesTheBuiltInOneOnly) {
  program.write("Config.ini", "[Vendor]\r\nManifest=" + server.url("/vendor.txt") + "\r\n");
  const std::string chosen = globals->manifestUrl;
  created();
  EXPECT_EQ(globals->manifestUrl, chosen);  // a URL the front end chose stays
  globals->manifestUrl = builtInManifestUrl();
  created();
  EXPECT_EQ(globals->manifestUrl, server.url("/vendor.txt"));
  EXPECT_EQ(savedManifestUrl(program.path() + "/"), server.url("/vendor.txt"));
}

TEST_F(Settings, WithoutSavedRootsTheBoxesKeepTheirText) {
  program.write("Config.ini", "[Download]\r\nAuto=0\r\n[Roots]\r\nPlugin=/srv/p\r\n");
  window.setText(control::编辑框_三端目录, "D:/Mirserver");
  created();
  EXPECT_EQ(window.texts[control::编辑框_三端目录], "D:/Mirserver");
  EXPECT_EQ(window.texts[control::编辑框_功能目录], "/srv/p");
}
