// CreateFolderOperation: creates a folder and its missing parents; rollback
// removes the folders it created, deepest first.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_

#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class CreateFolderOperation : public Operation {
 public:
  explicit CreateFolderOperation(const base::FilePath& folder);
  ~CreateFolderOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const base::FilePath folder_;
  // The folders created, outermost first.
  std::vector<base::FilePath> created_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_FOLDER_OPERATION_H_
