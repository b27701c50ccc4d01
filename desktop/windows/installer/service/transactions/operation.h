// Operation: one undoable change of the machine. An operation is executed
// once; what it needs done first (a missing folder created, a file moved
// aside) it runs as sub-operations, which the transaction keeps before it.
// Rollback undoes what the operation itself changed (also after a failed or
// partial Execute); its sub-operations are rolled back separately, after it.
// Deleting an operation that was executed and not rolled back commits it:
// deferred work such as removing a moved-aside file is completed then.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "desktop/windows/installer/service/transactions/transaction_journal.h"

namespace installer {

class Operation;
using OperationList = std::vector<std::unique_ptr<Operation>>;

class Operation {
 public:
  Operation() = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;
  // Commits when executed and not rolled back.
  virtual ~Operation() = default;

  // Makes the change. Sub-operations executed on the way are appended to
  // |sub_operations| in execution order, also when Execute then fails: the
  // caller rolls this operation back first, then those, last first. Logs the
  // cause of a failure.
  virtual bool Execute(OperationList* sub_operations) = 0;

  // Undoes this operation's own change. False (logged) when something could
  // not be restored; everything else is still restored.
  virtual bool Rollback() = 0;

  // Where Execute writes how to undo each change before making it (not
  // owned; null: nowhere). Its sub-operations write there too.
  void set_journal(TransactionJournal* journal) { journal_ = journal; }

  // Rolls back and, when that succeeded, writes to the journal that the
  // entries this operation wrote are undone, so that a replay after the
  // process was ended later in its rollback skips them: undoing an entry
  // twice could take away what the undo of an earlier one has put back (a
  // file created where one was moved aside is deleted again after the old
  // one came back). False when the rollback failed.
  bool RollBackAndMarkUndone();

 protected:
  // Writes |entry| to the journal when there is one. False when it could not
  // be written: the change must then not be made (nobody could undo it
  // after this process's death).
  bool Journal(const TransactionJournal::Entry& entry);

  // Executes |operation| as a sub-operation: its own sub-operations and then
  // it are appended to |sub_operations|. On failure it is rolled back and
  // deleted (its own sub-operations stay in the list for the caller to roll
  // back) and false is returned.
  bool ExecuteSubOperation(std::unique_ptr<Operation> operation, OperationList* sub_operations);

 private:
  static constexpr size_t kNoEntry = static_cast<size_t>(-1);

  TransactionJournal* journal_ = nullptr;
  // The journal entries this operation wrote itself (its sub-operations
  // keep their own), first and last; kNoEntry when it wrote none.
  size_t first_entry_ = kNoEntry;
  size_t last_entry_ = kNoEntry;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
