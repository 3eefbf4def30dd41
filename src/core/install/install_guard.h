#pragma once
// Keeps install jobs from nesting. A job pumps window events while it lists files, so an
// install button could otherwise start a second job in the middle of the first one (which
// would remove the tree being listed).
//
// While a guard that started() lives, the four install buttons and the three rollback buttons
// are disabled and no other guard starts (a rollback runs under a guard too). When it goes, each
// button is enabled again if it was enabled before the job or was enabled by someone else meanwhile
// (a download finishing during the job). It also forgets an earlier quit request when the job
// starts, and points the event pump at `window` for the job's length. Window thread only.
class Window;

class InstallJobGuard {
 public:
  explicit InstallJobGuard(Window& window);
  ~InstallJobGuard();
  InstallJobGuard(const InstallJobGuard&) = delete;
  InstallJobGuard& operator=(const InstallJobGuard&) = delete;

  // False when another job was already running (this one must not run).
  bool started() const { return started_; }

 private:
  Window& window_;
  bool started_ = false;
  bool wasEnabled_[7] = {};
};

// True while an install job runs.
bool installJobRunning();
