#include "desktop/windows/crash_reporter/self_report.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

TEST(SelfReportTest, ReportsAreAllowedByWholeDaysAndNeverWhenTheClockIsBehind) {
  uint64_t days = 99;
  const uint64_t stored = 133000000000000000ull;
  ASSERT_TRUE(DaysBetween(stored, stored, &days));
  EXPECT_EQ(0u, days);
  ASSERT_TRUE(DaysBetween(stored, stored + 3 * kFileTimeUnitsPerDay - 1, &days));
  EXPECT_EQ(2u, days);
  ASSERT_TRUE(DaysBetween(stored, stored + 3 * kFileTimeUnitsPerDay, &days));
  EXPECT_EQ(3u, days);
  ASSERT_TRUE(DaysBetween(0, stored, &days));
  EXPECT_GE(days, static_cast<uint64_t>(kMinDaysBetweenSelfReports));
  EXPECT_FALSE(DaysBetween(stored, stored - 1, &days));
}

TEST(SelfReportTest, TheExceptionIsReadThroughTheBlocksPointer) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 0xE0DE0001;
  record.ExceptionAddress = reinterpret_cast<void*>(0x1234567890ull);
  alignas(16) CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  ExceptionInfoBlock block = {};
  block.thread_id = 0x1111;
  block.exception_pointers = reinterpret_cast<uint64_t>(&pointers);
  uint32_t code = 0;
  uint64_t address = 0;
  ASSERT_TRUE(ReadSelfReportException(::GetCurrentProcess(), block, &code, &address));
  EXPECT_EQ(0xE0DE0001u, code);
  EXPECT_EQ(0x1234567890u, address);

  block.exception_pointers = 0x10;  // unreadable
  EXPECT_FALSE(ReadSelfReportException(::GetCurrentProcess(), block, &code, &address));
  EXPECT_EQ(0u, code);
  EXPECT_EQ(0u, address);
}

TEST(SelfReportTest, TheCommandLineNamesTheBlockAndThisProcessOnce) {
  PrepareSelfReportCommandLine(true);
  const std::wstring first = GetSelfReportCommandLineForTesting();
  PrepareSelfReportCommandLine(false);
  EXPECT_EQ(first, GetSelfReportCommandLineForTesting());
  base::CommandLine command_line = base::CommandLine::FromString(first);
  EXPECT_EQ(std::to_string(reinterpret_cast<uint64_t>(GetSelfReportBlock())),
            command_line.GetSwitchValueASCII("crash-reporter-exception-info"));
  EXPECT_EQ(std::to_string(::GetCurrentProcessId()),
            command_line.GetSwitchValueASCII("crash-reporter-parent-id"));
  EXPECT_TRUE(command_line.HasSwitch("crash-reporter-minidump"));
  // The event a reporting process sets for this process exists, unsignalled.
  const std::wstring name = kSelfReportEventPrefix + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  ASSERT_TRUE(event.IsValid());
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0));
  SignalSelfReportDone(::GetCurrentProcessId());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0));
}

}  // namespace
}  // namespace crash_reporter
