// Where an installation may go and where the last one went: the folder of
// the last installation recorded in the registry, the drives fit for a
// stand-alone copy, and the uninstall entries of other installations of the
// same stream (which share the user profile).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_FOLDER_DISCOVERY_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_FOLDER_DISCOVERY_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The folder of the last installation, from the string values under the
// company key of HKEY_CURRENT_USER; empty when none names an existing
// absolute folder that holds an installation's record.
base::FilePath ReadRegistryInstallFolder(bool x64);
// The same below |root|\|key_path|.
base::FilePath ReadRegistryInstallFolderFrom(HKEY root, const std::wstring& key_path, bool x64);
// Tests: makes ReadRegistryInstallFolder read below |root|\|key_path|
// (a null root restores the company key).
void SetInstallFolderRegistryKeyForTesting(HKEY root, const std::wstring& key_path);

// The drives of the machine, as the search for stand-alone folders sees
// them.
class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  // Bit n set: drive letter 'A' + n exists.
  virtual DWORD GetLogicalDrives() const = 0;
  // Whether the drive holds a medium.
  virtual bool HasMedium(wchar_t letter) const = 0;
  // GetDriveTypeW of the drive's root.
  virtual UINT GetDriveType(wchar_t letter) const = 0;
};

// The real drives: the storage check-verify request on "\\.\X:".
class SystemDriveProbe : public DriveProbe {
 public:
  DWORD GetLogicalDrives() const override;
  bool HasMedium(wchar_t letter) const override;
  UINT GetDriveType(wchar_t letter) const override;
};

// The rank of a drive type for a stand-alone copy; lower is better.
int32_t GetStandaloneDrivePriority(UINT drive_type);

// The stand-alone candidates: "<letter>:\<visible product name>" of each
// drive with a medium, best first; beyond the best one, CD-ROM drives and
// drives of unknown kind are dropped.
std::vector<base::FilePath> FindStandaloneFolders(const DriveProbe& probe);
// With the system's drives, or those of the probe a test set.
std::vector<base::FilePath> FindStandaloneFolders();
// Tests: the probe FindStandaloneFolders() uses (null: the system's). The
// caller keeps it alive while it is set.
void SetDriveProbeForTesting(const DriveProbe* probe);

// One place holding uninstall entries.
struct UninstallEntryPlace {
  HKEY root = nullptr;
  std::wstring key_path;
  // KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
  REGSAM view = 0;
};

// HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE in the 64-bit view (on a
// 64-bit system only), then in the 32-bit view; each with the uninstall key.
std::vector<UninstallEntryPlace> GetUninstallEntryPlaces();
// Tests: the places the settings search (null: the system's). The caller
// keeps the list alive while it is set.
void SetUninstallEntryPlacesForTesting(const std::vector<UninstallEntryPlace>* places);
std::vector<UninstallEntryPlace> GetUninstallEntryPlacesInUse();

// Whether |word|, the stream word of an entry's display name, names the
// build stream |stream|.
bool UninstallStreamWordMatches(int stream, std::wstring_view word);

// The uninstall entries (as "<place index>:<subkey name>") of the product
// of stream |stream|, searched in the order of |places|; the search stops
// at |max_matches|.
std::vector<std::wstring> FindSameStreamUninstallEntries(
    const std::vector<UninstallEntryPlace>& places, int stream, size_t max_matches);

// The folder below which a user's own programs are installed: before
// Windows 7 "Programs" below the local application data, from Windows 7 on
// the known folder UserProgramFiles (created when missing), with the local
// application data as fallback.
bool GetUserProgramsFolder(base::FilePath* folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_FOLDER_DISCOVERY_H_
