#include "desktop/windows/installer/service/transactions/transaction.h"

#include <utility>

#include "base/logging.h"

namespace installer {

namespace {

// Rolls |operations| back, last first, deleting each after its rollback (so
// a rolled-back operation never commits). False when any rollback failed.
bool RollBackAll(OperationList* operations) {
  bool ok = true;
  while (!operations->empty()) {
    if (!operations->back()->Rollback()) {
      LOG(ERROR) << "Rolling back operation " << operations->size() << " failed";
      ok = false;
    }
    operations->pop_back();
  }
  return ok;
}

}  // namespace

Transaction::~Transaction() {
  // Deleting an executed operation commits it; first executed, first done.
  for (auto& operation : operations_)
    operation.reset();
  operations_.clear();
}

bool Transaction::Execute(std::unique_ptr<Operation> operation) {
  if (!operation) {
    LOG(ERROR) << "No operation to execute";
    return false;
  }
  OperationList sub_operations;
  if (!operation->Execute(&sub_operations)) {
    LOG(ERROR) << "Operation " << operations_.size() + sub_operations.size() + 1
               << " of the transaction failed; undoing it";
    if (!operation->Rollback())
      LOG(ERROR) << "Undoing the failed operation failed";
    operation.reset();
    RollBackAll(&sub_operations);
    return false;
  }
  for (auto& sub_operation : sub_operations)
    operations_.push_back(std::move(sub_operation));
  operations_.push_back(std::move(operation));
  return true;
}

bool Transaction::Rollback() { return RollBackAll(&operations_); }

}  // namespace installer
