// DeleteFolderOperation: removes a whole folder in an undoable way. The
// folder is renamed aside, beside itself under its name followed by ".old"
// (".old1", ".old2", ... when those are taken); rollback renames it back.
// Commit (destruction after a successful Execute) deletes the renamed tree.
// A missing folder is nothing to delete and counts as success.
#ifndef DESKTOP_WINDOWS_INSTALLER_DELETE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_DELETE_FOLDER_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class DeleteFolderOperation : public Operation {
 public:
  explicit DeleteFolderOperation(const base::FilePath& folder);
  ~DeleteFolderOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

  // Where the folder was renamed to; empty before a successful rename.
  const base::FilePath& temporary_path() const { return temporary_; }

 private:
  const base::FilePath folder_;
  base::FilePath temporary_;
  bool moved_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_DELETE_FOLDER_OPERATION_H_
