#pragma once
// Hands an extraction's file groups (zip_plan.h) to the worker threads in small chunks,
// keeping the threads in different folders where it can: the file system serializes the
// creation of files in one folder, so two threads creating files side by side mostly wait
// for each other. Chunks stay small (a few groups, about a mebibyte of data) so the
// threads finish together. Thread-safe.
#include <cstddef>
#include <list>
#include <mutex>
#include <vector>

#include "zip/zip_plan.h"

class FolderWorkQueue {
 public:
  explicit FolderWorkQueue(const ExtractionPlan& plan);

  // A worker's claim: groups of one folder, as indexes into plan.fileGroups.
  struct Chunk {
    size_t folder = kNone;  // the folder the worker holds; pass the chunk back to next()
    std::vector<size_t> groups;
  };
  // Releases the worker's previous chunk and gives its next one: from the first folder in
  // archive order that has groups left and no worker in it, else from any folder with
  // groups left. False when every group has been handed out.
  bool next(Chunk& chunk);

  static constexpr size_t kNone = static_cast<size_t>(-1);

 private:
  struct Folder {
    std::vector<size_t> groups;
    size_t taken = 0;
    bool busy = false;
  };
  std::list<size_t>::iterator pick();

  const ExtractionPlan& plan_;
  std::mutex mutex_;
  std::vector<Folder> folders_;  // in order of their first group
  std::list<size_t> open_;       // the folders with groups left, in that order
};
