#pragma once
// A Window that records every call and keeps the state the calls leave behind, so tests of
// the core can check what a procedure did to the controls. Work posted to the window thread
// is queued until runPosted() is called on the test's thread (it may be posted from any
// thread).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "shell/window.h"

class RecordingWindow : public Window {
 public:
  RecordingWindow();

  void setText(std::string_view control, std::string_view text) override;
  std::string text(std::string_view control) override;
  void setVisible(std::string_view control, bool visible) override;
  void setEnabled(std::string_view control, bool enabled) override;
  bool isEnabled(std::string_view control) override;
  void setTextColor(std::string_view control, Rgb color) override;
  void setChecked(std::string_view control, bool checked) override;
  bool isChecked(std::string_view control) override;
  void setProgress(std::string_view control, int position) override;
  void messageBox(std::string_view text, BoxOwner owner) override;
  void pumpEvents() override;
  void postToWindowThread(std::function<void()> work) override;

  // Runs the posted work in order, including work posted while it runs. Returns the count.
  int runPosted();
  // Runs posted work until `done()` holds or the limit passes; true when it held.
  bool runPostedUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

  struct Box {
    std::string text;
    BoxOwner owner;
  };
  // Every call as one line: "setText 标签1 最新版", "box main 安装完成", ...
  std::vector<std::string> calls;
  std::vector<Box> boxes;
  std::map<std::string, std::string, std::less<>> texts;
  std::map<std::string, bool, std::less<>> visible;
  std::map<std::string, bool, std::less<>> enabled;
  std::map<std::string, Rgb, std::less<>> colors;
  std::map<std::string, bool, std::less<>> checked;
  std::map<std::string, int, std::less<>> progress;
  int pumps = 0;
  // Called at every pumpEvents, so a test can act "during" a pump (click, quit, ...).
  std::function<void()> onPump;

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
};
