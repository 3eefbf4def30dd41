#include "transaction/rollback.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

std::vector<Change> undoChanges(const std::string& root, const Generation& generation,
                                std::optional<TransactionFailure>& missing) {
  std::vector<Change> changes, folders;
  for (const JournalEntry& entry : generation.record.entries) {
    Change change;
    change.path = entry.path;
    switch (entry.op) {
      case JournalOp::Replace:
      case JournalOp::Remove: {
        change.kind = Change::Kind::Put;
        change.source = backupPathIn(root, generation.folder, entry.path);
        change.linkSource = true;
        struct stat kept {};
        if (::lstat(change.source.c_str(), &kept) != 0 && !missing) {
          missing = TransactionFailure{TransactionProblem::SystemError, change.source, errno};
        }
        changes.push_back(std::move(change));
        break;
      }
      case JournalOp::Create:
        change.kind = Change::Kind::Remove;
        changes.push_back(std::move(change));
        break;
      case JournalOp::MakeFolder:
        change.kind = Change::Kind::RemoveFolder;
        folders.insert(folders.begin(), std::move(change));  // innermost first
        break;
      case JournalOp::RemoveFolder:
        change.kind = Change::Kind::Folder;
        changes.insert(changes.begin(), std::move(change));
        break;
    }
  }
  changes.insert(changes.end(), folders.begin(), folders.end());
  return changes;
}

}  // namespace

RollbackResult rollBackNewest(const std::string& programDir, const std::string& root,
                              const std::string& package, TransactionObserver* observer) {
  RollbackResult result;
  std::vector<Generation> generations = listGenerations(root, package);
  if (generations.empty()) return result;
  result.generation = std::move(generations.back());
  std::optional<TransactionFailure> missing;
  TransactionRequest request;
  request.programDir = programDir;
  request.root = root;
  request.package = package;
  request.purpose = TransactionPurpose::Rollback;
  request.changes = undoChanges(root, *result.generation, missing);
  request.dropGeneration = result.generation->folder;
  if (missing) {
    result.transaction.end = TransactionEnd::Refused;
    result.transaction.failure = missing;
    return result;
  }
  result.transaction = runTransaction(request, observer);
  if (result.transaction.end == TransactionEnd::Unchanged) {
    // Nothing to put back (the root already reads as before the install): the generation is
    // spent all the same.
    removeOwnTree(root + result.generation->folder);
    removeEmptyBackupFolders(root, package);
  }
  return result;
}
