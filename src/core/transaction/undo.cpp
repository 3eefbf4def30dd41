#include "transaction/undo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "transaction/file_steps.h"
#include "transaction/generations.h"

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class Undo {
 public:
  Undo(const Journal& journal, TransactionFailure& failure)
      : journal_(journal), failure_(failure) {}

  bool run() {
    for (auto it = journal_.entries.rbegin(); it != journal_.entries.rend(); ++it) undo(*it);
    for (const std::string& folder : touched_) syncFolder(folder);
    if (!ok_) return false;
    removeOwnTree(journal_.root + journal_.generation);
    removeEmptyBackupFolders(journal_.root, journal_.package);
    return true;
  }

 private:
  void undo(const JournalEntry& entry) {
    const std::string path = journal_.root + entry.path;
    touched_.insert(folderOf(path));
    switch (entry.op) {
      case JournalOp::Create:
        check(removeIfPresent(temporaryPathFor(path, journal_.id)), path);
        removeCreated(path);
        break;
      case JournalOp::Replace:
        check(removeIfPresent(temporaryPathFor(path, journal_.id)), path);
        restore(path, backupPathIn(journal_.root, journal_.generation, entry.path));
        break;
      case JournalOp::Remove:
        restore(path, backupPathIn(journal_.root, journal_.generation, entry.path));
        break;
      case JournalOp::RemoveFolder:
        check(::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST, path);
        break;
      case JournalOp::MakeFolder:
        // A folder that holds something now (put there by someone else) stays.
        ::rmdir(path.c_str());
        break;
    }
  }

  void removeCreated(const std::string& path) {
    struct stat state {};
    if (::lstat(path.c_str(), &state) != 0) {
      check(errno == ENOENT, path);
      return;
    }
    if (!S_ISDIR(state.st_mode)) check(::unlink(path.c_str()) == 0, path);
  }

  // The backup exists only once it is whole, and only while the file it keeps is not in its
  // place: it goes back over whatever is there now.
  void restore(const std::string& path, const std::string& backup) {
    struct stat kept {
    }, present{};
    if (::lstat(backup.c_str(), &kept) != 0) {
      check(errno == ENOENT, backup);
      return;
    }
    if (::lstat(path.c_str(), &present) == 0 && sameFile(kept, present)) {
      check(::unlink(backup.c_str()) == 0, backup);
      return;
    }
    if (::rename(backup.c_str(), path.c_str()) == 0) return;
    if (errno != EXDEV) {
      check(false, path);
      return;
    }
    // A copy kept on the root's file system for a file on another one goes back as a copy.
    const int error = copyOver(backup, path, journal_.id);
    errno = error;
    check(error == 0 && ::unlink(backup.c_str()) == 0, path);
  }

  void check(bool done, const std::string& path) {
    if (done || !ok_) return;
    ok_ = false;
    failure_ = {TransactionProblem::SystemError, path, errno};
  }

  const Journal& journal_;
  TransactionFailure& failure_;
  bool ok_ = true;
  std::set<std::string> touched_;
};

}  // namespace

bool undoTransaction(const Journal& journal, TransactionFailure& failure) {
  return Undo(journal, failure).run();
}

void finishTransaction(const Journal& journal) {
  if (journal.purpose == TransactionPurpose::Install) {
    pruneGenerations(journal.root, journal.package, journal.keep);
  } else {
    removeOwnTree(journal.root + journal.generation);
    removeOwnTree(journal.root + journal.drop);
  }
  removeEmptyBackupFolders(journal.root, journal.package);
  syncFolder(journal.root + packageBackupFolder(journal.package));
}
