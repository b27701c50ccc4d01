#include "desktop/windows/installer/service/transactions/rename_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

namespace installer {

RenameOperation::RenameOperation(const base::FilePath& source, const base::FilePath& destination,
                                 bool* not_same_volume)
    : source_(source.StripTrailingSeparators()),
      destination_(destination.StripTrailingSeparators()),
      not_same_volume_(not_same_volume) {}

// Nothing is deferred: the old name is simply gone.
RenameOperation::~RenameOperation() = default;

bool RenameOperation::Execute(OperationList* sub_operations) {
  if (source_.empty() || destination_.empty()) {
    LOG(ERROR) << "Rename needs a source and a destination";
    return false;
  }
  const DWORD source_attributes = ::GetFileAttributesW(source_.c_str());
  if (source_attributes == INVALID_FILE_ATTRIBUTES) {
    PLOG(ERROR) << "Cannot move " << source_.value();
    return false;
  }
  const bool folder = (source_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

  const base::FilePath parent = destination_.DirName();
  if (!parent.empty() && parent != destination_ &&
      ::GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!ExecuteSubOperation(std::make_unique<CreateFolderOperation>(parent), sub_operations)) {
      LOG(ERROR) << "Cannot move to " << destination_.value() << ": no folder";
      return false;
    }
  }

  const DWORD destination_attributes = ::GetFileAttributesW(destination_.c_str());
  if (destination_attributes != INVALID_FILE_ATTRIBUTES) {
    if (folder || (destination_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      LOG(ERROR) << "Cannot move " << source_.value() << " onto the existing "
                 << destination_.value();
      return false;
    }
    // Moved aside rather than replaced, so that rollback can bring it back.
    if (!ExecuteSubOperation(std::make_unique<DeleteFileOperation>(destination_, false, false),
                             sub_operations)) {
      LOG(ERROR) << "Cannot move to " << destination_.value()
                 << ": the existing file cannot be moved aside";
      return false;
    }
  }

  if (!Journal(TransactionJournal::Moved(source_, destination_)))
    return false;
  // No copying fallback here: a copy is the caller's decision, with its own
  // undo.
  if (!::MoveFileExW(source_.c_str(), destination_.c_str(), 0)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NOT_SAME_DEVICE && not_same_volume_) {
      *not_same_volume_ = true;
      return false;
    }
    ELOG(ERROR, error) << "MoveFileExW " << source_.value() << " to " << destination_.value()
                       << " failed";
    return false;
  }
  moved_ = true;
  return true;
}

bool RenameOperation::Rollback() {
  if (!moved_)
    return true;
  moved_ = false;
  // The source's folder may have been removed by whoever emptied it.
  const base::FilePath source_parent = source_.DirName();
  if (!source_parent.empty() && source_parent != source_ &&
      !base::CreateDirectoryTree(source_parent)) {
    LOG(ERROR) << "Cannot make " << source_parent.value() << " to move " << destination_.value()
               << " back";
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(destination_.c_str());
  const DWORD flags =
      (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
          ? MOVEFILE_REPLACE_EXISTING
          : 0;
  if (!::MoveFileExW(destination_.c_str(), source_.c_str(), flags)) {
    PLOG(ERROR) << "Cannot move " << destination_.value() << " back to " << source_.value();
    return false;
  }
  return true;
}

}  // namespace installer
