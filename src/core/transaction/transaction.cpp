#include "transaction/transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <set>

#include "platform/replace_file.h"
#include "platform/unique_fd.h"
#include "transaction/file_steps.h"
#include "transaction/generations.h"
#include "transaction/recovery.h"
#include "transaction/undo.h"

namespace {

// A change that has something to do, with what its destination held when planned.
struct Planned {
  const Change* change = nullptr;
  JournalOp op = JournalOp::Create;
  std::string path;  // absolute
  Destination found;
};

// Marks a step that failed; carries the failure to the transaction's end.
struct Failed {
  TransactionFailure failure;
};

Failed systemFailure(const std::string& path, int error) {
  return {{TransactionProblem::SystemError, path, error}};
}

class RootTransaction {
 public:
  RootTransaction(const TransactionRequest& request, TransactionObserver* observer)
      : request_(request), observer_(observer != nullptr ? *observer : noObserver_) {}

  TransactionResult run() {
    if (std::optional<Failed> refused = plan()) return ended(TransactionEnd::Refused, refused);
    if (planned_.empty()) return ended(TransactionEnd::Unchanged, std::nullopt);
    if (!observer_.beforeFirstChange(request_.root)) {
      return ended(TransactionEnd::Cancelled, std::nullopt);
    }
    if (std::optional<Failed> failed = writeJournal()) {
      return ended(TransactionEnd::Refused, failed);
    }
    observer_.onStep(TransactionStep::JournalWritten, {});
    std::optional<Failed> failed = prepare();
    if (!failed && !stopped_) failed = swap();
    if (!failed && !stopped_) failed = commit();
    if (failed || stopped_) return rollBack(failed);
    observer_.onStep(TransactionStep::Committed, {});
    finishTransaction(journal_);
    ::unlink(journalPath_.c_str());
    syncFolder(request_.programDir);
    observer_.afterLastChange(request_.root, TransactionEnd::Committed);
    TransactionResult result;
    result.end = TransactionEnd::Committed;
    result.generation = journal_.generation;
    return result;
  }

 private:
  static TransactionResult ended(TransactionEnd end, const std::optional<Failed>& failed) {
    TransactionResult result;
    result.end = end;
    if (failed) result.failure = failed->failure;
    return result;
  }

  // Decides what each change has to do; a failure here is found before anything changed.
  std::optional<Failed> plan() {
    const std::string& root = request_.root;
    if (std::optional<std::string> journal = unfinishedJournalFor(request_.programDir, root)) {
      return Failed{{TransactionProblem::Unfinished, *journal, 0}};
    }
    for (const Change& change : request_.changes) {
      Planned planned;
      planned.change = &change;
      planned.path = root + change.path;
      planned.found = examineDestination(planned.path);
      const DestinationKind kind = planned.found.kind;
      switch (change.kind) {
        case Change::Kind::Folder:
          // A folder the operator linked below the root counts as the folder.
          if (kind == DestinationKind::Other && isFolder(planned.path, true)) continue;
          if (kind != DestinationKind::Missing) return notPlaceable(planned);
          planned.op = JournalOp::MakeFolder;
          break;
        case Change::Kind::Put:
          if (kind == DestinationKind::Other) return notPlaceable(planned);
          planned.op = kind == DestinationKind::Missing ? JournalOp::Create : JournalOp::Replace;
          break;
        case Change::Kind::Remove:
          if (kind == DestinationKind::Missing || kind == DestinationKind::Other) continue;
          planned.op = JournalOp::Remove;
          break;
        case Change::Kind::RemoveFolder:
          if (!isFolder(planned.path, false)) continue;
          planned.op = JournalOp::RemoveFolder;
          break;
      }
      planned_.push_back(std::move(planned));
    }
    return std::nullopt;
  }

  static bool isFolder(const std::string& path, bool followLink) {
    struct stat state {};
    const int found = followLink ? ::stat(path.c_str(), &state) : ::lstat(path.c_str(), &state);
    return found == 0 && S_ISDIR(state.st_mode);
  }

  static Failed notPlaceable(const Planned& planned) {
    if (planned.found.error != 0) return systemFailure(planned.path, planned.found.error);
    return {{TransactionProblem::NotAFile, planned.path, 0}};
  }

