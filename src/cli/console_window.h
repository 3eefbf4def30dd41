#pragma once
// The Window interface on a terminal, for the operator's commands: controls keep their state
// in memory, and what the window would show becomes printed lines in the system's texts.
// Version marks go to `out` (nowhere when it is null); message boxes, which tell of something
// that went wrong, go to standard error (but for the one text the command names as its
// success, which goes to `out`). The status line is not printed: the commands tell its
// failures with their URL and reason. The progress line is drawn on standard error when it
// is a terminal and `progress` allows it. Work posted from other threads runs when the
// command's thread calls runUntil.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "shell/window.h"

class ConsoleWindow : public Window {
 public:
  explicit ConsoleWindow(std::FILE* out = stdout, bool progress = true);

  void setText(std::string_view control, std::string_view text) override;
  std::string text(std::string_view control) override;
  void setVisible(std::string_view control, bool visible) override;
  void setEnabled(std::string_view control, bool enabled) override;
  bool isEnabled(std::string_view control) override;
  void setTextColor(std::string_view, Rgb) override {}
  void setChecked(std::string_view control, bool checked) override;
  bool isChecked(std::string_view control) override;
  void setProgress(std::string_view control, int position) override;
  void messageBox(std::string_view text, BoxOwner owner) override;
  void pumpEvents() override;
  void postToWindowThread(std::function<void()> work) override;

  // Runs posted work until `done()` holds; false when `limit` passed first.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

  // Every message box text, in order.
  std::vector<std::string> messages;
  // Print the version marks as they change.
  bool echoCheck = true;
  // The message box that tells of success ("安装完成"): printed on `out` when echoSuccess.
  std::string successMessage;
  bool echoSuccess = true;

 private:
  void drawProgress();

  std::FILE* out_;
  bool terminal_;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<std::string, bool, std::less<>> flags_;
  int progress_ = 0;
  bool progressShown_ = false;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> queue_;
};
