#include "install/event_pump.h"

#include "shell/globals.h"
#include "shell/window.h"

namespace {
bool quitSeen = false;
}  // namespace

void pumpMessages() {
  if (globals != nullptr && globals->window != nullptr) globals->window->pumpEvents();
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
