// Operation: one undoable change of the machine. An operation is executed
// once; what it needs done first (a missing folder created, a file moved
// aside) it runs as sub-operations, which the transaction keeps before it.
// Rollback undoes what the operation itself changed (also after a failed or
// partial Execute); its sub-operations are rolled back separately, after it.
// Deleting an operation that was executed and not rolled back commits it:
// deferred work such as removing a moved-aside file is completed then.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_

#include <memory>
#include <vector>

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

 protected:
  // Executes |operation| as a sub-operation: its own sub-operations and then
  // it are appended to |sub_operations|. On failure it is rolled back and
  // deleted (its own sub-operations stay in the list for the caller to roll
  // back) and false is returned.
  static bool ExecuteSubOperation(std::unique_ptr<Operation> operation,
                                  OperationList* sub_operations);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
