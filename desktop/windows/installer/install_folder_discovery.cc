#include "desktop/windows/installer/install_folder_discovery.h"

#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/threading/lock.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace {

// {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
constexpr KNOWNFOLDERID kFolderIdUserProgramFiles = {
    0x5cd7aee2,
    0x2219,
    0x4a67,
    {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
constexpr KNOWNFOLDERID kFolderIdLocalAppData = {0xf1b32785,
                                                 0x6fba,
                                                 0x4fcf,
                                                 {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};

std::atomic<const DriveProbe*> g_drive_probe{nullptr};
std::atomic<const std::vector<UninstallEntryPlace>*> g_uninstall_places{nullptr};

// The registry seam is set and read on the main thread only.
HKEY g_registry_root = nullptr;
std::wstring* g_registry_key_path = nullptr;

struct StandaloneCandidate {
  base::FilePath folder;
  int32_t priority = 0;
};

}  // namespace

// static
base::FilePath ReadRegistryInstallFolderFrom(HKEY root, const std::wstring& key_path, bool x64) {
  base::win::RegistryKey key;
  if (key.Open(root, key_path.c_str(), KEY_READ) != ERROR_SUCCESS)
    return base::FilePath();

  const std::wstring stream = base::ASCIIToWide(GetStreamName());
  struct Candidate {
    std::wstring name;
    const char* label;
  };
  std::vector<Candidate> candidates;
  if (x64)
    candidates.push_back(
        {L"Last " + stream + L" Install Path x64", "Install folder reg value [legacy x64]: "});
  candidates.push_back(
      {L"Last " + stream + L" Install Path", "Install folder reg value [standard]: "});
  candidates.push_back(
      {L"Last " + base::ASCIIToWide(GetChannelName(GetBuildStream())) + L" Install Path",
       "Install folder reg value [beta=next]: "});
  if (GetBuildStream() == 4)
    candidates.push_back({L"Last install path", "Install folder reg value [primordial]: "});

  std::wstring value;
  bool found = false;
  for (const Candidate& candidate : candidates) {
    if (!key.HasValue(candidate.name.c_str()))
      continue;
    if (key.ReadValue(candidate.name.c_str(), &value) != ERROR_SUCCESS) {
      VLOG(1) << "Cannot read the install folder reg value " << candidate.name;
      continue;
    }
    VLOG(1) << candidate.label << value;
    found = true;
    break;
  }
  if (!found)
    return base::FilePath();

  base::FilePath folder = base::FilePath(value).StripTrailingSeparators();
  if (!folder.IsAbsolute() || !base::DirectoryExists(folder)) {
    VLOG(1) << "Install folder reg value is not an existing absolute folder: " << folder;
    folder.clear();
  } else if (!base::PathExists(folder.Append(Installation::kInstallLogFileName)) &&
             !base::PathExists(folder.Append(kTarselInstallLogFileName))) {
    // What an uninstallation, a failed run or anybody else left there (an
    // empty folder, a few files) is no installation to go on with: the
    // next one goes where it would on a machine without it, which for an
    // installation for all users is never a folder of this user's.
    VLOG(1) << "Install folder reg value holds no installation: " << folder;
    folder.clear();
  }
  VLOG(1) << "Install folder from reg value " << folder;
  return folder;
}

base::FilePath ReadRegistryInstallFolder(bool x64) {
  if (g_registry_root && g_registry_key_path)
    return ReadRegistryInstallFolderFrom(g_registry_root, *g_registry_key_path, x64);
  return ReadRegistryInstallFolderFrom(HKEY_CURRENT_USER, GetCompanyRegistryKey(), x64);
}

void SetInstallFolderRegistryKeyForTesting(HKEY root, const std::wstring& key_path) {
  delete g_registry_key_path;
  g_registry_key_path = root ? new std::wstring(key_path) : nullptr;
  g_registry_root = root;
}

DWORD SystemDriveProbe::GetLogicalDrives() const {
  DWORD mask = ::GetLogicalDrives();
  if (!mask)
    PLOG(ERROR) << "GetLogicalDrives failed";
  return mask;
}

bool SystemDriveProbe::HasMedium(wchar_t letter) const {
  std::wstring device = L"\\\\.\\";
  device += letter;
  device += L':';
  base::win::ScopedHandle handle(::CreateFileW(device.c_str(), FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
  if (!handle.IsValid()) {
    VLOG(1) << "Cannot open the drive " << device << " (error " << ::GetLastError() << ")";
    return false;
  }
  DWORD returned = 0;
  if (::DeviceIoControl(handle.Get(), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0,
                        &returned, nullptr)) {
    return true;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_MEDIA_CHANGED)
    return true;
  VLOG(1) << "No medium in the drive " << device << " (error " << error << ")";
  return false;
}

UINT SystemDriveProbe::GetDriveType(wchar_t letter) const {
  std::wstring root;
  root += letter;
  root += L":\\";
  return ::GetDriveTypeW(root.c_str());
}

int32_t GetStandaloneDrivePriority(UINT drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE: return 0;
    case DRIVE_REMOTE: return 1;
    case DRIVE_FIXED: return 3;
    case DRIVE_RAMDISK: return 4;
    case DRIVE_CDROM: return 5;
    case DRIVE_NO_ROOT_DIR: return 7;
    default: return 6;
  }
}

std::vector<base::FilePath> FindStandaloneFolders(const DriveProbe& probe) {
  const std::wstring name = base::UTF8ToWide(GetVisibleProductName());
  const DWORD mask = probe.GetLogicalDrives();
  std::vector<StandaloneCandidate> candidates;
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i)))
      continue;
    const wchar_t letter = static_cast<wchar_t>(L'A' + i);
    if (!probe.HasMedium(letter))
      continue;
    std::wstring folder;
    folder += letter;
    folder += L":\\";
    folder += name;
    candidates.push_back(
        {base::FilePath(folder), GetStandaloneDrivePriority(probe.GetDriveType(letter))});
  }
  LOG(INFO) << "Found " << candidates.size() << " paths for standalone install mode.";
  if (candidates.size() > 1) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const StandaloneCandidate& a, const StandaloneCandidate& b) {
                       return a.priority < b.priority;
                     });
    candidates.erase(std::remove_if(candidates.begin() + 1, candidates.end(),
                                    [](const StandaloneCandidate& candidate) {
                                      return candidate.priority >= 5;
                                    }),
                     candidates.end());
  }
  std::vector<base::FilePath> folders;
  for (const StandaloneCandidate& candidate : candidates) {
    VLOG(1) << "Listing default install path for standalone install mode: " << candidate.folder;
    folders.push_back(candidate.folder);
  }
  return folders;
}

