#include "desktop/windows/installer/interrupted_installation.h"

#include "base/bind.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "crypto/secure_hash.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/service/registration_journal.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

namespace {

constexpr char kCreatedTask[] = "task";
constexpr char kRegistration[] = "registration";
constexpr char kMachineRoot[] = "machine";
constexpr char kUserRoot[] = "user";
constexpr wchar_t kJournalFolderName[] = L"Journals";

// Where the journals of this user's runs are kept.
bool GetJournalFolder(base::FilePath* folder) {
  base::FilePath local_app_data;
  if (!base::PathRegistry::Get(base::kPathLocalAppData, &local_app_data)) {
    LOG(ERROR) << "No folder for the installer's transaction journals";
    return false;
  }
  *folder = local_app_data.Append(GetInstallerFolderName()).Append(kJournalFolderName);
  return true;
}

// The same folder written differently (case, a trailing separator) gives
// the same key; the hash keeps the name short and free of separators.
std::string JournalKey(const base::FilePath& install_folder) {
  const std::string name =
      base::WideToUTF8(base::ToLowerASCII(install_folder.StripTrailingSeparators().value()));
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  uint8_t digest[8] = {};
  hash->Update(name.data(), name.size());
  hash->Finish(digest, sizeof(digest));
  return base::HexEncode(digest, sizeof(digest));
}

bool UndoRegistration(const TransactionJournal::Entry& entry) {
  if (entry.fields.size() != 2 || (entry.fields[0] != kMachineRoot && entry.fields[0] != kUserRoot))
    return false;
  const base::FilePath folder = base::FilePath::FromUTF8Unsafe(entry.fields[1]);
  RegistrationJournal record(
      entry.fields[0] == kMachineRoot ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, folder);
  // Ended before it registered anything.
  if (record.empty())
    return true;
  LOG(INFO) << "Taking back the shell registration that the interrupted run made for " << folder;
  return record.Restore();
}

bool UndoOwnEntry(const TransactionJournal::Entry& entry) {
  if (entry.kind == kRegistration)
    return UndoRegistration(entry);
  if (entry.kind != kCreatedTask || entry.fields.size() != 1)
    return false;
  std::unique_ptr<TaskScheduler> scheduler = TaskScheduler::Create();
  if (!scheduler || !scheduler->Init()) {
    LOG(ERROR) << "Could not initialize task scheduler";
    return false;
  }
  return scheduler->DeleteTask(base::UTF8ToWide(entry.fields[0]));
}

}  // namespace

std::unique_ptr<TransactionJournal> CreateInstallJournal(const base::FilePath& install_folder) {
  base::FilePath folder;
  if (!GetJournalFolder(&folder))
    return nullptr;
  return TransactionJournal::Create(folder, JournalKey(install_folder));
}

bool RollBackInterruptedInstallations(const base::FilePath& install_folder, DWORD wait_ms,
                                      TransactionJournal::ReplayReport* report) {
  base::FilePath folder;
  if (!GetJournalFolder(&folder))
    return false;
  const bool ok = TransactionJournal::RollBackAbandoned(folder, JournalKey(install_folder), wait_ms,
                                                        base::Bind(&UndoOwnEntry), report);
  RemoveEmptyJournalFolders();
  return ok;
}

bool DropJournalOfCompletedRun(const base::FilePath& install_folder, HANDLE process) {
  base::FilePath folder;
  if (!GetJournalFolder(&folder))
    return false;
  const bool ok =
      TransactionJournal::DiscardOfEndedProcess(folder, JournalKey(install_folder), process);
  RemoveEmptyJournalFolders();
  return ok;
}

void RemoveEmptyJournalFolders() {
  base::FilePath folder;
  if (!GetJournalFolder(&folder))
    return;
  // The journal folder first, then the one above it. A run about to write a
  // journal may find its folder gone again: it makes it anew
  // (TransactionJournal::Create).
  for (const base::FilePath& emptied : {folder, folder.DirName()}) {
    if (::RemoveDirectoryW(emptied.c_str()))
      continue;
    const DWORD error = ::GetLastError();
    // Gone already (another run removed it): the one above may be empty.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      continue;
    // Not empty (a journal of a run still going, anything else put there):
    // it stays, and so does the one above.
    if (error != ERROR_DIR_NOT_EMPTY)
      ELOG(WARNING, error) << "Cannot remove the emptied folder " << emptied;
    return;
  }
}

TransactionJournal::Entry CreatedTaskEntry(const std::wstring& name_suffix) {
  return {kCreatedTask, {base::WideToUTF8(name_suffix)}};
}

bool JournalRegistration(Transaction* transaction, HKEY root,
                         const base::FilePath& install_folder) {
  if (!RegistrationJournal(root, install_folder).empty())
    return true;
  const TransactionJournal::Entry entry = {
      kRegistration,
      {root == HKEY_LOCAL_MACHINE ? kMachineRoot : kUserRoot, install_folder.AsUTF8Unsafe()}};
  if (transaction->Journal(entry))
    return true;
  LOG(ERROR) << "The browser is not registered with the shell: its undo could not be journaled";
  return false;
}

}  // namespace installer
