#pragma once
// Scripted walks through the real window that save a picture at every step.
#include <QString>
#include <string>

class MainWindow;
struct Globals;

struct TourOptions {
  std::string manifest;
  std::string dir;
  std::string out = ".";
  std::string missingRoot;
  std::string serverRoot;
};

// Binds every event of the window as the program does.
void wireWindow(MainWindow& window, Globals& g);

class Tour {
 public:
  Tour(MainWindow& window, Globals& g, std::string out)
      : window_(window), g_(g), out_(std::move(out)) {}
  // Both tab pages; 0 when both pictures were saved.
  int pages();
  // The road of the server package; 0 when it ended installed with "安装完成".
  int road(const TourOptions& options);

 private:
  bool save(const QString& name);
  bool waitFor(const std::function<bool()>& condition, int timeoutMs);

  MainWindow& window_;
  Globals& g_;
  std::string out_;
  int failures_ = 0;
};
