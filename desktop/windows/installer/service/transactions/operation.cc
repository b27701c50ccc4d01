#include "desktop/windows/installer/service/transactions/operation.h"

#include <utility>

#include "base/logging.h"

namespace installer {

// static
bool Operation::ExecuteSubOperation(std::unique_ptr<Operation> operation,
                                    OperationList* sub_operations) {
  if (!operation || !sub_operations) {
    LOG(ERROR) << "Sub-operation or its list missing";
    return false;
  }
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

}  // namespace installer
