// Tests that run the clean-up batch file put the stand-ins of testing/
// batch_tools first in PATH: the emulator's own "tasklist" prints nothing
// and its "find" refuses the options the batch file uses.
#ifndef DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_TEST_SUPPORT_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// Puts bin\batch_tools first in this process's PATH (inherited by the
// processes it starts) while it lives.
class ScopedBatchToolsPath {
 public:
  ScopedBatchToolsPath() {
    base::FilePath exe_file;
    EXPECT_TRUE(base::PathRegistry::Get(base::kPathExeFile, &exe_file));
    tools_ = exe_file.DirName().Append(L"batch_tools");
    EXPECT_TRUE(base::PathExists(tools_.Append(L"tasklist.exe"))) << tools_;
    EXPECT_TRUE(base::PathExists(tools_.Append(L"find.exe"))) << tools_;
    const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    had_path_ = size != 0;
    if (had_path_) {
      old_path_.resize(size);
      old_path_.resize(::GetEnvironmentVariableW(L"PATH", old_path_.data(), size));
    }
    const std::wstring path = tools_.value() + (had_path_ ? L";" + old_path_ : std::wstring());
    EXPECT_TRUE(::SetEnvironmentVariableW(L"PATH", path.c_str()));
  }
  ~ScopedBatchToolsPath() {
    ::SetEnvironmentVariableW(L"PATH", had_path_ ? old_path_.c_str() : nullptr);
  }
  ScopedBatchToolsPath(const ScopedBatchToolsPath&) = delete;
  ScopedBatchToolsPath& operator=(const ScopedBatchToolsPath&) = delete;

 private:
  base::FilePath tools_;
  bool had_path_ = false;
  std::wstring old_path_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CLEANUP_BATCH_TEST_SUPPORT_H_
