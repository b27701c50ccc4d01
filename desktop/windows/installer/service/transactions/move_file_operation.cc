#include "desktop/windows/installer/service/transactions/move_file_operation.h"

#include <memory>

#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : source_(source), destination_(destination) {}

// The sub-operations commit themselves.
MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Execute(OperationList* sub_operations) {
  if (source_.empty() || destination_.empty()) {
    LOG(ERROR) << "Move needs a source and a destination";
    return false;
  }
  if (!ExecuteSubOperation(std::make_unique<CopyFileOperation>(source_, destination_),
                           sub_operations)) {
    LOG(ERROR) << "Cannot move " << source_.value() << " to " << destination_.value()
               << ": the copy failed";
    return false;
  }
  // The source is not checked for being in use: a running program may be
  // moved, and its temporary is deleted at reboot when it cannot be now.
  if (!ExecuteSubOperation(std::make_unique<DeleteFileOperation>(source_, false, false),
                           sub_operations)) {
    LOG(ERROR) << "Cannot move " << source_.value() << " to " << destination_.value()
               << ": the source cannot be deleted";
    return false;
  }
  return true;
}

bool MoveFileOperation::Rollback() {
  // The copy and the source's deletion are sub-operations and are undone by
  // whoever holds them, right after this.
  return true;
}

}  // namespace installer
