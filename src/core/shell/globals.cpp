#include "shell/globals.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/system_info.h"

const char* builtInManifestUrl() {
  return DL_MANIFEST_URL;
}

void Globals::setProgramDir(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  programDir = dir == "/" ? dir : dir + "/";
}

uint64_t Globals::now() const {
  return clock ? clock() : monotonicMilliseconds();
}

void initGlobals(std::unique_ptr<Globals>& table) {
  if (table) return;
  auto g = std::make_unique<Globals>();
  g->taskParams = std::make_unique<TaskParam>();
  g->downloadObject = std::make_unique<Download>();
  g->manifestUrl = builtInManifestUrl();
  g->clock = monotonicMilliseconds;
  g->programDirectorySource = programDirectory;
  table = std::move(g);
}

void freeGlobals(std::unique_ptr<Globals>& table) {
  if (!table) return;
  Globals& g = *table;
  g.checkCancel = true;  // the check's fetch ends within about a second
  if (g.checkThread.joinable()) g.checkThread.join();
  g.checkRunning = false;
  if (g.downloadStarter.joinable()) g.downloadStarter.join();  // it starts the download
  // A running download is stopped, and its threads are waited for, before anything else
  // goes, so no late event meets freed state.
  if (g.downloadObject) {
    g.downloadObject->stop();
    g.downloadObject->waitUntilIdle(std::chrono::seconds(10));
    g.downloadObject.reset();
  }
  g.programDir.clear();
  g.downloadTargetPath.clear();
  g.downloadUrl.clear();
  g.taskParams.reset();
  for (PackageState& package : g.packages) package = PackageState{};
  table.reset();
}

int startupRoutine() {
  return 0;
}

void fatalAllocationFailure(std::size_t bytes) {
  std::fprintf(stderr, "运行时出错!\n分配 %zu 字节内存失败!\n", bytes);
  std::exit(-1);
}
