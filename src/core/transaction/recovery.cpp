#include "transaction/recovery.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/files.h"
#include "transaction/file_steps.h"
#include "transaction/undo.h"

namespace {

RecoveryReport recoverOne(const std::string& programDir, const std::string& path,
                          const Journal& journal) {
  RecoveryReport report;
  report.purpose = journal.purpose;
  report.root = journal.root;
  report.package = journal.package;
  // Undoing in a folder that is not the one the transaction changed (its file system not
  // mounted yet) would find nothing to undo and forget the journal: it waits instead.
  if (folderIdentity(journal.root) != journal.rootIdentity) {
    report.outcome = RecoveryReport::Outcome::Failed;
    report.failure = TransactionFailure{TransactionProblem::RootChanged, journal.root, 0};
    return report;
  }
  if (journal.committed) {
    finishTransaction(journal);
    report.outcome = RecoveryReport::Outcome::Completed;
  } else {
    TransactionFailure failure;
    if (!undoTransaction(journal, failure)) {
      report.outcome = RecoveryReport::Outcome::Failed;
      report.failure = failure;
      return report;
    }
    report.outcome = RecoveryReport::Outcome::RolledBack;
  }
  ::unlink(path.c_str());
  syncFolder(programDir);
  return report;
}

}  // namespace

std::vector<RecoveryReport> recoverInterruptedTransactions(const std::string& programDir) {
  std::vector<RecoveryReport> reports;
  for (const std::string& path : journalPaths(programDir)) {
    std::optional<Journal> journal = parseJournal(readWholeFile(path));
    if (!journal) {
      RecoveryReport unreadable;
      unreadable.outcome = RecoveryReport::Outcome::Failed;
      unreadable.root = path;
      unreadable.failure = TransactionFailure{TransactionProblem::SystemError, path, EINVAL};
      reports.push_back(std::move(unreadable));
      continue;
    }
    if (!journal->begun) {  // written before anything changed
      ::unlink(path.c_str());
      continue;
    }
    reports.push_back(recoverOne(programDir, path, *journal));
  }
  return reports;
}

std::string restoredText(const std::string& root, TransactionPurpose purpose) {
  return root + (purpose == TransactionPurpose::Install ? " 已恢复到安装前的状态"
                                                        : " 已恢复到回滚前的状态");
}

std::string describeRecovery(const RecoveryReport& report) {
  switch (report.outcome) {
    case RecoveryReport::Outcome::RolledBack:
      return restoredText(report.root, report.purpose);
    case RecoveryReport::Outcome::Completed:
      return {};
    case RecoveryReport::Outcome::Failed:
      break;
  }
  std::string text = "恢复 " + report.root + " 失败";
  if (report.failure) text += "\n" + describeTransactionFailure(*report.failure);
  return text;
}

std::optional<std::string> unfinishedJournalFor(const std::string& programDir,
                                                const std::string& root) {
  for (const std::string& path : journalPaths(programDir)) {
    std::optional<Journal> journal = parseJournal(readWholeFile(path));
    if (!journal || (journal->begun && journal->root == root)) return path;
  }
  return std::nullopt;
}

std::string describeTransactionFailure(const TransactionFailure& failure) {
  switch (failure.problem) {
    case TransactionProblem::NotAFile:
      return failure.path + ": 不是普通文件";
    case TransactionProblem::Unfinished:
      return failure.path + ": 上次中断的安装未能恢复";
    case TransactionProblem::RootChanged:
      return failure.path + ": 不是中断的安装所在的目录(未挂载?)";
    case TransactionProblem::SystemError:
      break;
  }
  return failure.path + ": " + std::generic_category().message(failure.error);
}
