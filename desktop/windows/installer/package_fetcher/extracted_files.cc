#include "desktop/windows/installer/package_fetcher/extracted_files.h"

#include <string>

namespace installer {
namespace {

// A file as its volume knows it, whatever name reached it.
struct Identity {
  DWORD volume = 0;
  uint64_t index = 0;
  bool is_folder = false;

  bool operator==(const Identity& other) const {
    return volume == other.volume && index == other.index;
  }
};

// False when nothing can be opened at |path|.
bool IdentityAt(const base::FilePath& path, Identity* identity) {
  // No access is asked for: the maker may still hold the file without
  // sharing.
  base::win::ScopedHandle file(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &info))
    return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

// The path under which the file system holds the file at |path|: every
// short name in it replaced by the long one. Empty when it cannot say.
std::wstring LongPathOf(const base::FilePath& path) {
  std::wstring long_path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        ::GetLongPathNameW(path.c_str(), long_path.data(), static_cast<DWORD>(long_path.size()));
    if (length == 0)
      return std::wstring();
    if (length < long_path.size()) {
      long_path.resize(length);
      return long_path;
    }
    long_path.assign(length, L'\0');
  }
  return std::wstring();
}

}  // namespace

base::win::ScopedHandle ExtractedFiles::Create(uint32_t index, DWORD* error) const {
  base::win::ScopedHandle file(::CreateFileW(paths_[index].c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD last_error = ::GetLastError();
    *error = last_error != ERROR_SUCCESS ? last_error : ERROR_CANNOT_MAKE;
  }
  return file;
}

bool ExtractedFiles::FindOwner(uint32_t index, uint32_t* owner) const {
  Identity identity;
  if (!IdentityAt(paths_[index], &identity) || identity.is_folder)
    return false;
  auto reaches = [&](size_t other) {
    Identity found;
    return other != index && IdentityAt(paths_[other], &found) && found == identity;
  };
  // The names the file system holds the file and the unpacking folder
  // under give the maker's path, unless the maker's own name holds a
  // short name too: that one is looked at first, then every entry.
  const std::wstring long_path = LongPathOf(paths_[index]);
  const std::wstring long_folder = LongPathOf(folder_);
  if (!long_path.empty() && !long_folder.empty() && long_path.size() > long_folder.size() &&
      base::FilePath::CompareEqualIgnoreCase(long_path.substr(0, long_folder.size()),
                                             long_folder)) {
    const std::wstring maker = folder_.value() + long_path.substr(long_folder.size());
    for (size_t other = 0; other < paths_.size(); ++other) {
      if (base::FilePath::CompareEqualIgnoreCase(paths_[other].value(), maker) && reaches(other)) {
        *owner = static_cast<uint32_t>(other);
        return true;
      }
    }
  }
  for (size_t other = 0; other < paths_.size(); ++other) {
    if (reaches(other)) {
      *owner = static_cast<uint32_t>(other);
      return true;
    }
  }
  return false;
}

}  // namespace installer
