#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

namespace installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : source_(source), destination_(destination) {}

// The moved-aside old file is a sub-operation and commits itself.
CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Execute(OperationList* sub_operations) {
  if (source_.empty() || destination_.empty()) {
    LOG(ERROR) << "Copy needs a source and a destination";
    return false;
  }
  const DWORD source_attributes = ::GetFileAttributesW(source_.c_str());
  if (source_attributes == INVALID_FILE_ATTRIBUTES) {
    PLOG(ERROR) << "Cannot copy " << source_.value();
    return false;
  }
  if (source_attributes & FILE_ATTRIBUTE_DIRECTORY) {
    LOG(ERROR) << "Cannot copy " << source_.value() << ": it is a folder";
    return false;
  }

  const base::FilePath folder = destination_.DirName();
  if (!folder.empty() && folder != destination_ &&
      ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!ExecuteSubOperation(std::make_unique<CreateFolderOperation>(folder), sub_operations)) {
      LOG(ERROR) << "Cannot copy to " << destination_.value() << ": no folder";
      return false;
    }
  }

  const DWORD destination_attributes = ::GetFileAttributesW(destination_.c_str());
  if (destination_attributes != INVALID_FILE_ATTRIBUTES) {
    if (destination_attributes & FILE_ATTRIBUTE_DIRECTORY) {
      LOG(ERROR) << "Cannot copy onto folder " << destination_.value();
      return false;
    }
    // Moved aside rather than overwritten, so that rollback can bring it
    // back. This also takes care of a read-only old file.
    if (!ExecuteSubOperation(std::make_unique<DeleteFileOperation>(destination_, false, false),
                             sub_operations)) {
      LOG(ERROR) << "Cannot copy to " << destination_.value()
                 << ": the existing file cannot be moved aside";
      return false;
    }
  }

  if (!Journal(TransactionJournal::CreatedFile(destination_)))
    return false;
  copy_started_ = true;
  if (!::CopyFileW(source_.c_str(), destination_.c_str(), TRUE)) {
    PLOG(ERROR) << "CopyFileW " << source_.value() << " to " << destination_.value() << " failed";
    return false;
  }
  // A read-only copy would stop the next update from replacing it.
  const DWORD copy_attributes = ::GetFileAttributesW(destination_.c_str());
  if (copy_attributes == INVALID_FILE_ATTRIBUTES) {
    PLOG(ERROR) << "Cannot read the attributes of " << destination_.value();
    return false;
  }
  if ((copy_attributes & FILE_ATTRIBUTE_READONLY) &&
      !::SetFileAttributesW(destination_.c_str(), copy_attributes & ~FILE_ATTRIBUTE_READONLY)) {
    PLOG(ERROR) << "Cannot clear the read-only attribute of " << destination_.value();
    return false;
  }
  return true;
}

bool CopyFileOperation::Rollback() {
  if (!copy_started_)
    return true;
  copy_started_ = false;
  const DWORD attributes = ::GetFileAttributesW(destination_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return true;  // The copy never got created.
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !::SetFileAttributesW(destination_.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    PLOG(ERROR) << "Cannot clear the read-only attribute of " << destination_.value();
  }
  if (!::DeleteFileW(destination_.c_str())) {
    PLOG(ERROR) << "Cannot delete the copy " << destination_.value();
    return false;
  }
  return true;
}

}  // namespace installer
