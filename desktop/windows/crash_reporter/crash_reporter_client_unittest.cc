// The installer's crash-reporting start-up: which reporter is used or
// launched, the crash keys page as a reporter sees it, and the text helpers
// that fill it.
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/crash_hook.h"
#include "desktop/windows/crash_reporter/crash_keys_page.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_pipe_test_support.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {
namespace {

base::FilePath MarkerFolder() {
  return base::CommandLine::ForCurrentProcess()->GetSwitchValuePath("marker-folder");
}

void WriteMarker(const wchar_t* name, const std::string& text) {
  base::WriteFileBytes(MarkerFolder().Append(name), text.data(), static_cast<int>(text.size()));
}

// As an installer process: runs the reporter start-up and writes what came
// of it to "result". Launched again as the reporter (the launch copies every
// switch and adds the parent's id), it stands in for one: it writes its pid
// to "launched" and, with "--stand-in=signal", announces itself the way a
// listening reporter does ("--stand-in=signal-late": after 3 s, as a reporter
// on a loaded machine may); otherwise it ends without doing so.
CHILD_PROCESS_MAIN(StartUpProbe) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(installer::kCrashReporterParentIdSwitch)) {
    WriteMarker(L"launched", std::to_string(::GetCurrentProcessId()));
    const std::string stand_in = command_line.GetSwitchValueASCII("stand-in");
    if (stand_in == "signal-late")
      ::Sleep(3000);
    else if (stand_in != "signal")
      return 3;
    std::wstring name = kCrashReporterInitEventPrefix +
                        command_line.GetSwitchValueNative(installer::kCrashReporterParentIdSwitch);
    base::win::ScopedHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    return event.IsValid() && ::SetEvent(event.Get()) ? 0 : 4;
  }
  bool ensured = EnsureCrashReporterProcess();
  ConnectCrashReporterClient();
  InitializeCrashKeys();
  WriteMarker(L"result", std::to_string(ensured) + " " + std::to_string(GetCrashReporterPid()) +
                             " " + std::to_string(GetInstallerCrashHandler() != nullptr));
  return 0;
}

// As an installer process with the reporter named by "crash-reporter-pid":
// checks that the crash hook is the reporter's, then faults inside a guarded
// call, which the hook reports and ends with exit code 1.
CHILD_PROCESS_MAIN(GuardedCrashClient) {
  if (!EnsureCrashReporterProcess())
    return 2;
  ConnectCrashReporterClient();
  if (!GetInstallerCrashHandler())
    return 3;
  base::win::CrashHook installed = base::win::ExchangeCrashHook(nullptr);
  base::win::ExchangeCrashHook(installed);
  if (installed != &DumpAndTerminate)
    return 4;
  base::win::RunGuarded([] { *static_cast<volatile int*>(nullptr) = 1; });
  return 5;
}

// As an installer process logging into "--log-file", with the reporter
// named by "crash-reporter-pid": registers, signals "--registered-event",
// waits for "--go-event", then faults inside a guarded call.
CHILD_PROCESS_MAIN(WatchedReporterClient) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  logging::LoggingSettings settings;
  settings.log_file = command_line.GetSwitchValuePath("log-file");
  logging::InitLogging(settings);
  if (!EnsureCrashReporterProcess())
    return 2;
  ConnectCrashReporterClient();
  if (!GetInstallerCrashHandler())
    return 3;
  base::win::ScopedHandle registered(::OpenEventW(
      EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("registered-event").c_str()));
  ::SetEvent(registered.Get());
  base::win::ScopedHandle go(
      ::OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("go-event").c_str()));
  ::WaitForSingleObject(go.Get(), 120000);
  base::win::RunGuarded([] { *static_cast<volatile int*>(nullptr) = 1; });
  return 5;
}

std::wstring Letters(size_t count) {
  std::wstring text;
  for (size_t i = 0; i < count; ++i)
    text.push_back(static_cast<wchar_t>(L'a' + i % 26));
  return text;
}

class CrashReporterStartUpTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(markers_.CreateUniqueTempDir()); }

  // Runs the probe with "crash-reporter-pid" set to |pid_switch| (absent
  // when null); the "result" line it wrote.
  std::string RunProbe(const char* pid_switch, const char* stand_in) {
    base::CommandLine command_line = testing::GetChildCommandLine("StartUpProbe");
    if (pid_switch)
      command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch, pid_switch);
    command_line.AppendSwitchNative("marker-folder", markers_.GetPath().value());
    command_line.AppendSwitchASCII("stand-in", stand_in);
    base::Process probe = base::LaunchProcess(command_line, base::LaunchOptions());
    int exit_code = -1;
    EXPECT_TRUE(probe.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_EQ(0, exit_code);
    return Marker(L"result");
  }

  std::string Marker(const wchar_t* name) {
    std::string text;
    if (!base::ReadFileToString(markers_.GetPath().Append(name), &text))
      return "<none>";
    return text;
  }

  base::ScopedTempDir markers_;
};

