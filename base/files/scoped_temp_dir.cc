#include "base/files/scoped_temp_dir.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace base {

namespace {

constexpr int kMaxAttempts = 50;

std::atomic<unsigned> g_counter{0};

}  // namespace

ScopedTempDir::~ScopedTempDir() {
  if (IsValid())
    Delete();
}

bool ScopedTempDir::CreateUniqueTempDir() {
  FilePath temp;
  if (!GetTempDirectory(&temp))
    return false;
  return CreateUniqueTempDirUnderPath(temp);
}

bool ScopedTempDir::CreateUniqueTempDirUnderPath(const FilePath& base) {
  if (IsValid()) {
    LOG(ERROR) << "ScopedTempDir already holds " << path_;
    return false;
  }
  if (!CreateDirectoryTree(base))
    return false;
  // Process id, tick count and a counter keep names apart between processes
  // sharing the temporary folder and within one process.
  const std::wstring stem = L"vt" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                            std::to_wstring(::GetTickCount64() % 100000) + L"_";
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const FilePath candidate = base.Append(stem + std::to_wstring(g_counter++));
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return true;
    }
    error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS)
      break;
  }
  ELOG(ERROR, error) << "Cannot create a unique folder in " << base;
  return false;
}

bool ScopedTempDir::Delete() {
  if (!IsValid())
    return true;
  if (!DeletePath(path_, true)) {
    LOG(ERROR) << "Temporary folder " << path_ << " not fully deleted";
    return false;
  }
  path_.clear();
  return true;
}

FilePath ScopedTempDir::Take() {
  FilePath taken = path_;
  path_.clear();
  return taken;
}

}  // namespace base
