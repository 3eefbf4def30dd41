#pragma once
// Going back one generation: the newest kept generation of a package in a root is undone as a
// transaction of its own (transaction.h), so a failed or interrupted rollback leaves the root
// as it was before the rollback. The files the install replaced come back from their backups
// (by hard link where possible), the files it created go, the folders it created go when
// empty; the generation is removed once the rollback is committed.
#include <optional>
#include <string>

#include "transaction/generations.h"
#include "transaction/transaction.h"

struct RollbackResult {
  std::optional<Generation> generation;  // the one undone; none when nothing is kept
  TransactionResult transaction;         // when there was one
};

// Rolls back the newest generation of `package` in `root` (ending with "/"); the journal goes
// to `programDir`, whose lock the caller holds. A generation whose backup of a replaced file is
// missing is refused before anything changes.
RollbackResult rollBackNewest(const std::string& programDir, const std::string& root,
                              const std::string& package, TransactionObserver* observer = nullptr);
