#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

#include <set>
#include <string>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/empty_folder_sweep.h"

namespace installer {

namespace {

// Temporary names tried beside the file: ".old", then ".old1" to ".old99".
constexpr int kMaxTemporarySuffix = 99;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// True when nothing of that name exists (a file pending deletion still
// holds its name and reads as access denied).
bool NameIsFree(const base::FilePath& path) {
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    return false;
  return IsMissing(::GetLastError());
}

// The temporaries held by operations of this process that may still be
// rolled back. A file deleted twice in one transaction (copied over, then
// deleted) finds the first temporary beside it: that one is not stale and
// must survive.
base::Lock& LiveTemporariesLock() {
  static base::Lock lock;
  return lock;
}

std::set<std::wstring>& LiveTemporaries() {
  static std::set<std::wstring> temporaries;
  return temporaries;
}

std::wstring TemporaryKey(const base::FilePath& path) { return base::ToLowerASCII(path.value()); }

bool IsLiveTemporary(const base::FilePath& path) {
  base::AutoLock lock(LiveTemporariesLock());
  return LiveTemporaries().count(TemporaryKey(path)) != 0;
}

void SetLiveTemporary(const base::FilePath& path, bool live) {
  base::AutoLock lock(LiveTemporariesLock());
  if (live)
    LiveTemporaries().insert(TemporaryKey(path));
  else
    LiveTemporaries().erase(TemporaryKey(path));
}

}  // namespace

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path, bool check_in_use,
                                         bool remove_empty_parents,
                                         const base::FilePath& stop_folder)
    : path_(path),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      stop_folder_(stop_folder) {}

DeleteFileOperation::~DeleteFileOperation() {
  if (moved_)
    Commit();
}

bool DeleteFileOperation::ChooseTemporaryPath() {
  for (int i = 0; i <= kMaxTemporarySuffix; ++i) {
    std::wstring name = path_.value() + L".old";
    if (i)
      name += std::to_wstring(i);
    const base::FilePath candidate(name);
    if (IsLiveTemporary(candidate))
      continue;
    if (NameIsFree(candidate)) {
      temporary_ = candidate;
      return true;
    }
    // A temporary left by an earlier deletion (for instance one waiting for
    // a reboot because the file was in use). Removed when it can be, else
    // the next name is tried.
    const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      continue;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      ::SetFileAttributesW(candidate.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!::DeleteFileW(candidate.c_str())) {
      PLOG(WARNING) << "Stale temporary " << candidate.value() << " cannot be removed";
      continue;
    }
    if (NameIsFree(candidate)) {
      temporary_ = candidate;
      return true;
    }
    LOG(WARNING) << "Stale temporary " << candidate.value() << " is still in use";
  }
  LOG(ERROR) << "No free temporary name beside " << path_.value();
  return false;
}

