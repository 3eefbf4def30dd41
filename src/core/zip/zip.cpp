#include "zip/zip.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/files.h"
#include "platform/free_space.h"
#include "platform/system_info.h"
#include "platform/unique_fd.h"
#include "zip/entry_decoder.h"
#include "zip/entry_path.h"
#include "zip/target_tree.h"
#include "zip/zip_plan.h"
#include "zip/zip_reader.h"
#include "zip/zip_run.h"

static_assert(ZIP::kBlockSize == EntryDecoder::kInputBlock);

namespace {

constexpr size_t kHeadSize = 32;

bool readFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The archive must open with a local file header whose name is not empty: the signature
// PK 3 4, and a positive signed value at offset 24 (the upper half of the uncompressed size
// followed by the name length).
bool startsWithLocalHeader(const std::string& archive) {
  UniqueFd fd(::open(archive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  char head[kHeadSize];
  if (!fd || !readFully(fd.get(), head, sizeof head)) return false;
  if (head[0] != 'P' || head[1] != 'K' || head[2] != 3 || head[3] != 4) return false;
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(head[24 + k])) << (8 * k);
  return static_cast<int32_t>(value) >= 1;
}

std::string outputPath(const std::string& target, const std::vector<std::string>& path) {
  std::string full = target;
  if (full.back() != '/') full += '/';
  return full + joinComponents(path);
}

SpaceNeed spaceFor(const std::vector<ZipEntryRecord>& entries) {
  SpaceNeed need;
  for (const ZipEntryRecord& entry : entries) need.add(entry.uncompressedSize);
  return need;
}

// The empty file that an entry which cannot be decoded leaves, where nothing is yet.
void leaveEmptyFile(const TargetTree& tree, const PathComponents& path) {
  UniqueFd file = tree.createNew(path);
}

}  // namespace

int ZIP::extract(const std::string& archive, const std::string& target) {
  return extractFiles(archive, target, {});
}

int ZIP::extractFiles(const std::string& archive, const std::string& target,
                      const std::function<bool(const std::string&)>& wanted) {
  bool stopped = false;
  int result = run(archive, target, wanted ? &wanted : nullptr);
  if (result == 1 && cancelRequested_) stopped = true;
  if (!stopped) {
    currentIndex_ = entryCount_;
    raiseProgress();
  }
  entryCount_ = 0;
  currentIndex_ = 0;
  currentPath_.clear();
  cancelRequested_ = false;
  return result;
}

int ZIP::list(const std::string& archive, std::vector<ZipFileInfo>& files) {
  files.clear();
  if (archive.empty() || !fileExists(archive)) return -1;
  ZipArchive zip;
  if (!startsWithLocalHeader(archive) || !zip.open(archive)) return 0;
  const ExtractionPlan plan = planExtraction(zip.entries(), kNameLimit);
  if (plan.stop != ExtractionPlan::Stop::None) return 0;
  for (const std::vector<size_t>& group : plan.fileGroups) {
    const PlannedEntry& last = plan.entries[group.back()];
    files.push_back({joinComponents(last.path), last.record->uncompressedSize, last.record->crc});
  }
  return 1;
}

int ZIP::open(const std::string& archive, const std::string& target, ZipArchive& zip) {
  if (archive.empty() || target.empty() || !fileExists(archive)) return -1;
  if (!createDirectoryPath(target)) return 0;
  if (!startsWithLocalHeader(archive)) return 0;
  if (!zip.open(archive)) return 0;
  return 1;
}

int ZIP::run(const std::string& archive, const std::string& target,
             const std::function<bool(const std::string&)>* wanted) {
  cancelRequested_ = false;
  ZipArchive zip;
  if (int opened = open(archive, target, zip); opened != 1) return opened;
  ExtractionPlan plan = planExtraction(zip.entries(), kNameLimit);
  SpaceNeed need = spaceFor(zip.entries());
  if (wanted != nullptr) {
    std::optional<ExtractionPlan> chosen = selectFiles(plan, *wanted);
    if (!chosen) return 0;
    plan = std::move(*chosen);
    need = {};
    for (const PlannedEntry& entry : plan.entries) need.add(entry.record->uncompressedSize);
  }
  const size_t count = wanted != nullptr ? plan.entries.size() : zip.entries().size();
  entryCount_ = static_cast<int32_t>(
      std::min<size_t>(count, static_cast<size_t>(std::numeric_limits<int32_t>::max())));
  TargetTree tree;
  if (!tree.open(target) || !hasRoomFor(target, need)) return 0;
  std::function<bool(size_t)> afterEntry;
  if (onProgress) {
    afterEntry = [&](size_t index) {
      currentIndex_ = static_cast<int32_t>(index);
      currentPath_ = outputPath(target, plan.entries[index].path);
      raiseProgress();
      return !cancelRequested_;
    };
  }
  const RunOutcome outcome = runExtraction(zip, tree, plan, processorCount(), afterEntry);
  if (outcome == RunOutcome::Stopped) return 1;
  if (outcome == RunOutcome::Failed) return 0;
  if (plan.stop == ExtractionPlan::Stop::Unreadable) leaveEmptyFile(tree, plan.unreadablePath);
  return plan.stop == ExtractionPlan::Stop::None ? 1 : 0;
}

void ZIP::raiseProgress() {
  if (!onProgress) return;
  ZipProgress progress;
  progress.index = currentIndex_;
  progress.count = entryCount_;
  progress.path = currentPath_;
  progress.percent =
      entryCount_ > 0
          ? static_cast<int32_t>(static_cast<int64_t>(currentIndex_) * 100 / entryCount_)
          : 100;
  onProgress(progress);
}
