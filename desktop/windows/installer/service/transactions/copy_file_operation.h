// CopyFileOperation: copies one file. A missing destination folder is created
// and an existing destination moved aside, both as sub-operations, so that
// rollback (which deletes the copy) gets the old file back. The copy never
// keeps a read-only attribute.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class CopyFileOperation : public Operation {
 public:
  CopyFileOperation(const base::FilePath& source, const base::FilePath& destination);
  ~CopyFileOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath destination_;
  // Set once the copy was started: whatever is at the destination then is
  // ours (the old file was moved aside).
  bool copy_started_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_COPY_FILE_OPERATION_H_