TEST_F(CrashReporterStartUpTest, ANamedReporterIsUsedWithoutALaunch) {
  // Nobody serves that pipe: the process goes on without a handler.
  EXPECT_EQ("1 1234 0", RunProbe("1234", "signal"));
  EXPECT_EQ("<none>", Marker(L"launched"));
}

TEST_F(CrashReporterStartUpTest, AnUnreadablePidLaunchesAReporter) {
  // The stand-in ends without announcing itself: no reporter, no handler,
  // and the run goes on.
  EXPECT_EQ("0 0 0", RunProbe("abc", "exit"));
  EXPECT_NE("<none>", Marker(L"launched"));
}

TEST_F(CrashReporterStartUpTest, ALaunchedReporterThatAnnouncesItselfIsKept) {
  // However long it takes while it lives: a process that goes on without
  // its reporter after a short wait reports nothing, and its children are
  // not told of the reporter either.
  for (const char* stand_in : {"signal", "signal-late"}) {
    SCOPED_TRACE(stand_in);
    ::DeleteFileW(markers_.GetPath().Append(L"launched").value().c_str());
    std::string result = RunProbe(nullptr, stand_in);
    std::string launched = Marker(L"launched");
    ASSERT_NE("<none>", launched);
    EXPECT_EQ("1 " + launched + " 0", result);
  }
}

#if defined(VELMO_TEST_CRASH_TRIGGER)

CHILD_PROCESS_MAIN(CrashKeysClient) {
  if (EnsureCrashReporterProcess())
    ConnectCrashReporterClient();
  InitializeCrashKeys();
  TriggerCrash("access-violation");
  return 0;
}

class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironmentVariable() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

TEST(CrashKeysPageTest, TheReporterReadsThePageOutOfTheCrashedProcess) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  std::wstring long_text = Letters(100);
  RecordedDump dump;
  {
    ScopedEnvironmentVariable origin(kOriginVariable, long_text);
    ScopedEnvironmentVariable vlauto(kVlautoTestVariable, long_text);
    base::CommandLine command_line = testing::GetChildCommandLine("CrashKeysClient");
    command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                   std::to_string(::GetCurrentProcessId()));
    base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
    int exit_code = 0;
    ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
    ASSERT_EQ(1u, server.dumps().size());
    dump = server.dumps()[0];
  }
  ASSERT_EQ(kCrashKeysSlotCount + 1, dump.entries.size());
  const auto& slots = dump.entries;
  struct Range {
    size_t first, last;
    const wchar_t* name;
  };
  for (const Range& range : {Range{0, 0, L"version"},
                             Range{1, 1, L"build"},
                             Range{2, 2, L"buildset"},
                             Range{3, 3, L"build_request_time"},
                             Range{4, 4, L"process_type"},
                             Range{5, 5, L"crash_guid"},
                             Range{6, 21, L"active_url"},
                             Range{22, 22, L"gpu_vendor_id"},
                             Range{26, 26, L"gpu_vertex_shader_version"},
                             Range{27, 27, L"is_wow64"},
                             Range{28, 28, L"exception_policy"},
                             Range{29, 32, L"vlauto_test"},
                             Range{33, 33, L"origin"},
                             Range{34, 49, L"enabled_extensions"},
                             Range{50, 65, L"disabled_extensions"},
                             Range{66, 69, L"blacklisted_extensions"},
                             Range{70, 73, L"terminated_extensions"},
                             Range{74, 77, L"third_party_installs"},
                             Range{78, 93, L"modules"},
                             Range{94, 94, L"handle_info_items"},
                             Range{95, 95, L"invalid_handle"},
                             Range{96, 99, L"ab_tests"},
                             Range{100, 100, L"ptime"}}) {
    for (size_t slot = range.first; slot <= range.last; ++slot)
      EXPECT_EQ(range.name, slots[slot].first) << "slot " << slot;
  }
  EXPECT_EQ(base::UTF8ToWide(installer::GetVersionString()), slots[0].second);
  EXPECT_EQ(std::to_wstring(installer::GetBuildNumber()), slots[1].second);
  EXPECT_EQ(std::to_wstring(installer::GetBuildsetNumber()), slots[2].second);
  EXPECT_EQ(base::UTF8ToWide(installer::GetBuildRequestTime()), slots[3].second);
  EXPECT_EQ(L"installer", slots[4].second);
  EXPECT_EQ(L"0", slots[27].second);
  // Wine offers no exception-policy functions.
  EXPECT_EQ(L"", slots[28].second);
  EXPECT_EQ(long_text.substr(0, 63), slots[29].second);
  EXPECT_EQ(long_text.substr(63), slots[30].second);
  EXPECT_EQ(L"", slots[31].second);
  EXPECT_EQ(L"", slots[32].second);
  EXPECT_EQ(long_text.substr(0, 63), slots[33].second);
  EXPECT_EQ(L"", slots[6].second);
  std::wstring modules;
  for (size_t slot = 78; slot <= 93; ++slot)
    modules += slots[slot].second;
  EXPECT_EQ(0u, modules.find(L"crash_reporter_unittests.exe:")) << modules;
  EXPECT_NE(std::wstring::npos, modules.find(L"::ntdll.dll:")) << modules;
}

