#include "desktop/windows/installer/service/transactions/operation.h"

#include <utility>

#include "base/logging.h"

namespace installer {

bool Operation::ExecuteSubOperation(std::unique_ptr<Operation> operation,
                                    OperationList* sub_operations) {
  if (!operation || !sub_operations) {
    LOG(ERROR) << "Sub-operation or its list missing";
    return false;
  }
  operation->set_journal(journal_);
  if (!operation->Execute(sub_operations)) {
    // The sub-operation undoes its own part here; what it ran before it
    // failed stays in the list, which the caller rolls back.
    LOG(ERROR) << "Sub-operation failed";
    operation->Rollback();
    return false;
  }
  sub_operations->push_back(std::move(operation));
  return true;
}

bool Operation::Journal(const TransactionJournal::Entry& entry) {
  return !journal_ || journal_->Append(entry);
}

}  // namespace installer
