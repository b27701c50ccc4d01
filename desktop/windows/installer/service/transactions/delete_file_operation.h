// DeleteFileOperation: moves a file aside, beside itself under its name
// followed by ".old" (".old1", ".old2", ... when a stale temporary cannot be
// removed); rollback moves it back with its attributes. Commit (destruction
// after a successful Execute) deletes the temporary, or, when it is in use
// and no later clean-up takes it over, schedules it for deletion at reboot,
// and optionally removes the parent
// folders that became empty, never reaching above a given folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class DeleteFileOperation : public Operation {
 public:
  // With |check_in_use|, a file that is not an ".exe" or ".dll" must open
  // for writing once moved aside (nobody else has it open), else it is moved
  // back and the operation fails. Running programs and loaded libraries can
  // be renamed but never opened for writing, so they are not checked unless
  // RefuseRunningProgram() asks for it.
  //
  // With |remove_empty_parents|, the emptied folders removed at commit are
  // those strictly below |stop_folder|: the walk never removes that folder
  // or anything above it, and removes nothing when |path| does not lie below
  // it. An empty |stop_folder| removes nothing.
  DeleteFileOperation(const base::FilePath& path, bool check_in_use, bool remove_empty_parents,
                      const base::FilePath& stop_folder = base::FilePath());
  ~DeleteFileOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

  // The temporary the file was moved to; empty before a successful move.
  const base::FilePath& temporary_path() const { return temporary_; }

  // Another clean-up (the uninstallation's batch file, which runs once the
  // installer's processes have ended) deletes the temporary when the commit
  // cannot: no deletion at reboot is scheduled for it then.
  void LeaveUndeletedToCleanup() { left_to_cleanup_ = true; }

  // With |check_in_use|, an ".exe" or ".dll" is checked too: a program that
  // runs from it (or a process that has loaded it) makes the operation fail
  // and the file stays where it was. Its image cannot be opened for writing,
  // under its old name or the temporary one. Checked after the move, so a
  // program started from the old name meanwhile cannot slip through.
  void RefuseRunningProgram() { refuse_running_program_ = true; }

 private:
  // Finds a free temporary name beside the file, removing a stale ".old".
  bool ChooseTemporaryPath();
  // Deletes the temporary now or at reboot.
  void Commit();
  void RemoveEmptyParents() const;

  const base::FilePath path_;
  const bool check_in_use_;
  const bool remove_empty_parents_;
  const base::FilePath stop_folder_;
  DWORD original_attributes_ = INVALID_FILE_ATTRIBUTES;
  base::FilePath temporary_;
  bool moved_ = false;
  bool attributes_changed_ = false;
  bool left_to_cleanup_ = false;
  bool refuse_running_program_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_FILE_OPERATION_H_