  std::optional<Failed> writeJournal() {
    journal_.id = newTransactionId();
    journal_.time = static_cast<int64_t>(std::time(nullptr));
    journal_.purpose = request_.purpose;
    journal_.root = request_.root;
    journal_.rootIdentity = folderIdentity(request_.root);
    journal_.package = request_.package;
    journal_.keep = request_.keep;
    journal_.drop = request_.dropGeneration;
    journal_.generation = request_.purpose == TransactionPurpose::Install
                              ? nextGenerationFolder(request_.root, request_.package)
                              : packageBackupFolder(request_.package) + "/undo-" + journal_.id;
    for (const Planned& planned : planned_) {
      journal_.entries.push_back({planned.op, planned.change->path});
    }
    journalPath_ = journalPath(request_.programDir, journal_.id);
    const std::string text = encodeJournal(journal_);
    UniqueFd file(
        ::open(journalPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) return systemFailure(journalPath_, errno);
    if (!writeAll(file.get(), text.data(), text.size()) || ::fsync(file.get()) != 0 ||
        ::close(file.release()) != 0 || !syncFolder(request_.programDir)) {
      const int error = errno;
      ::unlink(journalPath_.c_str());
      return systemFailure(journalPath_, error);
    }
    return std::nullopt;
  }

  // Makes the folders, writes every new file beside its destination and keeps every file that
  // will be replaced or removed; nothing visible in the root changes but new folders.
  std::optional<Failed> prepare() {
    const std::string generation = request_.root + journal_.generation;
    if (!makeOwnFolders(generation + "/files")) return systemFailure(generation, errno);
    const std::string record = recordPathIn(request_.root, journal_.generation);
    if (int error = writeNewFileFlushed(record, encodeJournal(journal_)); error != 0) {
      return systemFailure(record, error);
    }
    FlushWindow flush;
    for (const Planned& planned : planned_) {
      if ((stopped_ = observer_.stopRequested())) return std::nullopt;
      std::optional<Failed> failed;
      switch (planned.op) {
        case JournalOp::MakeFolder:
          if (::mkdir(planned.path.c_str(), 0777) != 0 && errno != EEXIST) {
            failed = systemFailure(planned.path, errno);
          }
          break;
        case JournalOp::Replace:
        case JournalOp::Remove:
          failed = keep(planned);
          if (failed || planned.op == JournalOp::Remove) break;
          [[fallthrough]];
        case JournalOp::Create:
          failed = writeNewFile(planned, flush);
          break;
        case JournalOp::RemoveFolder:
          break;
      }
      if (failed) return failed;
    }
    if (!flush.drain()) return systemFailure(request_.root, errno);
    for (const std::string& folder : backupFolders_) syncFolder(folder);
    syncFolder(folderOf(generation));
    observer_.onStep(TransactionStep::Prepared, {});
    return std::nullopt;
  }

  std::optional<Failed> keep(const Planned& planned) {
    const std::string backup =
        backupPathIn(request_.root, journal_.generation, planned.change->path);
    const std::string folder = folderOf(backup);
    if (backupFolders_.insert(folder).second && !makeOwnFolders(folder)) {
      return systemFailure(folder, errno);
    }
    if (int error = keepBackup(planned.path, backup, journal_.id); error != 0) {
      return systemFailure(planned.path, error);
    }
    return std::nullopt;
  }

  std::optional<Failed> writeNewFile(const Planned& planned, FlushWindow& flush) {
    const Change& change = *planned.change;
    const std::string temporary = temporaryPathFor(planned.path, journal_.id);
    if (change.linkSource) {
      if (::linkat(AT_FDCWD, change.source.c_str(), AT_FDCWD, temporary.c_str(), 0) == 0) {
        return std::nullopt;
      }
      if (int error = copyOver(change.source, temporary, journal_.id); error != 0) {
        return systemFailure(planned.path, error);
      }
      return std::nullopt;
    }
    UniqueFd in;
    struct stat source {};
    if (!change.source.empty()) {
      in.reset(::open(change.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      if (!in || ::fstat(in.get(), &source) != 0) return systemFailure(change.source, errno);
      if (!S_ISREG(source.st_mode)) {
        return Failed{{TransactionProblem::NotAFile, change.source, 0}};
      }
    }
    const bool replacing = planned.found.kind == DestinationKind::Regular;
    UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        replacing ? S_IRUSR | S_IWUSR : change.newFileMode));
    if (!out) return systemFailure(planned.path, errno);
    if (replacing) {
      // Owner first: a change of owner clears the set-id bits that fchmod then restores.
      [[maybe_unused]] int ignored =
          ::fchown(out.get(), planned.found.state.st_uid, planned.found.state.st_gid);
      if (::fchmod(out.get(), planned.found.state.st_mode & 07777) != 0) {
        return systemFailure(planned.path, errno);
      }
    }
    if (in) {
      if (int error = copyContent(in.get(), out.get()); error != 0) {
        return systemFailure(planned.path, error);
      }
    } else if (!writeAll(out.get(), change.bytes.data(), change.bytes.size())) {
      return systemFailure(planned.path, errno);
    }
    if (in && change.sourceTimes) {
      const timespec times[2] = {source.st_atim, source.st_mtim};
      ::futimens(out.get(), times);
    }
    if (!flush.add(std::move(out))) return systemFailure(planned.path, errno);
    return std::nullopt;
  }

  // Renames the new files into place and removes what goes, then flushes the folders.
  std::optional<Failed> swap() {
    std::set<std::string> folders;
    for (const Planned& planned : planned_) {
      if (planned.op == JournalOp::MakeFolder) continue;
      if ((stopped_ = observer_.stopRequested())) return std::nullopt;
      const std::string& path = planned.change->path;
      observer_.onStep(TransactionStep::BeforeSwap, path);
      switch (planned.op) {
        case JournalOp::Create:
        case JournalOp::Replace:
          if (::rename(temporaryPathFor(planned.path, journal_.id).c_str(), planned.path.c_str()) !=
              0) {
            return systemFailure(planned.path, errno);
          }
          break;
        case JournalOp::Remove:
          if (::unlink(planned.path.c_str()) != 0 && errno != ENOENT) {
            return systemFailure(planned.path, errno);
          }
          break;
        case JournalOp::RemoveFolder:
          // A folder that holds something else now stays.
          if (::rmdir(planned.path.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST &&
              errno != ENOENT) {
            return systemFailure(planned.path, errno);
          }
          break;
        case JournalOp::MakeFolder:
          break;
      }
      folders.insert(folderOf(planned.path));
      observer_.onStep(TransactionStep::Swapped, path);
    }
    for (const std::string& folder : folders) {
      // A folder removed by a later change has nothing left to flush.
      if (!syncFolder(folder) && errno != ENOENT) return systemFailure(folder, errno);
    }
    return std::nullopt;
  }

  std::optional<Failed> commit() {
    UniqueFd file(::open(journalPath_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    static const char kCommit[] = "commit\n";
    if (!file || !writeAll(file.get(), kCommit, sizeof kCommit - 1) || ::fsync(file.get()) != 0) {
      return systemFailure(journalPath_, errno);
    }
    return std::nullopt;
  }

  TransactionResult rollBack(const std::optional<Failed>& failed) {
    TransactionResult result;
    result.stopped = !failed && stopped_;
    if (failed) result.failure = failed->failure;
    TransactionFailure undoFailure;
    if (undoTransaction(journal_, undoFailure)) {
      ::unlink(journalPath_.c_str());
      syncFolder(request_.programDir);
      result.end = TransactionEnd::RolledBack;
    } else {
      result.end = TransactionEnd::Unrecovered;
      if (!result.failure) result.failure = undoFailure;
    }
    observer_.afterLastChange(request_.root, result.end);
    return result;
  }

  const TransactionRequest& request_;
  TransactionObserver noObserver_;
  TransactionObserver& observer_;
  std::vector<Planned> planned_;
  Journal journal_;
  std::string journalPath_;
  std::set<std::string> backupFolders_;
  bool stopped_ = false;
};

}  // namespace

TransactionResult runTransaction(const TransactionRequest& request, TransactionObserver* observer) {
  return RootTransaction(request, observer).run();
}
