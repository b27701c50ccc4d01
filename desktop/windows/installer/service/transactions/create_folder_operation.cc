#include "desktop/windows/installer/service/transactions/create_folder_operation.h"

#include <windows.h>

#include <algorithm>

#include "base/logging.h"

namespace installer {

CreateFolderOperation::CreateFolderOperation(const base::FilePath& folder)
    : folder_(folder.StripTrailingSeparators()) {}

// Nothing is deferred: the folders stay.
CreateFolderOperation::~CreateFolderOperation() = default;

bool CreateFolderOperation::Execute(OperationList* /*sub_operations*/) {
  if (folder_.empty()) {
    LOG(ERROR) << "No folder to create";
    return false;
  }
  // The missing folders, innermost first.
  std::vector<base::FilePath> missing;
  base::FilePath current = folder_;
  for (;;) {
    const DWORD attributes = ::GetFileAttributesW(current.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LOG(ERROR) << "Cannot create folder " << folder_.value() << ": " << current.value()
                   << " is a file";
        return false;
      }
      break;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      ELOG(ERROR, error) << "Cannot read the attributes of " << current.value();
      return false;
    }
    missing.push_back(current);
    base::FilePath parent = current.DirName();
    if (parent == current || parent.empty() || parent.value() == L".")
      break;
    current = parent;
  }
  std::reverse(missing.begin(), missing.end());
  for (const base::FilePath& folder : missing) {
    if (!Journal(TransactionJournal::CreatedFolder(folder)))
      return false;
    if (::CreateDirectoryW(folder.c_str(), nullptr)) {
      created_.push_back(folder);
      continue;
    }
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      continue;  // Created by someone else meanwhile: not ours to remove.
    }
    ELOG(ERROR, error) << "CreateDirectoryW " << folder.value() << " failed";
    return false;
  }
  return true;
}

bool CreateFolderOperation::Rollback() {
  bool ok = true;
  while (!created_.empty()) {
    const base::FilePath& folder = created_.back();
    if (!::RemoveDirectoryW(folder.c_str())) {
      PLOG(ERROR) << "Cannot remove created folder " << folder.value();
      ok = false;
    }
    created_.pop_back();
  }
  return ok;
}

}  // namespace installer
