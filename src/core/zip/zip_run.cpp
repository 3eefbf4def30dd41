#include "zip/zip_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "zip/entry_decoder.h"
#include "zip/zip_work_queue.h"

namespace {

enum class State : uint8_t { Pending, Written, Failed, Skipped };

// How a written file reached its path.
struct FileOutcome {
  bool temporary = false;  // the data wait in `name` beside the path, to be renamed over it
  std::string name;
};

timespec toTimespec(uint64_t fileTime) {
  timespec value{};
  if (fileTime == 0) {
    value.tv_nsec = UTIME_OMIT;
    return value;
  }
  const int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochAsFileTime);
  int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  value.tv_sec = static_cast<time_t>(seconds);
  value.tv_nsec = static_cast<long>(rest * 100);
  return value;
}

void setFileTimes(int fd, const ZipEntryInfo& info) {
  const timespec times[2] = {toTimespec(info.accessTime), toTimespec(info.writeTime)};
  ::futimens(fd, times);
}

// Every extracted file ends up readable and writable by its owner ("normal"). Files are
// created with 0666 less the umask, so all of them need the same: the first file tells
// whether the umask takes the owner's bits away (rarely), and only then are they all
// changed.
class NormalFiles {
 public:
  void makeNormal(int fd) {
    int needed = needed_.load(std::memory_order_relaxed);
    struct stat state {};
    if (needed == 0 || ::fstat(fd, &state) != 0) return;
    const bool lacking = (state.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR);
    if (needed == kUnknown) needed_.store(lacking ? 1 : 0, std::memory_order_relaxed);
    if (lacking) ::fchmod(fd, (state.st_mode & 07777) | S_IRUSR | S_IWUSR);
  }

 private:
  static constexpr int kUnknown = -1;
  std::atomic<int> needed_{kUnknown};
};

// Joins the threads when it goes.
class Workers {
 public:
  ~Workers() {
    for (std::thread& thread : threads_) thread.join();
  }
  // False when the system refuses another thread.
  bool start(std::function<void()> work) {
    try {
      threads_.emplace_back(std::move(work));
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }
  size_t size() const { return threads_.size(); }
  void join() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

 private:
  std::vector<std::thread> threads_;
};

class ExtractionRun {
 public:
  ExtractionRun(const ZipArchive& archive, const TargetTree& tree, const ExtractionPlan& plan)
      : archive_(archive),
        tree_(tree),
        plan_(plan),
        states_(plan.entries.size(), State::Pending),
        outcomes_(plan.entries.size()),
        limit_(plan.entries.size()),
        abortAt_(plan.entries.size()),
        queue_(plan) {}

  RunOutcome run(int threads, const std::function<bool(size_t)>& afterEntry) {
    createFolders();
    Workers workers;
    const size_t count = std::min<size_t>(std::max(threads, 1), plan_.fileGroups.size());
    bool started = true;
    while (started && workers.size() < count) started = workers.start([this] { work(); });
    if (workers.size() == 0) work();  // no thread could be started: decode here
    bool stopped = false;
    size_t end = afterEntry ? reportInOrder(afterEntry, stopped) : limit_;
    workers.join();
    if (!afterEntry) end = firstUnwritten();
    const size_t committed = commit(end);
    removeFoldersFrom(committed);
    if (committed < end) return RunOutcome::Failed;
    if (stopped) return RunOutcome::Stopped;
    return end == plan_.entries.size() ? RunOutcome::Complete : RunOutcome::Failed;
  }

 private:
  // Creates the folders of the entries in order: folder entries, and the folders of file
  // entries. The run ends before the first entry whose folder fails.
  void createFolders() {
    for (size_t index = 0; index < plan_.entries.size(); ++index) {
      const PlannedEntry& entry = plan_.entries[index];
      bool made = true;
      if (entry.directory && !entry.leftAsIs) {
        made = makeFolders(index, entry.path);
      } else if (!entry.directory) {
        made = makeFolders(index, PathComponents(entry.path.begin(), entry.path.end() - 1));
      }
      if (!made) {
        limit_ = index;
        lowerAbort(index);
        return;
      }
      if (entry.directory) states_[index] = State::Written;
    }
  }

  bool makeFolders(size_t index, const PathComponents& path) {
    std::vector<PathComponents> created;
    const bool made = tree_.makeDirectories(path, created);
    for (PathComponents& folder : created) createdFolders_.emplace_back(index, std::move(folder));
    return made;
  }

