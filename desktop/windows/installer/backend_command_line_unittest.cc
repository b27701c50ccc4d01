#include "desktop/windows/installer/backend_command_line.h"

#include <windows.h>

#include <string>
#include <vector>

#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::MakeCommandLine;

TEST(BackendCommandLineTest, ProcessHandleSwitchIsLittleEndianHex) {
  EXPECT_EQ("A401000000000000", EncodeProcessHandleSwitch(reinterpret_cast<HANDLE>(0x1A4)));
  HANDLE handle = nullptr;
  ASSERT_TRUE(DecodeProcessHandleSwitch("A401000000000000", &handle));
  EXPECT_EQ(reinterpret_cast<HANDLE>(0x1A4), handle);
  const HANDLE high = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0123456789ABCDEFull));
  ASSERT_TRUE(DecodeProcessHandleSwitch(EncodeProcessHandleSwitch(high), &handle));
  EXPECT_EQ(high, handle);
  // Extra bytes are ignored; too few bytes or no hex fail.
  EXPECT_TRUE(DecodeProcessHandleSwitch("A40100000000000099", &handle));
  EXPECT_FALSE(DecodeProcessHandleSwitch("A4010000000000", &handle));
  EXPECT_FALSE(DecodeProcessHandleSwitch("A40100000000000Z", &handle));
  EXPECT_FALSE(DecodeProcessHandleSwitch("", &handle));
}

// Each process id is told apart as missing, unreadable or readable; zero is
// no process.
TEST(BackendCommandLineTest, ProcessIdsAndHandle) {
  const BackendCommandLine read(
      MakeCommandLine({L"--initial-pid=4711", L"--parent-pid=12x", L"--permission-requester-pid=0",
                       L"--initial-proc-handle=A401000000000000"}));
  EXPECT_TRUE(read.initial_pid().ok());
  EXPECT_EQ(4711u, read.initial_pid().value);
  EXPECT_TRUE(read.parent_pid().given);
  EXPECT_FALSE(read.parent_pid().readable);
  EXPECT_TRUE(read.permission_requester_pid().given);
  EXPECT_FALSE(read.permission_requester_pid().ok());
  ASSERT_TRUE(read.initial_process_handle().ok());
  EXPECT_EQ(reinterpret_cast<HANDLE>(0x1A4), read.initial_process_handle().value);

  const BackendCommandLine none(MakeCommandLine({L"--initial-proc-handle=zz"}));
  EXPECT_FALSE(none.initial_pid().given);
  EXPECT_FALSE(none.parent_pid().given);
  EXPECT_TRUE(none.initial_process_handle().given);
  EXPECT_FALSE(none.initial_process_handle().readable);
  EXPECT_FALSE(none.waits_for_package());
  EXPECT_FALSE(none.has_components());
  EXPECT_FALSE(none.post_elevated_install_tasks());
}

TEST(BackendCommandLineTest, PackageAndComponents) {
  const BackendCommandLine read(
      MakeCommandLine({L"--wait-for-package=C:\\Temp\\Velmo Installer\\package", L"--components=",
                       L"--post-elevated-install-tasks"}));
  EXPECT_TRUE(read.waits_for_package());
  EXPECT_EQ(base::FilePath(L"C:\\Temp\\Velmo Installer\\package"), read.package_folder());
  // Given but empty is still given: the step says there is nothing to do.
  EXPECT_TRUE(read.has_components());
  EXPECT_EQ(L"", read.components());
  EXPECT_TRUE(read.post_elevated_install_tasks());
}

}  // namespace
}  // namespace installer
