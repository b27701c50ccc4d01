#include "desktop/windows/installer/service/transactions/empty_folder_sweep.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/threading/thread_local_slot.h"

namespace installer {
namespace {

base::ThreadLocalSlot& CurrentSweepSlot() {
  static base::ThreadLocalSlot slot;
  static const bool reserved = slot.Initialize(nullptr);
  (void)reserved;
  return slot;
}

}  // namespace

EmptyFolderSweep::EmptyFolderSweep() : outer_(Current()) {
  // Without the slot the deletions remove their folders themselves.
  CurrentSweepSlot().Set(this);
}

EmptyFolderSweep::~EmptyFolderSweep() {
  CurrentSweepSlot().Set(outer_);
  std::vector<const base::FilePath*> deepest_first;
  deepest_first.reserve(folders_.size());
  for (const auto& [key, folder] : folders_)
    deepest_first.push_back(&folder);
  // A folder's path is longer than its parent's.
  std::stable_sort(deepest_first.begin(), deepest_first.end(),
                   [](const base::FilePath* a, const base::FilePath* b) {
                     return a->value().size() > b->value().size();
                   });
  for (const base::FilePath* folder : deepest_first) {
    if (::RemoveDirectoryW(folder->c_str()))
      continue;
    const DWORD error = ::GetLastError();
    // A folder still holding something stays; one gone already is no loss.
    if (error != ERROR_DIR_NOT_EMPTY && error != ERROR_FILE_NOT_FOUND &&
        error != ERROR_PATH_NOT_FOUND) {
      ELOG(WARNING, error) << "Cannot remove emptied folder " << folder->value();
    }
  }
}

// static
EmptyFolderSweep* EmptyFolderSweep::Current() {
  return static_cast<EmptyFolderSweep*>(CurrentSweepSlot().Get());
}

void EmptyFolderSweep::Add(const base::FilePath& folder) {
  folders_.emplace(base::ToLowerASCII(folder.value()), folder);
}

}  // namespace installer
