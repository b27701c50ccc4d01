// MoveFileOperation: copies a file (a CopyFileOperation sub-operation, so the
// copy takes the destination folder's security and an existing destination
// is moved aside), then deletes the source through a DeleteFileOperation
// sub-operation. Rollback of the sub-operations deletes the copy and brings
// the source back; the move itself holds nothing more to undo.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class MoveFileOperation : public Operation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& destination);
  ~MoveFileOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath destination_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
