#pragma once
// One root's transaction: a set of changes (folders, files put or removed) made all or not at
// all. Before the first change a journal in the program folder names every change (journal.h);
// every file that is replaced or removed is kept as a backup in the root's backup folder
// (generations.h) before it goes; new bytes are written to temporary files beside their
// destinations and flushed before any of them is renamed into place; the folders are flushed
// after the last rename. A failure or a stop at any point before the commit puts the root back
// as it was: replaced and removed files come back, created files and folders go, no temporary
// file stays. A process killed meanwhile leaves its journal, and the next holder of the
// program folder's lock puts the root back the same way (recovery.h).
//
// The caller holds the program folder's lock for the whole transaction. Runs on the calling
// thread; the observer is called on it.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "transaction/journal.h"

// One change in a root.
struct Change {
  enum class Kind {
    Folder,        // create the folder when it is missing
    Put,           // give the file at `path` new content (what lies there is kept as a backup)
    Remove,        // remove the file at `path` when there is one (kept as a backup)
    RemoveFolder,  // remove the folder at `path` when it is there and empty
  } kind = Kind::Put;
  std::string path;  // below the root, "/"-separated, no leading "/"

  // Put: the new content is the file `source`, or `bytes` when `source` is empty.
  std::string source;
  std::string bytes;
  bool linkSource = false;    // hard-link `source` instead of copying it, where possible
  bool sourceTimes = false;   // the new file takes the source's access and modification times
  mode_t newFileMode = 0666;  // less the umask, where no regular file is (a regular file
                              // keeps its owner and permission bits)
};

struct TransactionRequest {
  std::string programDir;  // holds the journal; ends with "/"
  std::string root;        // ends with "/"
  std::string package;     // names the backup folder
  TransactionPurpose purpose = TransactionPurpose::Install;
  std::vector<Change> changes;  // in order: folders outermost first, files, folders to remove
                                // innermost first
  int keep = 2;                 // install: generations kept after it (0: none)
  std::string dropGeneration;   // rollback: the generation it undoes (relative to the root)
};

// Why a transaction failed, and where.
enum class TransactionProblem {
  SystemError,  // a step failed with `error` at `path`
  NotAFile,     // a file was to be put where a folder or special file is (`path`)
  Unfinished,   // the root has an interrupted transaction that could not be undone yet (`path`:
                // its journal)
  RootChanged,  // recovery: the root is missing or is another folder than the one the
                // transaction changed (a file system not mounted); nothing was touched
};

struct TransactionFailure {
  TransactionProblem problem = TransactionProblem::SystemError;
  std::string path;
  int error = 0;  // errno, for SystemError
};

enum class TransactionEnd {
  Unchanged,    // nothing needed changing: nothing was written, no journal
  Committed,    // every change was made
  Cancelled,    // the observer declined before the first change: nothing was written
  Refused,      // failed before the first change: nothing in the root was written
  RolledBack,   // failed or stopped after changes began; the root is as it was before
  Unrecovered,  // failed, and putting the root back failed too: the journal stays for recovery
};

struct TransactionResult {
  TransactionEnd end = TransactionEnd::Unchanged;
  std::optional<TransactionFailure> failure;  // Refused, RolledBack (unless stopped), Unrecovered
  bool stopped = false;                       // RolledBack because the observer asked to stop
  std::string generation;  // Committed install: its backup folder, relative to the root
};

// Where a transaction is; what the observer is told at each step.
enum class TransactionStep {
  JournalWritten,  // the journal is on disk; nothing in the root has changed yet
  Prepared,        // folders made, new files written and flushed, backups kept: no rename yet
  BeforeSwap,      // `path` is about to be renamed into place (or removed)
  Swapped,         // `path` has been
  Committed,       // every change is made and flushed; the commit is on disk
};

// What a caller sees of, and may decide in, a root's transaction. Every member has a default
// that does nothing.
class TransactionObserver {
 public:
  virtual ~TransactionObserver() = default;
  // Before the first change in `root` (never for a transaction that changes nothing). False
  // leaves the root untouched: the transaction ends Cancelled.
  virtual bool beforeFirstChange(const std::string& /*root*/) { return true; }
  // At each step; `path` is the change's path for BeforeSwap and Swapped, empty otherwise.
  virtual void onStep(TransactionStep /*step*/, const std::string& /*path*/) {}
  // Asked between steps; true stops the transaction, which then puts the root back.
  virtual bool stopRequested() { return false; }
  // After the last change in `root`: committed, rolled back or unrecovered.
  virtual void afterLastChange(const std::string& /*root*/, TransactionEnd /*end*/) {}
};

// Runs the transaction. Changes that find the root already as asked are left out (a folder
// that exists, a file to remove that is not there); when none is left, nothing is written.
// A Put onto a folder or special file fails before anything changes. A root that still has an
// interrupted transaction which could not be undone is refused (the journal is the path).
TransactionResult runTransaction(const TransactionRequest& request,
                                 TransactionObserver* observer = nullptr);
