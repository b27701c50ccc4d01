#include "base/process.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "base/command_line.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base {
namespace {

constexpr char kExitCodeSwitch[] = "exit-code";
constexpr char kBytesSwitch[] = "bytes";
constexpr char kSleepSwitch[] = "sleep-ms";

unsigned long NumberSwitch(const char* name) {
  return wcstoul(CommandLine::ForCurrentProcess()->GetSwitchValueNative(name).c_str(), nullptr, 10);
}

bool WriteToStdout(const std::string& text) {
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) &&
         written == text.size();
}

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>('a' + (i * 7) % 26);
  return text;
}

// Sleeps for "sleep-ms", then exits with "exit-code" (all 32 bits).
CHILD_PROCESS_MAIN(ProcessExitWith) {
  Sleep(NumberSwitch(kSleepSwitch));
  return static_cast<int>(NumberSwitch(kExitCodeSwitch));
}

// Writes "bytes" bytes of Pattern() to standard output in small pieces.
CHILD_PROCESS_MAIN(ProcessWriteOutput) {
  std::string text = Pattern(NumberSwitch(kBytesSwitch));
  for (size_t offset = 0; offset < text.size(); offset += 1000) {
    if (!WriteToStdout(text.substr(offset, 1000)))
      return 2;
  }
  return 0;
}

CHILD_PROCESS_MAIN(ProcessPrintDirectory) {
  wchar_t directory[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
  if (length == 0 || length >= MAX_PATH)
    return 2;
  return WriteToStdout(WideToUTF8(std::wstring_view(directory, length))) ? 0 : 3;
}

CommandLine ExitWithChild(DWORD exit_code, DWORD sleep_ms) {
  CommandLine command_line = testing::GetChildCommandLine("ProcessExitWith");
  command_line.AppendSwitchASCII(kExitCodeSwitch, std::to_string(exit_code));
  command_line.AppendSwitchASCII(kSleepSwitch, std::to_string(sleep_ms));
  return command_line;
}

TEST(ProcessTest, ExitCodesReachTheParent) {
  // 259 is STILL_ACTIVE: only a completed wait tells it from a running child.
  for (DWORD code : {0UL, 1UL, 259UL, 0xC0000005UL, 0xFFFFFFFFUL}) {
    SCOPED_TRACE(code);
    Process process = LaunchProcess(ExitWithChild(code, 0), LaunchOptions());
    ASSERT_TRUE(process.IsValid());
    EXPECT_NE(0UL, process.Pid());
    int exit_code = 12345;
    ASSERT_TRUE(process.WaitForExit(&exit_code));
    EXPECT_EQ(code, static_cast<DWORD>(exit_code));
  }
}

TEST(ProcessTest, WaitOptionReturnsAfterTheEnd) {
  LaunchOptions options;
  options.wait = true;
  options.start_hidden = true;
  Process process = LaunchProcess(ExitWithChild(7, 300), options);
  ASSERT_TRUE(process.IsValid());
  int exit_code = 0;
  EXPECT_TRUE(process.WaitForExitWithTimeout(0, &exit_code));
  EXPECT_EQ(7, exit_code);
}

TEST(ProcessTest, TerminateOpenAndClose) {
  Process process = LaunchProcess(ExitWithChild(1, 60000), LaunchOptions());
  ASSERT_TRUE(process.IsValid());
  EXPECT_FALSE(process.WaitForExitWithTimeout(0, nullptr));

  Process opened = Process::Open(process.Pid());
  ASSERT_TRUE(opened.IsValid());
  EXPECT_EQ(process.Pid(), opened.Pid());
  EXPECT_NE(process.Handle(), opened.Handle());

  EXPECT_TRUE(opened.Terminate(42, true));
  int exit_code = 0;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  EXPECT_EQ(42, exit_code);
  // Terminating a process that has ended is no failure and keeps its code.
  EXPECT_TRUE(process.Terminate(43, false));
  ASSERT_TRUE(opened.WaitForExit(&exit_code));
  EXPECT_EQ(42, exit_code);

  Process moved = std::move(process);
  EXPECT_FALSE(process.IsValid());
  EXPECT_TRUE(moved.IsValid());
  moved.Close();
  EXPECT_FALSE(moved.IsValid());
  EXPECT_EQ(0UL, moved.Pid());
  EXPECT_FALSE(moved.WaitForExit(&exit_code));
  EXPECT_FALSE(moved.Terminate(1, false));

  Process current = Process::Current();
  EXPECT_TRUE(current.IsValid());
  EXPECT_EQ(GetCurrentProcessId(), current.Pid());
  EXPECT_EQ(GetCurrentProcessId(), GetCurrentProcId());
}

TEST(ProcessTest, StartFailure) {
  CommandLine missing(FilePath(L"C:\\velmo-process-test-missing\\nothing.exe"));
  missing.AppendArg(L"x");
  Process process = LaunchProcess(missing, LaunchOptions());
  EXPECT_FALSE(process.IsValid());
  int exit_code = 0;
  EXPECT_FALSE(process.WaitForExit(&exit_code));
  std::string output = "stale";
  EXPECT_FALSE(RunAndCaptureOutput(missing, &output));
  EXPECT_TRUE(output.empty());
  EXPECT_FALSE(Process::Open(0xFFFFFFF0).IsValid());
}

TEST(ProcessTest, CaptureOutputLargerThanThePipe) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{300 * 1024}}) {
    SCOPED_TRACE(size);
    CommandLine child = testing::GetChildCommandLine("ProcessWriteOutput");
    child.AppendSwitchASCII(kBytesSwitch, std::to_string(size));
    std::string output;
    int exit_code = -1;
    ASSERT_TRUE(RunAndCaptureOutputWithExitCode(child, &output, &exit_code));
    EXPECT_EQ(0, exit_code);
    EXPECT_EQ(size, output.size());
    EXPECT_TRUE(output == Pattern(size));
  }
}

TEST(ProcessTest, CurrentDirectoryAndStandardOutput) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  ASSERT_TRUE(CreatePipe(&read_handle, &write_handle, &attributes, 0));
  win::ScopedHandle read_end(read_handle);
  win::ScopedHandle write_end(write_handle);

  wchar_t windows[MAX_PATH];
  UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);

  LaunchOptions options;
  options.current_directory = FilePath(std::wstring_view(windows, length));
  options.stdout_handle = write_end.Get();
  // Standard handles are refused without handle inheritance.
  EXPECT_FALSE(
      LaunchProcess(testing::GetChildCommandLine("ProcessPrintDirectory"), options).IsValid());

  options.inherit_handles = true;
  options.wait = true;
  Process process = LaunchProcess(testing::GetChildCommandLine("ProcessPrintDirectory"), options);
  ASSERT_TRUE(process.IsValid());
  write_end.Reset();
  std::string output;
  char buffer[512];
  DWORD read = 0;
  while (ReadFile(read_end.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    output.append(buffer, read);
  int exit_code = -1;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
  EXPECT_TRUE(
      FilePath::CompareEqualIgnoreCase(UTF8ToWide(output), options.current_directory.value()))
      << output;
}

}  // namespace
}  // namespace base
