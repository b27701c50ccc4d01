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
    operation->RollBackAndMarkUndone();
    return false;
  }
  sub_operations->push_back(std::move(operation));
  return true;
}

bool Operation::Journal(const TransactionJournal::Entry& entry) {
  if (!journal_)
    return true;
  size_t index = 0;
  if (!journal_->Append(entry, &index))
    return false;
  if (first_entry_ == kNoEntry)
    first_entry_ = index;
  last_entry_ = index;
  return true;
}

bool Operation::RollBackAndMarkUndone() {
  if (!Rollback())
    return false;
  // The marks are a help for a replay, not a condition of the rollback: one
  // that cannot be written only leaves the entries to be undone again.
  if (journal_ && first_entry_ != kNoEntry)
    journal_->MarkUndone(first_entry_, last_entry_);
  first_entry_ = kNoEntry;
  last_entry_ = kNoEntry;
  return true;
}

}  // namespace installer