#endif  // defined(VELMO_TEST_CRASH_TRIGGER)

TEST(CrashReporterClientTest, ACrashInAGuardedCallReachesTheReporterThroughTheHook) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  base::CommandLine command_line = testing::GetChildCommandLine("GuardedCrashClient");
  command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  // The hook ended the process itself: without it the fault would have gone
  // on to the process's crash filter and ended it with its own status.
  EXPECT_EQ(1, exit_code);
  ASSERT_EQ(1u, server.dumps().size());
  EXPECT_EQ(child.Pid(), server.dumps()[0].pid);
  EXPECT_EQ(0xC0000005, server.dumps()[0].exception_code);
}

// A process whose reporter has ended says so in its log, and a crash of it
// then ends it at once, unreported, instead of waiting for a reporter that
// is gone.
TEST(CrashReporterClientTest, AReporterThatEndsIsLoggedAndACrashThenEndsAtOnce) {
  const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
  const std::wstring ready_name = L"VelmoWatchedReporter.ready." + tag;
  const std::wstring registered_name = L"VelmoWatchedReporter.registered." + tag;
  const std::wstring go_name = L"VelmoWatchedReporter.go." + tag;
  base::win::ScopedHandle ready(::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  base::win::ScopedHandle registered(::CreateEventW(nullptr, TRUE, FALSE, registered_name.c_str()));
  base::win::ScopedHandle go(::CreateEventW(nullptr, TRUE, FALSE, go_name.c_str()));
  base::CommandLine server_line = testing::GetChildCommandLine("ServingProcess");
  server_line.AppendSwitchNative("ready-event", ready_name);
  base::Process server = base::LaunchProcess(server_line, base::LaunchOptions());
  ASSERT_TRUE(server.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.Get(), 120000));

  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath log = temp.GetPath().Append(L"client.log");
  base::CommandLine client_line = testing::GetChildCommandLine("WatchedReporterClient");
  client_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch, std::to_string(server.Pid()));
  client_line.AppendSwitchNative("log-file", log.value());
  client_line.AppendSwitchNative("registered-event", registered_name);
  client_line.AppendSwitchNative("go-event", go_name);
  base::Process client = base::LaunchProcess(client_line, base::LaunchOptions());
  ASSERT_TRUE(client.IsValid());
  HANDLE waits[] = {registered.Get(), client.Handle()};
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, waits, FALSE, 120000));

  ASSERT_TRUE(server.Terminate(1, true));
  const std::string ended =
      "The crash reporter (pid " + std::to_string(server.Pid()) + ") has ended";
  std::string text;
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while ((!base::ReadFileToString(log, &text) || text.find(ended) == std::string::npos) &&
         ::GetTickCount64() < deadline) {
    ::Sleep(20);
  }
  EXPECT_NE(std::string::npos, text.find(ended)) << text;
  const ULONGLONG crashed = ::GetTickCount64();
  ::SetEvent(go.Get());
  int exit_code = 0;
  ASSERT_TRUE(client.WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(1, exit_code);  // the crash hook's end
  EXPECT_LT(::GetTickCount64() - crashed, static_cast<ULONGLONG>(kDumpRequestTimeoutMs));
}