std::vector<base::FilePath> FindStandaloneFolders() {
  if (const DriveProbe* probe = g_drive_probe.load(std::memory_order_acquire))
    return FindStandaloneFolders(*probe);
  return FindStandaloneFolders(SystemDriveProbe());
}

void SetDriveProbeForTesting(const DriveProbe* probe) {
  g_drive_probe.store(probe, std::memory_order_release);
}

std::vector<UninstallEntryPlace> GetUninstallEntryPlaces() {
  const std::wstring key = GetUninstallRegistryKey();
  std::vector<UninstallEntryPlace> places;
  places.push_back({HKEY_CURRENT_USER, key, 0});
  if (base::win::WindowsVersionInfo::GetInstance()->architecture() != base::win::X86_ARCHITECTURE) {
    places.push_back({HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY});
  }
  places.push_back({HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY});
  return places;
}

void SetUninstallEntryPlacesForTesting(const std::vector<UninstallEntryPlace>* places) {
  g_uninstall_places.store(places, std::memory_order_release);
}

std::vector<UninstallEntryPlace> GetUninstallEntryPlacesInUse() {
  if (const auto* places = g_uninstall_places.load(std::memory_order_acquire))
    return *places;
  return GetUninstallEntryPlaces();
}

bool UninstallStreamWordMatches(int stream, std::wstring_view word) {
  switch (stream) {
    case 4: return word == L"Stable";
    case 3: return word == L"beta" || word == L"Next";
    case 2: return word == L"developer" || word == L"Developer";
    case 1: return word == L"nightly";
    default: return false;
  }
}

