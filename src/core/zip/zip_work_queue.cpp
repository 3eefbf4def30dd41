#include "zip/zip_work_queue.h"

#include <string>
#include <unordered_map>

namespace {

constexpr size_t kChunkGroups = 16;
constexpr uint64_t kChunkBytes = 1 << 20;

std::string folderKey(const PathComponents& path) {
  std::string key;
  for (size_t k = 0; k + 1 < path.size(); ++k) key += path[k] + '/';
  return key;
}

}  // namespace

FolderWorkQueue::FolderWorkQueue(const ExtractionPlan& plan) : plan_(plan) {
  std::unordered_map<std::string, size_t> folderIndex;
  for (size_t group = 0; group < plan.fileGroups.size(); ++group) {
    const PathComponents& path = plan.entries[plan.fileGroups[group].front()].path;
    auto [at, inserted] = folderIndex.try_emplace(folderKey(path), folders_.size());
    if (inserted) folders_.emplace_back();
    folders_[at->second].groups.push_back(group);
  }
  for (size_t k = 0; k < folders_.size(); ++k) open_.push_back(k);
}

// At most one folder per worker is busy, so the search passes only those.
std::list<size_t>::iterator FolderWorkQueue::pick() {
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (!folders_[*it].busy) return it;
  }
  return open_.begin();
}

bool FolderWorkQueue::next(Chunk& chunk) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (chunk.folder != kNone) folders_[chunk.folder].busy = false;
  chunk.groups.clear();
  chunk.folder = kNone;
  if (open_.empty()) return false;
  const auto picked = pick();
  chunk.folder = *picked;
  Folder& folder = folders_[chunk.folder];
  folder.busy = true;
  uint64_t bytes = 0;
  while (folder.taken < folder.groups.size() && chunk.groups.size() < kChunkGroups &&
         bytes < kChunkBytes) {
    const size_t group = folder.groups[folder.taken++];
    for (size_t index : plan_.fileGroups[group]) {
      bytes += plan_.entries[index].record->compressedSize;
    }
    chunk.groups.push_back(group);
  }
  if (folder.taken == folder.groups.size()) open_.erase(picked);
  return true;
}
