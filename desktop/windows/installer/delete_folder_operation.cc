#include "desktop/windows/installer/delete_folder_operation.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

// Names tried beside the folder: ".old", then ".old1" to ".old99".
constexpr int kMaxTemporarySuffix = 99;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

DeleteFolderOperation::DeleteFolderOperation(const base::FilePath& folder) : folder_(folder) {}

DeleteFolderOperation::~DeleteFolderOperation() {
  if (!moved_)
    return;
  // Commit: the renamed tree goes for good. What cannot be deleted now (a
  // file held open) stays under the temporary name, out of the user's way.
  if (!base::DeletePath(temporary_, true))
    LOG(WARNING) << "Could not delete the removed folder " << temporary_;
}

bool DeleteFolderOperation::Execute(OperationList* /*sub_operations*/) {
  if (folder_.empty()) {
    LOG(ERROR) << "No folder to delete";
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(folder_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (IsMissing(error)) {
      VLOG(1) << "No folder to delete at " << folder_;
      return true;
    }
    ELOG(ERROR, error) << "Cannot read the attributes of " << folder_;
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LOG(ERROR) << "Cannot delete " << folder_ << " as a folder: it is a file";
    return false;
  }
  for (int i = 0; i <= kMaxTemporarySuffix; ++i) {
    std::wstring name = folder_.StripTrailingSeparators().value() + L".old";
    if (i)
      name += std::to_wstring(i);
    const base::FilePath candidate(name);
    if (::GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES ||
        !IsMissing(::GetLastError())) {
      continue;
    }
    if (!Journal(TransactionJournal::Moved(folder_, candidate)))
      return false;
    if (!::MoveFileExW(folder_.c_str(), candidate.c_str(), 0)) {
      PLOG(ERROR) << "Cannot move the folder " << folder_ << " aside to " << candidate;
      return false;
    }
    temporary_ = candidate;
    moved_ = true;
    return true;
  }
  LOG(ERROR) << "No free temporary name beside " << folder_;
  return false;
}

bool DeleteFolderOperation::Rollback() {
  if (!moved_)
    return true;
  if (!::MoveFileExW(temporary_.c_str(), folder_.c_str(), 0)) {
    // The renamed folder is kept (never deleted), so nothing is lost.
    PLOG(ERROR) << "Cannot move the folder " << temporary_ << " back to " << folder_;
    moved_ = false;
    return false;
  }
  moved_ = false;
  return true;
}

}  // namespace installer
