#pragma once
// Ending a transaction from its journal, the same way whether the transaction is still running
// (it failed or was stopped) or was interrupted and is found again by recovery. Each step looks
// at what is on disk, so running them again after an interruption does no harm.
#include "transaction/journal.h"
#include "transaction/transaction.h"

// Puts the root back as it was before the journal's transaction, walking its entries
// backwards: a file whose backup exists gets it back (the backup is renamed into place),
// created files and folders are removed (a folder only when empty), removed folders come
// back, and every temporary file of the transaction is removed; then the transaction's backup
// folder goes. True when every step succeeded; otherwise `failure` names the first that did not
// (the journal must then be kept, to try again).
bool undoTransaction(const Journal& journal, TransactionFailure& failure);

// Completes a committed transaction: an install keeps the newest `keep` generations of its
// package; a rollback removes its own backups and the generation it undid. Then empty backup
// folders go.
void finishTransaction(const Journal& journal);
