// A package of the real host and engine, built beside the tests, with a
// stand-in browser: what the tests that run the real back end install from.
#ifndef DESKTOP_WINDOWS_INSTALLER_DEMO_PACKAGE_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_DEMO_PACKAGE_TEST_SUPPORT_H_

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace installer::test {

inline base::FilePath TestBuildDir() {
  base::FilePath dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &dir);
  return dir;
}

inline std::wstring TestBrowserExeName() { return base::ASCIIToWide(GetFileNameBase() + ".exe"); }

// Makes the package in |folder| unless it is there already.
inline void MakeDemoPackage(const base::FilePath& folder) {
  if (base::PathExists(folder))
    return;
  const base::FilePath build = TestBuildDir();
  EXPECT_TRUE(base::CreateDirectoryTree(folder));
  for (const wchar_t* name : {L"installer.exe", L"installer_engine.dll"})
    EXPECT_TRUE(base::CopySingleFile(build.Append(name), folder.Append(name)));
  EXPECT_TRUE(
      base::CopySingleFile(build.Append(L"tiny_program.exe"), folder.Append(TestBrowserExeName())));
  EXPECT_TRUE(
      base::CopySingleFile(build.Append(L"tiny_program.exe"), folder.Append(L"launcher.exe")));
  const std::string list = base::WideToUTF8(TestBrowserExeName()) + "\r\n";
  EXPECT_TRUE(base::WriteFileBytes(folder.Append(L"files_list"), list.data(),
                                   static_cast<int>(list.size())));
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_DEMO_PACKAGE_TEST_SUPPORT_H_
