#include "desktop/windows/installer/package_fetcher/package_installer_check.h"

#include <windows.h>

#include <cstdint>

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/service/pe_image.h"

namespace installer {
namespace {

// The headers of a program image lie in its first page.
constexpr DWORD kHeaderBytes = 4096;

// Whether |name| in |package_folder| is a program image; logs why not.
bool IsProgramOfThePackage(const base::FilePath& package_folder, const wchar_t* name) {
  const std::string shown = base::WideToUTF8(name);
  const base::FilePath path = package_folder.Append(name);
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      LOG(ERROR) << "The package has no " << shown << ": it cannot be installed";
    } else {
      ELOG(ERROR, error) << "Cannot look at the package's " << shown;
    }
    return false;
  }
  if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    LOG(ERROR) << "The package's " << shown << " is a folder, not a program: it cannot be "
               << "installed";
    return false;
  }
  if (attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow == 0) {
    LOG(ERROR) << "The package's " << shown << " is empty (0 bytes), not a program: it cannot "
               << "be installed";
    return false;
  }
  base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  uint8_t header[kHeaderBytes];
  DWORD read = 0;
  if (!file.IsValid() || !::ReadFile(file.Get(), header, kHeaderBytes, &read, nullptr)) {
    PLOG(ERROR) << "Cannot read the package's " << shown;
    return false;
  }
  size_t pe_offset = 0;
  if (!FindPeSignature(header, read, &pe_offset)) {
    LOG(ERROR) << "The package's " << shown << " is not a program (no executable image "
               << "headers): it cannot be installed";
    return false;
  }
  return true;
}

}  // namespace

bool PackageHoldsItsInstaller(const base::FilePath& package_folder) {
  return IsProgramOfThePackage(package_folder, kPackageInstallerFileName) &&
         IsProgramOfThePackage(package_folder, kEngineFileName);
}

}  // namespace installer