TEST(CrashKeysPageTest, WritesAreCutToTheirSlotsAndLeaveThePageReadOnly) {
  CrashKeysPage* page = CrashKeysPage::GetInstance();
  ASSERT_EQ(page, CrashKeysPage::GetInstance());
  CustomInfo info = page->GetCustomInfo();
  ASSERT_NE(nullptr, info.entries);
  ASSERT_EQ(kCrashKeysSlotCount, info.count);
  const CustomInfoEntry* slots = info.entries;

  std::wstring text = Letters(300);
  page->SetRangeValue(kSlotAbTestsFirst, kSlotAbTestsLast, text.c_str());
  EXPECT_EQ(text.substr(0, 63), slots[96].value);
  EXPECT_EQ(text.substr(189, 63), slots[99].value);  // the rest is cut
  page->SetRangeValue(kSlotAbTestsFirst, kSlotAbTestsLast, L"short");
  EXPECT_STREQ(L"short", slots[96].value);
  EXPECT_STREQ(L"", slots[97].value);
  EXPECT_STREQ(L"", slots[99].value);
  EXPECT_STREQ(L"ab_tests", slots[99].name);

  page->SetValue(kSlotCrashGuid, text.c_str());
  EXPECT_EQ(text.substr(0, 63), slots[5].value);
  page->SetValue(kSlotCrashGuid, nullptr);
  EXPECT_STREQ(L"", slots[5].value);
  // Out-of-range slots are ignored rather than written past the page.
  page->SetRangeValue(98, 100, L"x");
  EXPECT_STREQ(L"", slots[98].value);

  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_EQ(sizeof(region), ::VirtualQuery(slots, &region, sizeof(region)));
  EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), region.Protect);
}

TEST(CrashReporterClientTest, EnvironmentValuesOfAFullBufferCountAsUnset) {
  const wchar_t kName[] = L"VELMO_CRASH_CLIENT_TEST_VALUE";
  ::SetEnvironmentVariableW(kName, nullptr);
  EXPECT_EQ(L"", ReadEnvironmentVariable(kName));
  std::wstring fits(kEnvironmentValueUnits - 1, L'v');
  ::SetEnvironmentVariableW(kName, fits.c_str());
  EXPECT_EQ(fits, ReadEnvironmentVariable(kName));
  for (size_t length : {size_t{512}, size_t{600}}) {
    ::SetEnvironmentVariableW(kName, std::wstring(length, L'v').c_str());
    EXPECT_EQ(L"", ReadEnvironmentVariable(kName)) << length;
  }
  ::SetEnvironmentVariableW(kName, nullptr);
}

TEST(CrashReporterClientTest, FormatWideBoundedRefusesWhatDoesNotFit) {
  wchar_t buffer[8];
  EXPECT_EQ(7, FormatWideBounded(buffer, 8, L"%ls%u", L"abc", 1234u));
  EXPECT_STREQ(L"abc1234", buffer);
  EXPECT_EQ(-1, FormatWideBounded(buffer, 8, L"%ls%u", L"abcd", 1234u));
  EXPECT_EQ(L'\0', buffer[7]);
}

TEST(CrashReporterClientTest, ModulesAreDescribedWithBaseSizeAndPath) {
  std::wstring text = DescribeNamedModules();
  std::vector<std::wstring> records;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L"::", start);
    ASSERT_NE(std::wstring::npos, end) << "unterminated record: " << text.substr(start);
    records.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_GE(records.size(), 3u) << text;
  bool kernel32_found = false;
  for (const std::wstring& record : records) {
    std::vector<std::wstring> fields =
        base::SplitString16(record, L":", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
    // name, base, size, then the path, whose drive colon splits it again.
    ASSERT_GE(fields.size(), 4u) << record;
    if (fields[0] != L"kernel32.dll")
      continue;
    kernel32_found = true;
    uint64_t base_address = 0;
    EXPECT_TRUE(base::HexStringToUint64(base::WideToUTF8(fields[1]), &base_address));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(::GetModuleHandleW(L"kernel32.dll")), base_address);
    EXPECT_EQ(fields[1], base::ToLowerASCII(fields[1]));
  }
  EXPECT_TRUE(kernel32_found) << text;
}

TEST(CrashReporterClientTest, TheReporterCommandLineKeepsEverySwitchAndNamesTheParent) {
  base::CommandLine reporter = BuildCrashReporterCommandLine();
  const base::CommandLine& own = *base::CommandLine::ForCurrentProcess();
  EXPECT_EQ(own.GetProgram(), reporter.GetProgram());
  for (const auto& [name, value] : own.GetSwitches())
    EXPECT_EQ(value, reporter.GetSwitchValueNative(name)) << name;
  EXPECT_EQ(std::to_string(::GetCurrentProcessId()),
            reporter.GetSwitchValueASCII(installer::kCrashReporterParentIdSwitch));
}

}  // namespace
}  // namespace crash_reporter
