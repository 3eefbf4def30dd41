#include "install/install_guard.h"

#include <iterator>

#include "install/event_pump.h"
#include "shell/controls.h"
#include "shell/window.h"

namespace {

bool jobRunning = false;

const char* const kInstallButtons[] = {
    control::按钮_安装三端, control::按钮_安装功能, control::按钮_安装反挂, control::按钮_工具安装,
    control::按钮_回滚三端, control::按钮_回滚功能, control::按钮_回滚反挂};
constexpr int kButtons = static_cast<int>(std::size(kInstallButtons));

}  // namespace

InstallJobGuard::InstallJobGuard(Window& window) : window_(window) {
  if (jobRunning) return;
  jobRunning = true;
  started_ = true;
  clearQuitRequest();
  setPumpWindow(&window_);
  for (int k = 0; k < kButtons; ++k) {
    wasEnabled_[k] = window_.isEnabled(kInstallButtons[k]);
    window_.setEnabled(kInstallButtons[k], false);
  }
}

InstallJobGuard::~InstallJobGuard() {
  if (!started_) return;
  jobRunning = false;
  setPumpWindow(nullptr);
  for (int k = 0; k < kButtons; ++k) {
    const bool enableNow = wasEnabled_[k] || window_.isEnabled(kInstallButtons[k]);
    window_.setEnabled(kInstallButtons[k], enableNow);
  }
}

bool installJobRunning() {
  return jobRunning;
}
