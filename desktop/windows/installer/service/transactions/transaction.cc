#include "desktop/windows/installer/service/transactions/transaction.h"

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/empty_folder_sweep.h"

namespace installer {

namespace {

// Rolls |operations| back, last first, deleting each after its rollback (so
// a rolled-back operation never commits). False when any rollback failed.
bool RollBackAll(OperationList* operations) {
  bool ok = true;
  while (!operations->empty()) {
    if (!operations->back()->RollBackAndMarkUndone()) {
      LOG(ERROR) << "Rolling back operation " << operations->size() << " failed";
      ok = false;
    }
    operations->pop_back();
  }
  return ok;
}

}  // namespace

Transaction::~Transaction() { Commit(); }

void Transaction::Commit() {
  // Gone before the deferred work starts: a process ended during its commit
  // must not be undone afterwards, half committed as it is.
  DiscardJournal();
  // The folders the deletions empty go after them, each once.
  EmptyFolderSweep sweep;
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
  operation->set_journal(journal_.get());
  if (!operation->Execute(&sub_operations)) {
    LOG(ERROR) << "Operation " << operations_.size() + sub_operations.size() + 1
               << " of the transaction failed; undoing it";
    if (!operation->RollBackAndMarkUndone())
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

bool Transaction::Rollback() {
  const bool ok = RollBackAll(&operations_);
  DiscardJournal();
  return ok;
}

void Transaction::DiscardJournal() {
  if (!journal_)
    return;
  journal_->Discard();
  journal_.reset();
}

}  // namespace installer
