#include "desktop/windows/crash_reporter/crash_log_directories.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys_for_test.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

class CrashLogDirectoriesTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  void TearDown() override {
    ::SetEnvironmentVariableW(kCrashLogDirVariable, nullptr);
    ::SetEnvironmentVariableW(L"VELMO_CRASH_KEEP_LOGS", nullptr);
    base::PathRegistry::ClearOverridesForTesting();
  }

  base::ScopedTempDir temp_;
  base::CommandLine command_line_{base::FilePath(L"installer.exe")};
};

TEST_F(CrashLogDirectoriesTest, TheEnvironmentFolderIsCreatedAndHoldsTheReportIdFiles) {
  const base::FilePath folder = temp_.GetPath().Append(L"a").Append(L"logs");
  ::SetEnvironmentVariableW(kCrashLogDirVariable, folder.value().c_str());
  CrashLogDirectories directories;
  ASSERT_TRUE(InitCrashLogDirectories(command_line_, &directories));
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_EQ(folder.value(), directories.crash_log_folder.value());
  EXPECT_TRUE(directories.folder_from_environment);
  // Without a report-id path the file still lies inside the folder.
  EXPECT_EQ(folder.Append(kDefaultReportIdFileName).value(), directories.report_id_file.value());
  EXPECT_EQ(folder.Append(L"crash_report_ids-4321-2.txt").value(),
            GetReportIdFilePath(directories, 4321, 2).value());

  // With a report-id path only its name is kept.
  base::PathRegistry::Override(kPathReportIdFile, temp_.GetPath().Append(L"ids.ini"));
  CrashLogDirectories named;
  ASSERT_TRUE(InitCrashLogDirectories(command_line_, &named));
  EXPECT_EQ(folder.Append(L"ids-7-1.ini").value(), GetReportIdFilePath(named, 7, 1).value());
}

TEST_F(CrashLogDirectoriesTest, AFolderNameThatDoesNotFitFallsBackToTheTemporaryFolder) {
  const std::wstring long_name = temp_.GetPath().value() + L"\\" + std::wstring(300, L'x');
  ::SetEnvironmentVariableW(kCrashLogDirVariable, long_name.c_str());
  base::PathRegistry::Override(kPathReportIdFile, temp_.GetPath().Append(L"ids.ini"));
  CrashLogDirectories directories;
  ASSERT_TRUE(InitCrashLogDirectories(command_line_, &directories));
  base::FilePath temp;
  ASSERT_TRUE(base::GetTempDirectory(&temp));
  EXPECT_EQ(temp.value(), directories.crash_log_folder.value());
  EXPECT_FALSE(directories.folder_from_environment);
  // Outside an environment folder the report-id file keeps its own path.
  EXPECT_EQ(temp_.GetPath().Append(L"ids.ini").value(),
            GetReportIdFilePath(directories, 7, 1).value());
}

TEST_F(CrashLogDirectoriesTest, NamesSequencesAndKeepLogs) {
  EXPECT_EQ(L"velmo-crashlog-4321-1.txt", MakeCrashLogFileName(4321, 1, L".txt"));
  EXPECT_EQ(L"velmo-crashlog-4321-2.dmp", MakeCrashLogFileName(4321, 2, L".dmp"));
  const uint32_t first = NextCrashSequenceNumber();
  EXPECT_EQ(first + 1, NextCrashSequenceNumber());

  struct {
    const wchar_t* value;
    bool keep;
  } cases[] = {{L"1", true},     {L"yes", true}, {L"YeS", true}, {L"0", false},
               {L"yess", false}, {L"no", false}, {L"", false}};
  for (const auto& c : cases) {
    ::SetEnvironmentVariableW(L"VELMO_CRASH_KEEP_LOGS", c.value);
    EXPECT_EQ(c.keep, ShouldKeepCrashLogs()) << c.value;
  }
}

TEST_F(CrashLogDirectoriesTest, SwitchesAndCrashKeyNumbers) {
  DWORD pid = 0;
  EXPECT_FALSE(GetParentProcessIdSwitch(command_line_, &pid));
  for (const char* bad : {"", "12x", "-1", "4294967296"}) {
    base::CommandLine command_line(base::FilePath(L"installer.exe"));
    command_line.AppendSwitchASCII("crash-reporter-parent-id", bad);
    EXPECT_FALSE(GetParentProcessIdSwitch(command_line, &pid)) << bad;
  }
  base::CommandLine command_line(base::FilePath(L"installer.exe"));
  command_line.AppendSwitchASCII("crash-reporter-parent-id", "4294967295");
  command_line.AppendSwitchASCII("crash-reporter-exception-info", "140737488355328");
  ASSERT_TRUE(GetParentProcessIdSwitch(command_line, &pid));
  EXPECT_EQ(4294967295u, pid);
  uint64_t address = 0;
  ASSERT_TRUE(GetExceptionInfoAddressSwitch(command_line, &address));
  EXPECT_EQ(140737488355328u, address);

  TestCrashKeys keys({{L"handle_info_items", L"7ff0a000"}, {L"invalid_handle", L"zz"}});
  uint64_t value = 0;
  ASSERT_TRUE(LookupCustomInfoNumber(keys.info(), L"handle_info_items", &value));
  EXPECT_EQ(0x7ff0a000u, value);
  EXPECT_FALSE(LookupCustomInfoNumber(keys.info(), L"invalid_handle", &value));
  EXPECT_FALSE(LookupCustomInfoNumber(keys.info(), L"missing", &value));
}

}  // namespace
}  // namespace crash_reporter