bool DeleteFileOperation::Execute(OperationList* /*sub_operations*/) {
  if (path_.empty()) {
    LOG(ERROR) << "No file to delete";
    return false;
  }
  original_attributes_ = ::GetFileAttributesW(path_.c_str());
  if (original_attributes_ == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (IsMissing(error)) {
      VLOG(1) << "Nothing to delete at " << path_.value();
      return true;
    }
    ELOG(ERROR, error) << "Cannot read the attributes of " << path_.value();
    return false;
  }
  if (original_attributes_ & FILE_ATTRIBUTE_DIRECTORY) {
    LOG(ERROR) << "Cannot delete " << path_.value() << ": it is a folder";
    return false;
  }
  if (!ChooseTemporaryPath())
    return false;

  // A read-only temporary could not be deleted at commit.
  if (original_attributes_ & FILE_ATTRIBUTE_READONLY) {
    if (!Journal(TransactionJournal::ChangedAttributes(path_, original_attributes_)))
      return false;
    if (!::SetFileAttributesW(path_.c_str(), original_attributes_ & ~FILE_ATTRIBUTE_READONLY)) {
      PLOG(ERROR) << "Cannot clear the read-only attribute of " << path_.value();
      return false;
    }
    attributes_changed_ = true;
  }
  if (!Journal(TransactionJournal::Moved(path_, temporary_))) {
    Rollback();
    return false;
  }
  if (!::MoveFileExW(path_.c_str(), temporary_.c_str(), 0)) {
    PLOG(ERROR) << "Cannot move " << path_.value() << " aside to " << temporary_.value();
    Rollback();
    return false;
  }
  moved_ = true;
  SetLiveTemporary(temporary_, true);

  if (check_in_use_) {
    const std::wstring extension = base::ToLowerASCII(path_.Extension());
    const bool image = extension == L".exe" || extension == L".dll";
    if (!image || refuse_running_program_) {
      // No sharing asked: another open handle refuses it too. The image of a
      // running program refuses writing whatever the sharing.
      base::win::ScopedHandle file(::CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.IsValid()) {
        PLOG(ERROR) << "Cannot delete " << path_.value()
                    << (image ? ": it is in use (a running program uses it)" : ": it is in use");
        Rollback();
        return false;
      }
    }
  }
  return true;
}

bool DeleteFileOperation::Rollback() {
  bool ok = true;
  if (moved_) {
    // Whatever now stands at the old name was made after the deletion, by
    // this transaction.
    moved_ = false;
    if (!::MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      // The temporary is kept (never deleted) so that nothing is lost.
      PLOG(ERROR) << "Cannot move " << temporary_.value() << " back to " << path_.value();
      return false;
    }
    SetLiveTemporary(temporary_, false);
  }
  if (attributes_changed_) {
    attributes_changed_ = false;
    if (!::SetFileAttributesW(path_.c_str(), original_attributes_)) {
      PLOG(ERROR) << "Cannot restore the attributes of " << path_.value();
      ok = false;
    }
  }
  return ok;
}

void DeleteFileOperation::Commit() {
  moved_ = false;
  if (!::DeleteFileW(temporary_.c_str())) {
    // Typically a running program or a loaded library.
    if (left_to_cleanup_) {
      PLOG(INFO) << "Cannot delete " << temporary_.value()
                 << " now; the clean-up after this run deletes it";
    } else {
      // Nothing else will: it goes at reboot.
      PLOG(WARNING) << "Cannot delete " << temporary_.value()
                    << " now; scheduling its deletion at reboot";
      if (!::MoveFileExW(temporary_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        PLOG(ERROR) << "Cannot schedule the deletion of " << temporary_.value() << " at reboot";
    }
  }
  SetLiveTemporary(temporary_, false);
  if (remove_empty_parents_)
    RemoveEmptyParents();
}

void DeleteFileOperation::RemoveEmptyParents() const {
  // Only folders strictly below the stop folder: the walk starts from a path
  // that may come from a file anyone could edit, and must not climb out. A
  // ".." would put a folder outside textually below the stop folder.
  if (path_.ReferencesParent()) {
    LOG(WARNING) << "Not removing emptied folders above " << path_.value()
                 << ": the path refers to a parent folder";
    return;
  }
  // Within a transaction's commit each folder is tried once, after every
  // deletion of the commit.
  EmptyFolderSweep* sweep = EmptyFolderSweep::Current();
  base::FilePath folder = path_.DirName();
  while (stop_folder_.IsParent(folder)) {
    if (sweep) {
      sweep->Add(folder);
    } else if (!::RemoveDirectoryW(folder.c_str())) {
      const DWORD error = ::GetLastError();
      // A folder still holding something is where the removal stops.
      if (error != ERROR_DIR_NOT_EMPTY)
        ELOG(WARNING, error) << "Cannot remove emptied folder " << folder.value();
      return;
    }
    folder = folder.DirName();
  }
}

}  // namespace installer
