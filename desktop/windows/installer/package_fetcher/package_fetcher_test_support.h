// Where the build puts the payload and 7z fixtures: beside the test
// executable.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_

#include <string_view>

#include "base/files/file_path.h"
#include "base/files/path_registry.h"

namespace installer::test {

// A file or folder made at build time into <bin>/payload_fixtures.
inline base::FilePath PayloadFixture(std::wstring_view name) {
  base::FilePath dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &dir);
  return dir.Append(L"payload_fixtures").Append(name);
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_
