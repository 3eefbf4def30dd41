#pragma once
// The process-wide state of the program: created by initGlobals before the window exists,
// freed by freeGlobals after it has closed. Everything here is read and written on the
// window thread only; the download engine's events reach it through
// Window::postToWindowThread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "download/download.h"
#include "transfer/task_param.h"

class Window;

struct PackageEntry {
  std::string url;  // archive URL from the manifest
  std::string md5;  // published digest, 32 lowercase hex digits in a well-formed manifest
};

struct Globals {
  std::string programDir;  // the program's directory followed by exactly one "/"
  int32_t downloadBusy = 0;
  std::unique_ptr<PackageEntry> pluginPackage;
  std::string downloadTargetPath;
  std::string downloadUrl;
  std::unique_ptr<TaskParam> taskParams;
  int32_t processorCount = 0;
  std::unique_ptr<Download> downloadObject;
  int32_t totalBytes = 0;
  int32_t doneBytes = 0;
  uint64_t lastSpeedTick = 0;
  std::string localMd5Server;
  std::string localMd5Plugin;
  std::string localMd5AntiCheat;
  std::string localMd5Tools;
  std::unique_ptr<PackageEntry> serverPackage;
  std::unique_ptr<PackageEntry> antiCheatPackage;
  std::unique_ptr<PackageEntry> toolsPackage;
  uint64_t lastCheckTick = 0;

  // Carried by this port rather than the window template:
  Window* window = nullptr;         // the main window; not owned
  std::thread downloadStarter;      // the starter thread of the last download job
  std::string manifestUrl;          // the built-in manifest URL unless a caller changes it
  std::function<uint64_t()> clock;  // millisecond tick source (monotonic by default)
  // Where programDir comes from; tests and the command line point it elsewhere.
  std::function<std::string()> programDirectorySource;
  long manifestConnectTimeoutMs = 60000;  // manifest fetch: connection limit
  long manifestIdleTimeoutMs = 30000;     // manifest fetch: longest silence
};

// The one instance; null before initGlobals and after freeGlobals.
extern Globals* globals;

// The manifest URL this program was built with.
const char* builtInManifestUrl();

// Creates every global with its default (the TaskParam defaults included). Calling it again
// without freeGlobals first replaces nothing and returns.
void initGlobals();
// Stops a running download (bounded wait for its threads), then frees every global in
// order. Safe when some members were never set and when called twice.
void freeGlobals();
// Runs before the main window is created; does nothing.
int startupRoutine();
// Shows "运行时出错!" with the failed allocation's size and ends the process with -1.
[[noreturn]] void fatalAllocationFailure(std::size_t bytes);
// Current tick from globals->clock, or the monotonic clock when there are no globals.
uint64_t currentTick();
