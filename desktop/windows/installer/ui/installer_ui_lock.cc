#include "desktop/windows/installer/ui/installer_ui_lock.h"

#include <string>

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {
namespace {

// Keeps the UI mutex held for one scope: the lock file is created or read
// under it, so that two instances starting together cannot both believe
// they own the lock.
class ScopedMutexHold {
 public:
  explicit ScopedMutexHold(HANDLE mutex) : mutex_(mutex) {}
  ScopedMutexHold(const ScopedMutexHold&) = delete;
  ScopedMutexHold& operator=(const ScopedMutexHold&) = delete;
  ~ScopedMutexHold() {
    if (!::ReleaseMutex(mutex_))
      PLOG(WARNING) << "Failed to release installer UI mutex";
  }

 private:
  HANDLE mutex_;
};

BOOL CALLBACK ActivateFirstUsableWindow(HWND window, LPARAM activated) {
  if (!::IsWindowEnabled(window) || !::IsWindowVisible(window))
    return TRUE;
  ::SetForegroundWindow(window);
  *reinterpret_cast<bool*>(activated) = true;
  return FALSE;
}

}  // namespace

DWORD AcquireInstallerUILock(const base::FilePath& folder, base::win::ScopedHandle* lock_file) {
  LOG(INFO) << "Getting installer UI mutex";
  const std::wstring mutex_name =
      L"Local\\" + base::UTF8ToWide(GetProductName()) + L"/Installer/UI_lock";
  base::win::ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
  if (!mutex.IsValid()) {
    LOG(WARNING) << "Failed to create installer UI mutex.";
    return 0;
  }
  // An owner that died while holding the mutex leaves it abandoned, which
  // hands it to us all the same.
  const DWORD wait = ::WaitForSingleObject(mutex.Get(), INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    PLOG(WARNING) << "Failed to wait for installer UI mutex";
    return 0;
  }
  ScopedMutexHold hold(mutex.Get());

  const base::FilePath path = folder.Append(kInstallerUILockFileName);
  lock_file->Reset(::CreateFileW(path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (lock_file->IsValid()) {
    const DWORD thread_id = ::GetCurrentThreadId();
    // Little-endian on every Windows this runs on.
    DWORD written = 0;
    if (!::WriteFile(lock_file->Get(), &thread_id, sizeof(thread_id), &written, nullptr) ||
        written != sizeof(thread_id)) {
      // The lock is held all the same; a second instance that cannot read
      // an id runs on without switching.
      PLOG(WARNING) << "Failed to write the installer UI lock file";
    }
    VLOG(1) << "Obtained installer UI lock";
    return thread_id;
  }

  VLOG(1) << "Didn't obtain installer UI lock";
  base::win::ScopedHandle existing(::CreateFileW(
      path.value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, 0, nullptr));
  if (!existing.IsValid()) {
    LOG(WARNING) << "Existing installer UI lock file is invalid";
    return 0;
  }
  DWORD owner_thread = 0;
  DWORD read = 0;
  // A short or failed read leaves 0: the run goes on without the lock
  // rather than switching to a thread that cannot be named.
  if (!::ReadFile(existing.Get(), &owner_thread, sizeof(owner_thread), &read, nullptr) ||
      read != sizeof(owner_thread)) {
    LOG(WARNING) << "Existing installer UI lock file is invalid";
    return 0;
  }
  return owner_thread;
}

bool ActivateThreadWindow(DWORD thread_id) {
  bool activated = false;
  ::EnumThreadWindows(thread_id, &ActivateFirstUsableWindow, reinterpret_cast<LPARAM>(&activated));
  return activated;
}

}  // namespace installer
