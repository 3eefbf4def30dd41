#pragma once
// The one way the core's procedures reach the main window.
//
// Controls are addressed by their template names ("按钮_下载三端", "标签1", ...). The Qt
// window implements this interface; tests use a fake that records every call. Every method
// except postToWindowThread must be called on the window thread. postToWindowThread may be
// called from any thread: the work runs later on the window thread, in the order posted.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Who owns a message box: the main window (the usual case) or nobody.
enum class BoxOwner { MainWindow, None };

class Window {
 public:
  virtual ~Window() = default;

  virtual void setText(std::string_view control, std::string_view text) = 0;
  virtual std::string text(std::string_view control) = 0;
  virtual void setVisible(std::string_view control, bool visible) = 0;
  virtual void setEnabled(std::string_view control, bool enabled) = 0;
  virtual bool isEnabled(std::string_view control) = 0;
  virtual void setTextColor(std::string_view control, Rgb color) = 0;
  virtual void setChecked(std::string_view control, bool checked) = 0;
  virtual bool isChecked(std::string_view control) = 0;
  virtual void setProgress(std::string_view control, int position) = 0;

  // Shows a modal message box with the text alone and one OK button; returns when closed.
  virtual void messageBox(std::string_view text, BoxOwner owner) = 0;
  // Handles the window events that are waiting, then returns.
  virtual void pumpEvents() = 0;
  // Runs work on the window thread later, in the order posted. Thread-safe.
  virtual void postToWindowThread(std::function<void()> work) = 0;
};
