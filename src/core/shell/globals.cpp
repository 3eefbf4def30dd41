#include "shell/globals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/system_info.h"

Globals* globals = nullptr;

const char* builtInManifestUrl() {
  return DL_MANIFEST_URL;
}

void initGlobals() {
  if (globals != nullptr) return;
  auto* g = new Globals;
  g->pluginPackage = std::make_unique<PackageEntry>();
  g->taskParams = std::make_unique<TaskParam>();
  g->downloadObject = std::make_unique<Download>();
  g->serverPackage = std::make_unique<PackageEntry>();
  g->antiCheatPackage = std::make_unique<PackageEntry>();
  g->toolsPackage = std::make_unique<PackageEntry>();
  g->manifestUrl = builtInManifestUrl();
  g->clock = monotonicMilliseconds;
  g->programDirectorySource = programDirectory;
  globals = g;
}

void freeGlobals() {
  Globals* g = globals;
  if (g == nullptr) return;
  if (g->downloadStarter.joinable()) g->downloadStarter.join();  // it starts the download
  // The order of release follows the table; a running download is stopped, and its threads
  // are waited for, before the object goes, so no late event meets freed state.
  g->programDir.clear();
  g->pluginPackage.reset();
  g->downloadTargetPath.clear();
  g->downloadUrl.clear();
  g->taskParams.reset();
  if (g->downloadObject) {
    g->downloadObject->stop();
    g->downloadObject->waitUntilIdle(std::chrono::seconds(10));
    g->downloadObject.reset();
  }
  g->localMd5Server.clear();
  g->localMd5Plugin.clear();
  g->localMd5AntiCheat.clear();
  g->localMd5Tools.clear();
  g->serverPackage.reset();
  g->antiCheatPackage.reset();
  g->toolsPackage.reset();
  globals = nullptr;
  delete g;
}

int startupRoutine() {
  return 0;
}

void fatalAllocationFailure(std::size_t bytes) {
  std::fprintf(stderr, "运行时出错!\n分配 %zu 字节内存失败!\n", bytes);
  std::exit(-1);
}

uint64_t currentTick() {
  if (globals != nullptr && globals->clock) return globals->clock();
  return monotonicMilliseconds();
}
