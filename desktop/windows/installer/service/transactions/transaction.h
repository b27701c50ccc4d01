// Transaction: the ordered list of executed operations. A failed operation is
// undone at once; Rollback undoes everything kept, last first; destruction
// commits every kept operation in order. With a journal, the way to undo
// every change is also on disk while the transaction is open, for when this
// process is ended before it could roll back (see TransactionJournal).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_

#include <cstddef>
#include <memory>
#include <utility>

#include "desktop/windows/installer/service/transactions/operation.h"
#include "desktop/windows/installer/service/transactions/transaction_journal.h"

namespace installer {

class Transaction {
 public:
  Transaction() = default;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Commits: every kept operation is deleted, first first.
  ~Transaction();

  // Executes |operation|. On success its sub-operations and then it are
  // kept. On failure it and its sub-operations are rolled back (it first,
  // then they, last first), deleted, and false is returned. A null operation
  // is refused (false).
  bool Execute(std::unique_ptr<Operation> operation);

  // Rolls every kept operation back, last first, then deletes them. False
  // when any rollback failed (each failure is logged; the rest still run).
  bool Rollback();

  // Commits now what destruction would: the journal goes first, then every
  // kept operation is deleted, first first.
  void Commit();

  // The first half of Commit: the journal goes, so that a process ended
  // from here on is never undone later. A run settles before it says it
  // succeeded, so that no later replay can undo what it reported done; the
  // operations' own work at commit (deleting what they moved aside) may
  // follow the report.
  void Settle() { DiscardJournal(); }

  // The number of operations kept (sub-operations included).
  size_t size() const { return operations_.size(); }

  // Every operation executed from now on writes its undo to |journal|,
  // which the commit or the rollback discards.
  void SetJournal(std::unique_ptr<TransactionJournal> journal) { journal_ = std::move(journal); }
  const TransactionJournal* journal() const { return journal_.get(); }
  // Writes |entry| to the journal, when there is one, for a change made
  // outside any operation. False (logged) when it could not be written.
  bool Journal(const TransactionJournal::Entry& entry) {
    return !journal_ || journal_->Append(entry);
  }

 private:
  // Discards the journal: the operations kept are settled one way or the
  // other from here on.
  void DiscardJournal();

  OperationList operations_;
  std::unique_ptr<TransactionJournal> journal_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
