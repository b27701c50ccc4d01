#include "desktop/windows/installer/package_fetcher/stale_downloads.h"

#include <windows.h>

#include <initializer_list>
#include <string>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

namespace installer {
namespace {

constexpr wchar_t kClaimExtension[] = L".lock";
constexpr size_t kStampDigits = 14;
// A 32-bit number in decimal.
constexpr size_t kMaxNumberDigits = 10;

// The name without its extension: what every file of one run shares.
std::wstring StemOf(std::wstring_view name) {
  const size_t dot = name.find(L'.');
  return std::wstring(name.substr(0, dot));
}

// Whether a live run holds the claim of |stem|: its lock file exists and
// cannot be removed. A lock file left without its process is removed here.
bool IsClaimed(const base::FilePath& folder, const std::wstring& stem) {
  const base::FilePath lock = folder.Append(stem + kClaimExtension);
  if (::DeleteFileW(lock.value().c_str()))
    return false;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void RemoveEntry(const base::FilePath& path, bool is_directory) {
  LOG(INFO) << "Removing what an earlier run left: " << path;
  if (!base::DeletePath(path, is_directory))
    LOG(WARNING) << "Could not remove " << path;
}

}  // namespace

bool ClaimDownloadFiles(const base::FilePath& download_path, base::win::ScopedHandle* claim) {
  const base::FilePath lock = download_path.RemoveExtension().AddExtension(L"lock");
  // Inherited by the processes the run starts with handles (its back end):
  // the files stay claimed while any of them lives, also when the front end
  // was killed and the back end still works from the unpacking folder.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  claim->Reset(::CreateFileW(lock.value().c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!claim->IsValid()) {
    PLOG(ERROR) << "Could not claim the download files with " << lock;
    return false;
  }
  return true;
}

bool IsDownloadFileName(std::wstring_view name, std::wstring_view prefix, bool* claiming) {
  if (name.size() < prefix.size() + 1 + kStampDigits ||
      _wcsnicmp(name.data(), prefix.data(), prefix.size()) != 0 || name[prefix.size()] != L'_') {
    return false;
  }
  std::wstring_view rest = name.substr(prefix.size() + 1);
  for (size_t i = 0; i < kStampDigits; ++i) {
    if (rest[i] < L'0' || rest[i] > L'9')
      return false;
  }
  rest.remove_prefix(kStampDigits);
  // The creating process's id and the name's number in it; names of older
  // runs have neither.
  int parts = 0;
  for (int part = 0; part < 2 && !rest.empty() && rest[0] == L'_'; ++part) {
    size_t digits = 1;
    while (digits < rest.size() && digits <= kMaxNumberDigits && rest[digits] >= L'0' &&
           rest[digits] <= L'9') {
      ++digits;
    }
    // More digits than a 32-bit number has are left to fail the ending's
    // check.
    if (digits == 1)
      return false;
    rest.remove_prefix(digits);
    ++parts;
  }
  for (std::wstring_view ending : {L"", L".exe", L".7z", L".lock"}) {
    if (rest.size() == ending.size() && _wcsnicmp(rest.data(), ending.data(), ending.size()) == 0) {
      if (claiming)
        *claiming = parts == 2;
      return true;
    }
  }
  return false;
}

void RemoveStaleDownloads(const base::FilePath& folder,
                          std::initializer_list<std::wstring_view> prefixes, base::Time run_start) {
  bool any_claimed = false;
  base::DirectoryEnumerator entries(
      folder, false, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    const std::wstring name = path.BaseName().value();
    bool ours = false;
    bool claiming = false;
    for (std::wstring_view prefix : prefixes)
      ours = ours || IsDownloadFileName(name, prefix, &claiming);
    if (!ours)
      continue;
    const base::DirectoryEnumerator::EntryInfo info = entries.GetInfo();
    const bool lock_file = name.size() > 5 && name.ends_with(kClaimExtension);
    if (lock_file) {
      // Removed by IsClaimed when its process is gone.
      any_claimed = IsClaimed(folder, StemOf(name)) || any_claimed;
      continue;
    }
    // A live run's files are claimed. An older installer's run claims
    // nothing: its files are taken for a run still going when they changed
    // since this run began.
    if (IsClaimed(folder, StemOf(name))) {
      VLOG(1) << "Keeping " << path << ": a run that is still going claims it";
      any_claimed = true;
      continue;
    }
    if (!claiming && info.last_modified >= run_start) {
      LOG(INFO) << "Keeping " << path
                << ": it changed since this run began, and nothing tells whose it is";
      any_claimed = true;
      continue;
    }
    RemoveEntry(path, info.is_directory);
  }
  // Every run downloads its additional files into the same file: it is only
  // stale when no other run is alive.
  const base::FilePath additional = folder.Append(kAdditionalFileTempName);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!any_claimed &&
      ::GetFileAttributesExW(additional.value().c_str(), GetFileExInfoStandard, &data) &&
      base::Time::FromFileTime(data.ftLastWriteTime) < run_start) {
    RemoveEntry(additional, false);
  }
}

base::Time ProcessStartTime() {
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user))
    return base::Time::Now();
  return base::Time::FromFileTime(creation);
}

}  // namespace installer
