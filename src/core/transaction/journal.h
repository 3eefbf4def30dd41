#pragma once
// The journal of one root's transaction: which root and package, where the backups go, and
// every change that will be made, in order. It is written and flushed to disk before the first
// change in the root, marked when the changes are committed, and removed when the transaction
// has ended; one that is left behind tells the next holder of the program folder's lock what
// to undo (recovery.h). The same text, kept in a generation's folder, is that generation's
// record: what a rollback undoes (generations.h).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class JournalOp {
  MakeFolder,    // a folder created (undone: removed when empty)
  Create,        // a file put where nothing was (undone: removed)
  Replace,       // a file put over an existing one, which is kept as a backup (undone: restored)
  Remove,        // a file removed, kept as a backup (undone: restored)
  RemoveFolder,  // an empty folder removed (undone: created again)
};

struct JournalEntry {
  JournalOp op = JournalOp::Create;
  std::string path;  // below the root, "/"-separated
  friend bool operator==(const JournalEntry&, const JournalEntry&) = default;
};

enum class TransactionPurpose { Install, Rollback };

struct Journal {
  std::string id;    // unique per transaction; names its journal file and temporary files
  int64_t time = 0;  // when it began, seconds since 1970
  TransactionPurpose purpose = TransactionPurpose::Install;
  std::string root;          // ends with "/"
  std::string rootIdentity;  // the root folder's "DEVICE:INODE" when the transaction began
  std::string package;       // the package's name ("三端")
  std::string generation;    // the folder of this transaction's backups, relative to the root
  int keep = 0;              // install: generations kept once it is committed
  std::string drop;          // rollback: the generation it undoes, removed once it is committed
  std::vector<JournalEntry> entries;
  bool begun = false;      // complete: written whole before the first change
  bool committed = false;  // every change was made and flushed
};

// The journal's text through its "begin" line (begun and committed are not read).
std::string encodeJournal(const Journal& journal);
// Reads a journal's text. Nothing when it is not one, or a line cannot be read. A text that
// stops before "begin" (cut short while it was written, before any change) gives begun false.
std::optional<Journal> parseJournal(std::string_view text);

// A journal's file in the program folder: "下载器.ID.journal".
std::string journalPath(const std::string& programDir, const std::string& id);
// Every journal file in the program folder, in name order.
std::vector<std::string> journalPaths(const std::string& programDir);

// "DEVICE:INODE" of the folder at `path` (links followed); empty when it cannot be examined.
std::string folderIdentity(const std::string& path);

// A new unique transaction id (time and process id).
std::string newTransactionId();
