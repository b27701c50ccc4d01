// Transaction: the ordered list of executed operations. A failed operation is
// undone at once; Rollback undoes everything kept, last first; destruction
// commits every kept operation in order.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_

#include <cstddef>
#include <memory>

#include "desktop/windows/installer/service/transactions/operation.h"

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

  // The number of operations kept (sub-operations included).
  size_t size() const { return operations_.size(); }

 private:
  OperationList operations_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_H_