std::vector<std::wstring> FindSameStreamUninstallEntries(
    const std::vector<UninstallEntryPlace>& places, int stream, size_t max_matches) {
  std::vector<std::wstring> matches;
  for (size_t place_index = 0; place_index < places.size(); ++place_index) {
    const UninstallEntryPlace& place = places[place_index];
    for (base::win::RegistryKeyIterator it(place.root, place.key_path.c_str(), place.view);
         it.Valid(); ++it) {
      const std::wstring& name = it.Name();
      if (!base::StartsWith(name, L"Velmo"))
        continue;
      base::win::RegistryKey entry;
      const std::wstring entry_path = place.key_path + L"\\" + name;
      if (entry.Open(place.root, entry_path.c_str(), KEY_READ | place.view) != ERROR_SUCCESS)
        continue;

      std::wstring publisher;
      if (entry.ReadValue(L"Publisher", &publisher) != ERROR_SUCCESS) {
        VLOG(1) << "Cannot read Publisher in an uninstall key";
        continue;
      }
      if (!base::StartsWith(publisher, L"Velmo Software"))
        continue;
      std::wstring display_name;
      if (entry.ReadValue(L"DisplayName", &display_name) != ERROR_SUCCESS) {
        VLOG(1) << "Cannot read Display Name in an uninstall key";
        continue;
      }
      static constexpr std::wstring_view kPrefix = L"Velmo ";
      if (!base::StartsWith(display_name, kPrefix)) {
        VLOG(1) << "DisplayName does not start with Velmo";
        continue;
      }
      std::wstring_view rest = std::wstring_view(display_name).substr(kPrefix.size());
      size_t blank = rest.find(L' ');
      if (blank == std::wstring_view::npos)
        continue;
      if (!UninstallStreamWordMatches(stream, rest.substr(0, blank)))
        continue;
      matches.push_back(base::NumberToString16(static_cast<unsigned>(place_index)) + L":" + name);
      if (matches.size() >= max_matches)
        return matches;
    }
  }
  return matches;
}

bool GetUserProgramsFolder(base::FilePath* folder) {
  if (base::win::GetWindowsVersion() < base::win::VERSION_WIN7) {
    base::FilePath local_app_data;
    if (!base::PathRegistry::Get(base::kPathLocalAppData, &local_app_data)) {
      LOG(ERROR) << "Cannot find the local application data folder";
      return false;
    }
    *folder = local_app_data.Append(L"Programs");
    return true;
  }
  if (!base::GetKnownFolderPath(kFolderIdUserProgramFiles, kFolderIdLocalAppData, folder, true)) {
    LOG(ERROR) << "Cannot find the folder of the user's programs";
    return false;
  }
  return true;
}

// Settings' part of the folder discovery.

void Settings::CheckProfileSharedByOtherInstallations() {
  // A second installation of this stream shares the profile: deleting it
  // would take the other installation's data too.
  if (FindSameStreamUninstallEntries(GetUninstallEntryPlacesInUse(), GetBuildStream(), 2).size() >=
      2) {
    profile_deletion_allowed_ = false;
  }
}

base::FilePath Settings::GetDefaultInstallFolder(uint32_t sources) const {
  return ComputeDefaultInstallFolder(sources, IsX64(), IsFlagSet(ALL_USERS_FLAG),
                                     IsFlagSet(COPY_ONLY));
}

base::FilePath Settings::ComputeDefaultInstallFolder(uint32_t sources, bool x64, bool all_users,
                                                     bool copy_only) const {
  VLOG(2) << "Retrieving default installation folder path"
          << " - Using command line: " << ((sources & kFromCommandLine) != 0)
          << " - Using the registry: " << ((sources & kFromRegistry) != 0)
          << " - Using the standard folder: " << ((sources & kFromStandardFolder) != 0);
  if ((sources & kFromCommandLine) && !command_line_folder_.empty())
    return command_line_folder_;
  VLOG(2) << "Default install folder: not from command line";

  if (!copy_only && (sources & kFromRegistry) && !registry_folder_.empty())
    return registry_folder_;
  if (copy_only || !(sources & kFromRegistry))
    VLOG(2) << "Default install folder: not from registry";

  if (!(sources & kFromStandardFolder))
    return base::FilePath();

  const std::wstring name = base::UTF8ToWide(GetVisibleProductName());
  if (all_users) {
    VLOG(2) << "Default install folder: for all users";
    base::FilePath base_folder;
    if (!base::PathRegistry::Get(x64 ? base::kPathProgramFilesNative : base::kPathProgramFilesX86,
                                 &base_folder)) {
      LOG(ERROR) << "Cannot find the program files folder";
      return base::FilePath();
    }
    return base_folder.Append(name);
  }
  if (copy_only) {
    VLOG(2) << "Default install folder: for all standalone";
    return standalone_folders_.empty() ? base::FilePath() : standalone_folders_.front();
  }
  VLOG(2) << "Default install folder: for current user";
  base::FilePath base_folder;
  if (!GetUserProgramsFolder(&base_folder))
    return base::FilePath();
  return base_folder.Append(name);
}

std::vector<base::FilePath> Settings::GetDefaultInstallFolders() const {
  if (IsFlagSet(COPY_ONLY))
    return standalone_folders_;
  return {ComputeDefaultInstallFolder(kFromRegistry | kFromStandardFolder, IsX64(),
                                      IsFlagSet(ALL_USERS_FLAG), false)};
}

void Settings::FindStandaloneFolders() {
  for (const base::FilePath& folder : installer::FindStandaloneFolders())
    standalone_folders_.push_back(folder);
}

}  // namespace installer
