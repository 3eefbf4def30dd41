#include "install/event_pump.h"

#include "shell/window.h"

namespace {
bool quitSeen = false;
Window* pumpWindow = nullptr;
}  // namespace

void pumpMessages() {
  if (pumpWindow != nullptr) pumpWindow->pumpEvents();
}

void setPumpWindow(Window* window) {
  pumpWindow = window;
}

void noteQuitRequest() {
  quitSeen = true;
}

bool quitRequested() {
  return quitSeen;
}

void clearQuitRequest() {
  quitSeen = false;
}