  void work() {
    EntryDecoder decoder;
    FolderWorkQueue::Chunk chunk;
    while (queue_.next(chunk)) {
      for (size_t group : chunk.groups) writeGroup(group, decoder);
    }
  }

  // Writes the entries of one path in archive order, so the later one ends up there.
  void writeGroup(size_t group, EntryDecoder& decoder) {
    for (size_t index : plan_.fileGroups[group]) {
      if (index >= abortAt_.load()) {
        finish(index, State::Skipped);
        continue;
      }
      const bool written = writeFile(index, decoder);
      if (!written) lowerAbort(index);
      finish(index, written ? State::Written : State::Failed);
    }
  }

  bool writeFile(size_t index, EntryDecoder& decoder) {
    const PlannedEntry& entry = plan_.entries[index];
    FileOutcome& outcome = outcomes_[index];
    UniqueFd file = tree_.createNew(entry.path);
    if (!file) {
      if (errno != EEXIST || tree_.kindOf(entry.path) == TargetTree::Kind::Directory) return false;
      file = tree_.createTemporary(entry.path, outcome.name);
      if (!file) return false;
      outcome.temporary = true;
    }
    bool written = decoder.decode(archive_.fd(), *entry.record, file.get());
    if (written) {
      setFileTimes(file.get(), entry.info);
      normalFiles_.makeNormal(file.get());
    }
    written = ::close(file.release()) == 0 && written;
    if (!written) tree_.removeFile(entry.path, outcome.temporary ? outcome.name : "");
    return written;
  }

  void finish(size_t index, State state) {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[index] = state;
    if (index == waitingFor_) done_.notify_one();
  }

  void lowerAbort(size_t index) {
    size_t current = abortAt_.load();
    while (index < current && !abortAt_.compare_exchange_weak(current, index)) {
    }
  }

  // Calls afterEntry for each entry in order as it is written; the end of the run.
  size_t reportInOrder(const std::function<bool(size_t)>& afterEntry, bool& stopped) {
    for (size_t index = 0; index < limit_; ++index) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        waitingFor_ = index;
        done_.wait(lock, [&] { return states_[index] != State::Pending; });
        waitingFor_ = kNone;
        if (states_[index] != State::Written) return index;
      }
      if (!afterEntry(index)) {
        lowerAbort(index + 1);
        stopped = true;
        return index + 1;
      }
    }
    return limit_;
  }

  size_t firstUnwritten() const {
    for (size_t index = 0; index < limit_; ++index) {
      if (states_[index] != State::Written) return index;
    }
    return limit_;
  }

  // Renames the waiting files of the entries before `end` over their paths, in order, and
  // removes what entries from `end` on wrote. The new end (earlier when a rename failed).
  size_t commit(size_t end) {
    for (size_t index = 0; index < plan_.entries.size(); ++index) {
      const PlannedEntry& entry = plan_.entries[index];
      const FileOutcome& outcome = outcomes_[index];
      if (entry.directory || states_[index] != State::Written) continue;
      const std::string& name = outcome.temporary ? outcome.name : kNoName;
      if (index >= end) {
        tree_.removeFile(entry.path, name);
      } else if (outcome.temporary && !tree_.replaceWith(entry.path, name)) {
        tree_.removeFile(entry.path, name);
        end = index;
      }
    }
    return end;
  }

  void removeFoldersFrom(size_t end) {
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it) {
      if (it->first >= end) tree_.removeEmptyDirectory(it->second);
    }
  }

  static constexpr size_t kNone = static_cast<size_t>(-1);
  static inline const std::string kNoName;

  const ZipArchive& archive_;
  const TargetTree& tree_;
  const ExtractionPlan& plan_;
  std::vector<State> states_;          // guarded by mutex_ while workers run
  std::vector<FileOutcome> outcomes_;  // each written by its entry's worker, read after join
  size_t limit_;                       // entries from here on do not run
  std::atomic<size_t> abortAt_;        // entries from here on are not written
  FolderWorkQueue queue_;
  std::mutex mutex_;
  std::condition_variable done_;
  size_t waitingFor_ = kNone;
  std::vector<std::pair<size_t, PathComponents>> createdFolders_;
  NormalFiles normalFiles_;
};

}  // namespace

RunOutcome runExtraction(const ZipArchive& archive, const TargetTree& tree,
                         const ExtractionPlan& plan, int threads,
                         const std::function<bool(size_t)>& afterEntry) {
  ExtractionRun run(archive, tree, plan);
  return run.run(threads, afterEntry);
}
