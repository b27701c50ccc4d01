// Names of kernel objects (mutexes, events, mailslots) that belong to one
// installation folder: the one place where the installer processes that
// work on a folder agree on how to find each other.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_

#include <string>
#include <string_view>

#include "base/files/file_path.h"

namespace installer {

// "Global\" (|global|) or "Local\", then |name|, "/" and |path|; every "\"
// of |name| and |path| becomes "/", since a backslash after the namespace
// prefix would name a kernel object directory.
std::wstring GetKernelObjectName(const base::FilePath& path, std::wstring_view name, bool global);

// Events of an installation, named with GetKernelObjectName ("Global"):
// the front end interrupts the back end with the first and tells it that
// the package is unpacked with the second.
inline constexpr wchar_t kInstallationInterruptedEventName[] =
    L"VelmoInstaller/InstallationInterrupted";
inline constexpr wchar_t kPackageReadyEventName[] = L"VelmoInstaller/PackageReady";

// Events between an installer and its folder-permission process, under
// "Local\" names. The helper signals the first once the folder's access
// list is changed; the installer signals the second when its run ends.
inline constexpr wchar_t kGiveInstallPermissionEventName[] =
    L"VelmoInstaller/GiveInstallPermission";
inline constexpr wchar_t kGiveInstallPermissionUndoEventName[] =
    L"VelmoInstaller/GiveInstallPermission/Undo";

// The installer mutex of |install_folder|, held by the front end (and the
// back end it launched) for the whole installation: "Global\Velmo/Installer/"
// and the folder with every "\" turned into "/".
std::wstring GetInstallerMutexName(const base::FilePath& install_folder);
// The mailslot on which the back end reports to the front end, without the
// "\\.\mailslot\" prefix: "velmo_installer\" and the folder unchanged.
std::wstring GetInstallerMailslotName(const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
