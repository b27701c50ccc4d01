#include "desktop/windows/installer/service/wmi_launch_process.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

constexpr char kMarkerSwitch[] = "marker";

// Started through WMI: writes its own process id into the marker file.
CHILD_PROCESS_MAIN(WmiMarkerChild) {
  const base::FilePath marker =
      base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(kMarkerSwitch);
  const std::string pid = base::NumberToString(static_cast<unsigned long>(::GetCurrentProcessId()));
  return base::WriteFileBytes(marker, pid.data(), static_cast<int>(pid.size())) ==
                 static_cast<int>(pid.size())
             ? 0
             : 1;
}

TEST(WmiLaunchProcessTest, StartsTheProcessAndGivesItsId) {
  base::win::ScopedComInitializer com;
  ASSERT_TRUE(com.Succeeded());
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath marker = temp.GetPath().Append(L"started \u00e9.txt");

  base::CommandLine child = testing::GetChildCommandLine("WmiMarkerChild");
  child.AppendSwitchPath(kMarkerSwitch, marker);
  DWORD pid = 0;
  ASSERT_TRUE(WmiLaunchProcess(child.GetCommandLineString(), &pid));
  ASSERT_NE(pid, 0u);
  // While it runs, the id names it.
  base::win::ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));

  // The file may be seen before its bytes are written. The start through
  // the management service may take long on a loaded machine.
  std::string written;
  for (int i = 0; i < 1200; ++i) {
    if (base::ReadFileToString(marker, &written) && !written.empty())
      break;
    ::Sleep(100);
  }
  ASSERT_FALSE(written.empty()) << "the child never wrote its marker";
  EXPECT_EQ(written, base::NumberToString(static_cast<unsigned long>(pid)));
  if (process.IsValid()) {
    EXPECT_EQ(::WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
  }
}

TEST(WmiLaunchProcessTest, FailsCleanly) {
  base::win::ScopedComInitializer com;
  ASSERT_TRUE(com.Succeeded());
  DWORD pid = 12345;
  EXPECT_FALSE(WmiLaunchProcess(L"", &pid));
  EXPECT_FALSE(WmiLaunchProcess(L"x.exe", nullptr));
  EXPECT_FALSE(WmiLaunchProcess(L"C:\\no such folder\\no such program.exe", &pid));
  EXPECT_EQ(pid, 12345u);
}

}  // namespace
}  // namespace installer
