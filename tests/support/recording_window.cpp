#include "recording_window.h"

#include "shell/controls.h"

RecordingWindow::RecordingWindow() {
  // The state the window template gives at start.
  for (const char* button : {control::按钮_安装三端, control::按钮_安装功能, control::按钮_安装反挂,
                             control::按钮_工具安装}) {
    enabled[button] = false;
  }
  for (const char* hidden : {control::标签_提示内容, control::进度条1, control::标签_每秒速度}) {
    visible[hidden] = false;
  }
  texts[control::编辑框1] = "24";
  texts[control::编辑框_三端目录] = "D:/Mirserver";
  texts[control::编辑框_功能目录] = "D:/Mirserver";
  texts[control::编辑框_反挂目录] = "D:/Mirserver";
}

void RecordingWindow::setText(std::string_view control, std::string_view text) {
  calls.push_back("setText " + std::string(control) + " " + std::string(text));
  texts[std::string(control)] = std::string(text);
}

std::string RecordingWindow::text(std::string_view control) {
  auto found = texts.find(control);
  return found == texts.end() ? std::string() : found->second;
}

void RecordingWindow::setVisible(std::string_view control, bool value) {
  calls.push_back(std::string(value ? "show " : "hide ") + std::string(control));
  visible[std::string(control)] = value;
}

void RecordingWindow::setEnabled(std::string_view control, bool value) {
  calls.push_back(std::string(value ? "enable " : "disable ") + std::string(control));
  enabled[std::string(control)] = value;
}

bool RecordingWindow::isEnabled(std::string_view control) {
  auto found = enabled.find(control);
  return found == enabled.end() ? true : found->second;
}

void RecordingWindow::setTextColor(std::string_view control, Rgb color) {
  calls.push_back("color " + std::string(control) + " " + std::to_string(color.red) + "," +
                  std::to_string(color.green) + "," + std::to_string(color.blue));
  colors[std::string(control)] = color;
}

void RecordingWindow::setChecked(std::string_view control, bool value) {
  calls.push_back(std::string(value ? "check " : "uncheck ") + std::string(control));
  checked[std::string(control)] = value;
}

bool RecordingWindow::isChecked(std::string_view control) {
  auto found = checked.find(control);
  return found != checked.end() && found->second;
}

void RecordingWindow::setProgress(std::string_view control, int position) {
  calls.push_back("progress " + std::string(control) + " " + std::to_string(position));
  progress[std::string(control)] = position;
}

void RecordingWindow::messageBox(std::string_view text, BoxOwner owner) {
  calls.push_back(std::string(owner == BoxOwner::MainWindow ? "box main " : "box none ") +
                  std::string(text));
  boxes.push_back({std::string(text), owner});
}

void RecordingWindow::pumpEvents() {
  ++pumps;
  if (onPump) onPump();
}

void RecordingWindow::postToWindowThread(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  posted_.notify_all();
}

int RecordingWindow::runPosted() {
  int count = 0;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return count;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
    ++count;
  }
}

bool RecordingWindow::runPostedUntil(const std::function<bool()>& done,
                                     std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    runPosted();
    if (done()) return true;
    std::unique_lock lock(mutex_);
    if (!posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
      lock.unlock();
      runPosted();
      return done();
    }
  }
}
