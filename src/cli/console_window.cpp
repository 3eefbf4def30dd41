#include "console_window.h"

#include <unistd.h>

#include "shell/controls.h"

namespace {

const char* packageOfMark(std::string_view control) {
  if (control == control::标签1) return "三端";
  if (control == control::标签2) return "功能";
  if (control == control::标签3) return "反挂";
  if (control == control::标签5) return "工具";
  return nullptr;
}

}  // namespace

ConsoleWindow::ConsoleWindow(std::FILE* out, bool progress)
    : out_(out), terminal_(progress && ::isatty(2) == 1) {
  texts_[control::编辑框1] = "24";
}

void ConsoleWindow::setText(std::string_view control, std::string_view text) {
  texts_[std::string(control)] = std::string(text);
  if (const char* package = packageOfMark(control);
      package != nullptr && echoCheck && out_ != nullptr) {
    std::fprintf(out_, "%s: %.*s\n", package, static_cast<int>(text.size()), text.data());
  }
  if (control == control::标签_每秒速度) drawProgress();
}

std::string ConsoleWindow::text(std::string_view control) {
  auto found = texts_.find(control);
  return found == texts_.end() ? std::string() : found->second;
}

void ConsoleWindow::setVisible(std::string_view control, bool visible) {
  if (control != control::进度条1) return;
  if (progressShown_ && !visible && terminal_) std::fprintf(stderr, "\n");
  progressShown_ = visible;
}

void ConsoleWindow::setEnabled(std::string_view control, bool enabled) {
  flags_["enabled:" + std::string(control)] = enabled;
}

bool ConsoleWindow::isEnabled(std::string_view control) {
  auto found = flags_.find("enabled:" + std::string(control));
  return found == flags_.end() || found->second;
}

void ConsoleWindow::setChecked(std::string_view control, bool checked) {
  flags_["checked:" + std::string(control)] = checked;
}

bool ConsoleWindow::isChecked(std::string_view control) {
  auto found = flags_.find("checked:" + std::string(control));
  return found != flags_.end() && found->second;
}

void ConsoleWindow::setProgress(std::string_view control, int position) {
  if (control != control::进度条1) return;
  if (position != progress_) {
    progress_ = position;
    drawProgress();
  }
}

void ConsoleWindow::drawProgress() {
  if (!terminal_ || !progressShown_) return;
  std::fprintf(stderr, "\r%s %3d%%  %s   ", text(control::标签_提示内容).c_str(), progress_,
               text(control::标签_每秒速度).c_str());
}

void ConsoleWindow::messageBox(std::string_view text, BoxOwner) {
  messages.emplace_back(text);
  const bool success = text == successMessage;
  std::FILE* stream = success ? out_ : stderr;
  if (stream == nullptr || (success && !echoSuccess)) return;
  std::fprintf(stream, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void ConsoleWindow::pumpEvents() {}

void ConsoleWindow::postToWindowThread(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  posted_.notify_all();
}

bool ConsoleWindow::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) break;
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      work();
    }
    if (done()) return true;
    std::unique_lock lock(mutex_);
    if (!posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) return done();
  }
}
