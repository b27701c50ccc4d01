#include "desktop/windows/installer/service/file_identity.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/scoped_generic.h"
#include "base/win/scoped_co_task_mem.h"
#include "base/win/scoped_handle.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"

namespace installer {

namespace {

// Where Windows keeps the pinned items below the roaming application data.
constexpr wchar_t kUserPinnedBelowRoaming[] =
    L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned";
constexpr wchar_t kTaskBarFolder[] = L"TaskBar";

}  // namespace

bool GetFileIdentity(const base::FilePath& path, FileIdentity* identity) {
  // No access rights are needed to read the identity; backup semantics lets
  // folders open too. Full sharing keeps files in use readable.
  base::win::ScopedHandle file(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.IsValid()) {
    const DWORD error = ::GetLastError();
    // Nothing there is an answer, not a failure: a shortcut whose target was
    // removed, or a file that an earlier run took away.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      LOG(INFO) << "No file at " << path << " to read the identity of";
      return false;
    }
    ELOG(ERROR, error) << "Cannot open " << path << " to read its identity";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file.Get(), &info)) {
    PLOG(ERROR) << "Cannot read the identity of " << path;
    return false;
  }
  identity->volume_serial_number = info.dwVolumeSerialNumber;
  identity->file_index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

int ShortcutPointsTo(const base::FilePath& shortcut_path, const FileIdentity& identity) {
  // A shortcut the user removed leads nowhere; it is no failure to read.
  if (!base::PathExists(shortcut_path)) {
    LOG(INFO) << "No shortcut at " << shortcut_path;
    return 0;
  }
  base::FilePath target;
  if (!base::win::ResolveShortcut(shortcut_path, &target, nullptr))
    return 0;
  FileIdentity target_identity;
  if (!GetFileIdentity(target, &target_identity))
    return 0;
  return target_identity == identity ? 1 : 0;
}

bool GetTaskbarPinsFolder(base::FilePath* folder) {
  if (base::win::GetWindowsVersion() < base::win::VERSION_WIN7) {
    LOG(ERROR) << "This Windows has no taskbar pins folder";
    return false;
  }
  base::win::ScopedCoTaskMemString user_pinned;
  const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_UserPinned, KF_FLAG_DONT_VERIFY, nullptr,
                                            user_pinned.Receive());
  if (SUCCEEDED(hr) && user_pinned.IsValid()) {
    *folder = base::FilePath(user_pinned.Get()).Append(kTaskBarFolder);
    return true;
  }
  // Not every shell registers the known folder; Windows keeps it at a fixed
  // place below the roaming application data.
  VLOG(1) << "Known folder UserPinned not available (0x" << std::hex
          << static_cast<unsigned long>(hr) << "); deriving it";
  base::FilePath roaming;
  if (!base::PathRegistry::Get(base::kPathRoamingAppData, &roaming)) {
    LOG(ERROR) << "No roaming application data folder for the taskbar pins";
    return false;
  }
  *folder = roaming.Append(kUserPinnedBelowRoaming).Append(kTaskBarFolder);
  return true;
}

base::FilePath FindTaskbarPin(const FileIdentity& identity) {
  base::FilePath pins;
  if (!GetTaskbarPinsFolder(&pins))
    return base::FilePath();
  base::DirectoryEnumerator enumerator(pins, false, base::DirectoryEnumerator::FILES, L"*.lnk");
  for (base::FilePath pin = enumerator.Next(); !pin.empty(); pin = enumerator.Next()) {
    if (ShortcutPointsTo(pin, identity))
      return pin;
  }
  return base::FilePath();
}

}  // namespace installer
