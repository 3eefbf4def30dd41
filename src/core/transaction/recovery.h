#pragma once
// Interrupted transactions, found through the journals left in the program folder. Recovery
// runs first thing under the program folder's lock (the window at start, every command that
// takes the lock): a transaction that was committed is completed; any other is undone, so each
// root is found entirely as before it or entirely as after it, without temporary files.
#include <optional>
#include <string>
#include <vector>

#include "transaction/journal.h"
#include "transaction/transaction.h"

struct RecoveryReport {
  enum class Outcome {
    RolledBack,  // the root is as it was before the interrupted transaction
    Completed,   // the transaction had been committed; its last tidying was done
    Failed,      // the root could not be put back; the journal stays for the next attempt
  } outcome = Outcome::RolledBack;
  TransactionPurpose purpose = TransactionPurpose::Install;
  std::string root;  // with its trailing "/"; the journal's path when it cannot be read
  std::string package;
  std::optional<TransactionFailure> failure;  // Failed
};

// Recovers every interrupted transaction of the program folder (ending with "/"), oldest
// first. A journal cut short before its first change is removed without a report. The caller
// holds the folder's lock.
std::vector<RecoveryReport> recoverInterruptedTransactions(const std::string& programDir);

// What the operator is told: "ROOT 已恢复到安装前的状态" (or "...回滚前的状态" for an
// interrupted rollback); "恢复 ROOT 失败" with the path and the reason on a second line. Empty
// for a completed one, which changed nothing the operator would notice.
std::string describeRecovery(const RecoveryReport& report);

// The text of a root put back after its install failed or was stopped.
std::string restoredText(const std::string& root, TransactionPurpose purpose);

// The journal of an unfinished transaction in `root` (with "/"), if the program folder holds
// one.
std::optional<std::string> unfinishedJournalFor(const std::string& programDir,
                                                const std::string& root);

// "PATH: REASON" for a transaction's failure.
std::string describeTransactionFailure(const TransactionFailure& failure);
