#pragma once
// The Window interface over the Qt main window: controls are found by object name.
// Message boxes are real modal QMessageBoxes. Work posted from other threads is queued to
// this object's thread (the window thread) and dropped if this object is gone.
#include <QObject>
#include <QWidget>

#include "shell/window.h"

class QtWindow : public QObject, public Window {
  Q_OBJECT

 public:
  explicit QtWindow(QWidget* mainWindow);

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

 private:
  QWidget* find(std::string_view control) const;

  QWidget* mainWindow_;
};
