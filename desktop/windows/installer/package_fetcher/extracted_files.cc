#include "desktop/windows/installer/package_fetcher/extracted_files.h"

namespace installer {

base::win::ScopedHandle ExtractedFiles::Create(const base::FilePath& path, uint32_t index,
                                               DWORD* error) {
  // Made and recorded under one hold: an entry that fails on the file
  // finds whose it is.
  base::AutoLock hold(lock_);
  base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD last_error = ::GetLastError();
    *error = last_error != ERROR_SUCCESS ? last_error : ERROR_CANNOT_MAKE;
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (::GetFileInformationByHandle(file.Get(), &info))
    owners_.emplace(IdentityOf(info), index);
  return file;
}

bool ExtractedFiles::FindOwner(const base::FilePath& path, uint32_t* index) {
  // No access is asked for: the owner may still hold the file without
  // sharing.
  base::win::ScopedHandle file(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &info))
    return false;
  base::AutoLock hold(lock_);
  const auto found = owners_.find(IdentityOf(info));
  if (found == owners_.end())
    return false;
  *index = found->second;
  return true;
}

// static
ExtractedFiles::Identity ExtractedFiles::IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace installer
