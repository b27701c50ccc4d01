// The transaction journals of installer runs, and their rollback when a run
// was ended from outside (its process terminated, no code of its own run).
//
// A journal lives outside the install folder, which the run may itself
// create: in the user's local application data, one file per process, named
// after the install folder. Each run that may find one holds the folder's
// installer mutex: the front end once its back end has ended without success,
// a back end whose installer from the package has done the same, and every
// run before its first change (after a machine that went down, or a front end
// and back end both ended).
#ifndef DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_INSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_INSTALLATION_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/service/transactions/transaction_journal.h"

namespace installer {

// A journal of this process for a run on |install_folder|; null (logged)
// when it cannot be written.
std::unique_ptr<TransactionJournal> CreateInstallJournal(const base::FilePath& install_folder);

// Rolls back every run on |install_folder| whose process has ended without
// settling its transaction, waiting up to |wait_ms| for the processes of
// such runs that still run (see TransactionJournal::RollBackAbandoned).
// False when something could not be undone (logged). |report|, when given,
// counts the runs undone and takes the created files that a running
// program holds, which then stay for the caller to remove.
bool RollBackInterruptedInstallations(const base::FilePath& install_folder, DWORD wait_ms,
                                      TransactionJournal::ReplayReport* report = nullptr);

// Drops the journal on |install_folder| of |process|, which has ended after
// its run reported success: what it changed belongs to the completed
// installation and must not be undone by the next run.
bool DropJournalOfCompletedRun(const base::FilePath& install_folder, HANDLE process);

// Removes the journal folder and the installer's folder of the user's local
// application data above it, each only when it is empty: after the last
// journal of any run is gone, nothing of the installer stays there. A folder
// that holds anything stays (no failure).
void RemoveEmptyJournalFolders();

// The journal entry that undoes the creation of the scheduled task
// |name_suffix| (TaskScheduler::DeleteTask of it).
TransactionJournal::Entry CreatedTaskEntry(const std::wstring& name_suffix);

// Writes to |transaction|'s journal how to take back the browser's
// registration with the shell under |root| (HKEY_CURRENT_USER or
// HKEY_LOCAL_MACHINE) for the installation in |install_folder|, before the
// run makes it. The registration is written beside the transaction, so a
// run ended from outside after it is only undone whole with this entry: its
// replay gives back what the registration replaced. Nothing is written when
// the installation was registered already: its record then holds what came
// before the browser, and the run only writes the same program's values
// again. False (logged) when the entry could not be written: the
// registration must not be made then.
bool JournalRegistration(Transaction* transaction, HKEY root, const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERRUPTED_INSTALLATION_H_
