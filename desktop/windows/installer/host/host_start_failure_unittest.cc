// A host that cannot load its engine, as a real process: it says why, on
// standard error and in the installer's log folder, instead of ending
// without a word.
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(HostStartFailureTest, AHostWithoutItsEngineSaysWhy) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath bin;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &bin));
  // The plain host, copied alone: its engine is not beside it.
  const base::FilePath host = temp.GetPath().Append(L"alone").Append(L"velmo_installer.exe");
  ASSERT_TRUE(base::CreateDirectoryTree(host.DirName()));
  ASSERT_TRUE(base::CopySingleFile(bin.Append(L"installer.exe"), host));

  // The child's temporary folder is the test's own.
  const base::FilePath user_temp = temp.GetPath().Append(L"user temp");
  ASSERT_TRUE(base::CreateDirectoryTree(user_temp));
  std::wstring saved[2];
  const wchar_t* names[2] = {L"TEMP", L"TMP"};
  for (int i = 0; i < 2; ++i) {
    wchar_t value[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(names[i], value, MAX_PATH);
    saved[i].assign(value, length < MAX_PATH ? length : 0);
    ASSERT_TRUE(::SetEnvironmentVariableW(names[i], user_temp.value().c_str()));
  }

  const base::FilePath error_file = temp.GetPath().Append(L"stderr.txt");
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  base::win::ScopedHandle error_output(::CreateFileW(error_file.value().c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(error_output.IsValid());
  base::CommandLine command_line(host);
  command_line.AppendSwitch("version");
  base::LaunchOptions options;
  options.inherit_handles = true;
  options.stderr_handle = error_output.Get();
  base::Process process = base::LaunchProcess(command_line, options);
  error_output.Reset();
  for (int i = 0; i < 2; ++i)
    ::SetEnvironmentVariableW(names[i], saved[i].c_str());
  ASSERT_TRUE(process.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
  EXPECT_EQ(1, exit_code);

  const std::string expected = "Installer start failed: cannot load the installer engine " +
                               host.DirName().Append(L"installer_engine.dll").AsUTF8Unsafe() +
                               " (error ";
  std::string said;
  ASSERT_TRUE(base::ReadFileToString(error_file, &said));
  EXPECT_NE(std::string::npos, said.find(expected)) << said;

  // A line in a log file of the installer's log folder, as the engine
  // names its logs.
  base::DirectoryEnumerator logs(user_temp.Append(L"Velmo Installer"), false,
                                 base::DirectoryEnumerator::FILES, L"velmo_installer_*.log");
  std::string logged;
  for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(log, &text));
    logged += text;
  }
  EXPECT_NE(std::string::npos, logged.find(":ERROR:installer_host] " + expected)) << logged;
}

}  // namespace
}  // namespace installer
