// RenameOperation: moves a file or a whole folder to a new name on the same
// volume, so its bytes are written once. A missing destination folder is
// created and an existing destination file moved aside, both as
// sub-operations; a folder never replaces anything. Rollback moves it back,
// making the old parent folder again when it has gone meanwhile. Moving
// between volumes is refused: the caller copies then.
//
// The moved item keeps its attributes and security: it is meant for files
// this process's user made for the destination (an unpacked package).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RENAME_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RENAME_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class RenameOperation : public Operation {
 public:
  // |not_same_volume| (optional, not owned) is set when Execute finds the
  // destination on another volume: nothing was changed or logged then, and
  // the caller copies instead.
  RenameOperation(const base::FilePath& source, const base::FilePath& destination,
                  bool* not_same_volume = nullptr);
  ~RenameOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath destination_;
  bool moved_ = false;
  bool* const not_same_volume_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RENAME_OPERATION_H_
