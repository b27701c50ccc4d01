// The exception handler: real crashes of child processes reported to a
// reporter in this test, the dump written in-process, and the choice between
// dumping and passing an exception on.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_dump_handler.h"
#include "desktop/windows/crash_reporter/crash_pipe_test_support.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_switches.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {
namespace {

constexpr int kChildWithoutHandler = 10;

struct CrashKind {
  const char* name;
  DWORD code;
  uint32_t assertion_type;
};

const CrashKind kCrashKinds[] = {
    {"access-violation", 0xC0000005, kNoAssertion},
    {"breakpoint", 0x80000003, kNoAssertion},
    {"invalid-parameter", 0xC000000D, kInvalidParameterAssertion},
    {"pure-call", 0xC0000025, kPureCallAssertion},
};

// Only the crash trigger's tests use them.
[[maybe_unused]] std::string SwitchASCII(const char* name) {
  return base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(name);
}
[[maybe_unused]] std::wstring SwitchNative(const char* name) {
  return base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(name);
}

#if defined(VELMO_TEST_CRASH_TRIGGER)

DWORD WINAPI CrashWhenReleased(void* start_event) {
  ::WaitForSingleObject(static_cast<HANDLE>(start_event), INFINITE);
  TriggerCrash("access-violation");
  return 0;
}

// Starts crash reporting the way an installer process does (the reporter is
// named by "crash-reporter-pid"), then crashes as "--kind" says; with
// "--threads=2" two threads crash at the same moment.
CHILD_PROCESS_MAIN(CrashingClient) {
  if (EnsureCrashReporterProcess())
    ConnectCrashReporterClient();
  InitializeCrashKeys();
  if (!GetInstallerCrashHandler())
    return kChildWithoutHandler;
  if (SwitchASCII("threads") == "2") {
    base::win::ScopedHandle start(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    base::win::ScopedHandle first(
        ::CreateThread(nullptr, 0, &CrashWhenReleased, start.Get(), 0, nullptr));
    base::win::ScopedHandle second(
        ::CreateThread(nullptr, 0, &CrashWhenReleased, start.Get(), 0, nullptr));
    ::SetEvent(start.Get());
    ::Sleep(60000);
    return 0;
  }
  TriggerCrash(SwitchASCII("kind").c_str());
  return 0;
}

// The second thread of CrashDuringRegistration: crashes once the main
// thread's registration has waited for the busy pipe.
base::win::ScopedHandle* g_registration_under_way = nullptr;

void OnPipeBusy(bool) { ::SetEvent(g_registration_under_way->Get()); }

DWORD WINAPI CrashOnceRegistrationIsUnderWay(void*) {
  ::WaitForSingleObject(g_registration_under_way->Get(), INFINITE);
  TriggerCrash("access-violation");
  return 0;
}

// Tells the test that the crash has reached the handler, before the dump is
// asked for.
bool AnnounceTheCrash(void*, EXCEPTION_POINTERS*, const AssertionInfo*) {
  base::win::ScopedHandle entered(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, SwitchNative("entered-event").c_str()));
  ::SetEvent(entered.Get());
  return true;
}

// Registers with the reporter named by "crash-reporter-pid" while the test
// holds its pipe; meanwhile another thread crashes.
CHILD_PROCESS_MAIN(CrashDuringRegistration) {
  base::win::ScopedHandle under_way(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_registration_under_way = &under_way;
  CrashPipeClient::SetPipeBusyObserverForTesting(&OnPipeBusy);
  const DWORD reporter = std::stoul(SwitchASCII(installer::kCrashReporterPidSwitch));
  CrashDumpHandler::ReporterPipe pipe;
  pipe.client = std::make_unique<CrashPipeClient>(CrashPipeNameFor(reporter), 0, CustomInfo());
  pipe.client->set_server_process(::OpenProcess(SYNCHRONIZE, FALSE, reporter));
  base::win::ScopedHandle crasher(
      ::CreateThread(nullptr, 0, &CrashOnceRegistrationIsUnderWay, nullptr, 0, nullptr));
  CrashDumpHandler handler(std::wstring(), &AnnounceTheCrash, nullptr, nullptr, kHandlerAll,
                           MiniDumpNormal, std::move(pipe), CustomInfo());
  // The crash ends the process once the registration is done.
  ::WaitForSingleObject(crasher.Get(), 120000);
  return handler.IsOutOfProcess() ? kChildWithoutHandler + 1 : kChildWithoutHandler;
}

// An in-process handler writing into "--dump-folder", then a crash.
CHILD_PROCESS_MAIN(CrashingInProcess) {
  CrashDumpHandler handler(
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative("dump-folder"), nullptr, nullptr,
      nullptr, kHandlerAll, MiniDumpNormal, nullptr, CustomInfo());
  if (handler.IsOutOfProcess())
    return 1;
  TriggerCrash(SwitchASCII("kind").c_str());
  return 0;
}

class CrashDumpHandlerTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  // Runs a crashing child that reports to this process; its exit code.
  DWORD RunCrashingChild(const char* kind, bool two_threads, DWORD* pid) {
    base::CommandLine command_line = testing::GetChildCommandLine("CrashingClient");
    command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                   std::to_string(::GetCurrentProcessId()));
    command_line.AppendSwitchASCII("kind", kind);
    if (two_threads)
      command_line.AppendSwitchASCII("threads", "2");
    base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
    EXPECT_TRUE(child.IsValid());
    *pid = child.Pid();
    int exit_code = 0;
    EXPECT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
    return static_cast<DWORD>(exit_code);
  }

  std::vector<RecordedDump> DumpsOf(DWORD pid) {
    std::vector<RecordedDump> found;
    for (const RecordedDump& dump : server_.dumps()) {
      if (dump.pid == pid)
        found.push_back(dump);
    }
    return found;
  }

  RecordingCrashServer server_;
};

TEST_F(CrashDumpHandlerTest, EveryKindOfCrashReachesTheReporterAndEndsTheChild) {
  for (const CrashKind& kind : kCrashKinds) {
    DWORD pid = 0;
    DWORD exit_code = RunCrashingChild(kind.name, false, &pid);
    // Never 0: whoever waits for the process must see a crash.
    EXPECT_EQ(kind.code, exit_code) << kind.name;
    std::vector<RecordedDump> dumps = DumpsOf(pid);
    ASSERT_EQ(1u, dumps.size()) << kind.name;
    EXPECT_EQ(kind.code, dumps[0].exception_code) << kind.name;
    EXPECT_EQ(kind.assertion_type, dumps[0].assertion_type) << kind.name;
    EXPECT_NE(0u, dumps[0].thread_id) << kind.name;
    EXPECT_EQ(L"installer", dumps[0].Value(L"process_type")) << kind.name;
  }
}

TEST_F(CrashDumpHandlerTest, TwoThreadsCrashingAtOnceGiveOneDumpRequest) {
  DWORD pid = 0;
  EXPECT_EQ(0xC0000005, RunCrashingChild("access-violation", true, &pid));
  EXPECT_EQ(1u, DumpsOf(pid).size());
}

// A crash that comes while the process is still registering with its
// reporter (here: the reporter's pipe is busy) waits for the registration
// and is reported.
TEST_F(CrashDumpHandlerTest, ACrashBeforeTheRegistrationEndsIsReportedOnceItDoes) {
  // The test holds the only pipe instance for as long as it likes.
  server_.server()->set_client_step_timeout_for_testing(10 * 60 * 1000);
  base::win::ScopedHandle holder = OpenCrashPipe(CrashPipeNameFor(::GetCurrentProcessId()));
  ASSERT_TRUE(holder.IsValid());
  const std::wstring entered_name =
      L"VelmoCrashDumpHandlerTest.entered." + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle entered(::CreateEventW(nullptr, TRUE, FALSE, entered_name.c_str()));
  ASSERT_TRUE(entered.IsValid());
  base::CommandLine command_line = testing::GetChildCommandLine("CrashDuringRegistration");
  command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  command_line.AppendSwitchNative("entered-event", entered_name);
  base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  HANDLE waits[] = {entered.Get(), child.Handle()};
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, waits, FALSE, 120000))
      << "the crash did not reach the handler";
  EXPECT_EQ(0u, server_.dumps().size());
  holder.Reset();
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
  const std::vector<RecordedDump> dumps = DumpsOf(child.Pid());
  ASSERT_EQ(1u, dumps.size());
  EXPECT_EQ(0xC0000005, dumps[0].exception_code);
}

// The streams of a minidump file: type to contents.
std::vector<std::pair<uint32_t, std::string>> ReadDumpStreams(const base::FilePath& path) {
  std::string data;
  EXPECT_TRUE(base::ReadFileToString(path, &data));
  std::vector<std::pair<uint32_t, std::string>> streams;
  auto u32 = [&data](size_t offset) {
    uint32_t value = 0;
    if (offset + 4 <= data.size())
      memcpy(&value, data.data() + offset, 4);
    return value;
  };
  EXPECT_EQ(0x504D444Du, u32(0));  // "MDMP"
  uint32_t count = u32(8);
  uint32_t directory = u32(12);
  for (uint32_t i = 0; i < count; ++i) {
    size_t entry = directory + i * 12;
    uint32_t type = u32(entry);
    uint32_t size = u32(entry + 4);
    uint32_t rva = u32(entry + 8);
    if (type == 0 || static_cast<size_t>(rva) + size > data.size())
      continue;  // unused entries end the directory
    streams.emplace_back(type, data.substr(rva, size));
  }
  return streams;
}

TEST(CrashDumpHandlerInProcessTest, WritesAGuidNamedDumpWithItsOwnStreams) {
  struct Case {
    const char* kind;
    DWORD exit_code;
    bool has_assertion;
  };
  for (const Case& test :
       {Case{"access-violation", 0xC0000005, false}, Case{"invalid-parameter", 0xC000000D, true}}) {
    base::ScopedTempDir folder;
    ASSERT_TRUE(folder.CreateUniqueTempDir());
    base::CommandLine command_line = testing::GetChildCommandLine("CrashingInProcess");
    command_line.AppendSwitchNative("dump-folder", folder.GetPath().value());
    command_line.AppendSwitchASCII("kind", test.kind);
    base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
    int exit_code = 0;
    ASSERT_TRUE(child.WaitForExitWithTimeout(120000, &exit_code));
    EXPECT_EQ(test.exit_code, static_cast<DWORD>(exit_code)) << test.kind;

    base::DirectoryEnumerator dumps(folder.GetPath(), false, base::DirectoryEnumerator::FILES,
                                    L"*.dmp");
    base::FilePath dump = dumps.Next();
    ASSERT_FALSE(dump.empty()) << test.kind;
    EXPECT_TRUE(dumps.Next().empty()) << test.kind;
    std::wstring name = dump.BaseName().value();
    ASSERT_EQ(40u, name.size()) << name;
    EXPECT_EQ(L'-', name[8]);
    EXPECT_EQ(L'-', name[23]);
    EXPECT_NE(L"00000000-0000-0000-0000-000000000000.dmp", name);

    bool requester_found = false;
    bool assertion_found = false;
    for (const auto& [type, contents] : ReadDumpStreams(dump)) {
      if (type == kRequesterStreamType) {
        requester_found = true;
        ASSERT_EQ(12u, contents.size());
        uint32_t fields[3];
        memcpy(fields, contents.data(), 12);
        EXPECT_EQ(kRequesterStreamValidity, fields[0]);
        EXPECT_NE(0u, fields[1]);  // the handler thread
        EXPECT_NE(0u, fields[2]);  // the crashing thread
        EXPECT_NE(fields[1], fields[2]);
      } else if (type == kAssertionStreamType) {
        assertion_found = true;
        ASSERT_EQ(sizeof(AssertionInfo), contents.size());
        AssertionInfo assertion;
        memcpy(&assertion, contents.data(), sizeof(assertion));
        EXPECT_EQ(kInvalidParameterAssertion, assertion.type);
      }
    }
    EXPECT_TRUE(requester_found) << test.kind;
    EXPECT_EQ(test.has_assertion, assertion_found) << test.kind;
  }
}

#endif  // defined(VELMO_TEST_CRASH_TRIGGER)

// A previous filter that records its calls.
int g_previous_filter_calls = 0;
LONG WINAPI RecordingPreviousFilter(EXCEPTION_POINTERS*) {
  ++g_previous_filter_calls;
  return EXCEPTION_CONTINUE_EXECUTION;
}

int g_dump_filter_calls = 0;
bool RecordingDumpFilter(void*, EXCEPTION_POINTERS*, const AssertionInfo*) {
  ++g_dump_filter_calls;
  return false;  // cancels the dump: the exception goes on
}

class CrashDumpHandlerDispatchTest : public testing::Test {
 protected:
  void SetUp() override {
    g_previous_filter_calls = 0;
    g_dump_filter_calls = 0;
    original_ = ::SetUnhandledExceptionFilter(&RecordingPreviousFilter);
  }
  void TearDown() override { ::SetUnhandledExceptionFilter(original_); }

  static LONG Dispatch(DWORD code) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    return CrashDumpHandler::HandleException(&pointers);
  }

  LPTOP_LEVEL_EXCEPTION_FILTER original_ = nullptr;
};

TEST_F(CrashDumpHandlerDispatchTest, DebugExceptionsGoToThePreviousFilterUnlessHandled) {
  CrashDumpHandler handler(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerUnhandledException,
                           MiniDumpNormal, nullptr, CustomInfo());
  EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, Dispatch(EXCEPTION_BREAKPOINT));
  EXPECT_EQ(0, g_dump_filter_calls);
  EXPECT_EQ(1, g_previous_filter_calls);

  handler.set_handle_debug_exceptions(true);
  Dispatch(EXCEPTION_BREAKPOINT);
  EXPECT_EQ(1, g_dump_filter_calls);
  // An access violation is always offered for a dump.
  handler.set_handle_debug_exceptions(false);
  Dispatch(EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(2, g_dump_filter_calls);
  EXPECT_EQ(3, g_previous_filter_calls);

  // Invalid handles are swallowed only when asked.
  handler.set_consume_invalid_handle_exceptions(true);
  EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, Dispatch(STATUS_INVALID_HANDLE));
  EXPECT_EQ(2, g_dump_filter_calls);
  EXPECT_EQ(3, g_previous_filter_calls);
}

bool FailingDumpFilter(void*, EXCEPTION_POINTERS*, const AssertionInfo*) {
  ADD_FAILURE() << "a handler that installed nothing was asked";
  return false;
}

TEST_F(CrashDumpHandlerDispatchTest, HandlersNestAndRestoreWhatTheyReplaced) {
  {
    CrashDumpHandler outer(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerUnhandledException,
                           MiniDumpNormal, nullptr, CustomInfo());
    {
      // Kinds 0 installs nothing and does not take part in the nesting.
      CrashDumpHandler passive(L"", &FailingDumpFilter, nullptr, nullptr, 0, MiniDumpNormal,
                               nullptr, CustomInfo());
      LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(nullptr);
      EXPECT_EQ(&CrashDumpHandler::HandleException, current);
      ::SetUnhandledExceptionFilter(current);
      Dispatch(EXCEPTION_ACCESS_VIOLATION);
      EXPECT_EQ(1, g_dump_filter_calls);
      EXPECT_EQ(1, g_previous_filter_calls);
    }
    CrashDumpHandler inner(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerUnhandledException,
                           MiniDumpNormal, nullptr, CustomInfo());
    // The top handler serves first; it refuses the dump and passes the
    // exception to the filter it replaced, which reaches the outer handler,
    // and that one passes it to the filter from before both.
    Dispatch(EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(3, g_dump_filter_calls);
    EXPECT_EQ(2, g_previous_filter_calls);
  }
  // Both gone: the filter from before them is back.
  LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(nullptr);
  EXPECT_EQ(&RecordingPreviousFilter, current);
  ::SetUnhandledExceptionFilter(current);
}

// Besides a pipe name, the reporter is reached through a ready-made client
// or an already connected pipe; a client that cannot register leaves the
// handler in-process.
TEST(CrashDumpHandlerReporterTest, ReachesTheReporterThroughAClientOrAConnectedPipe) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const std::wstring name = CrashPipeNameFor(::GetCurrentProcessId());
  auto connected_pipe = [&name] {
    base::win::ScopedHandle pipe = OpenCrashPipe(name);
    EXPECT_TRUE(pipe.IsValid());
    return pipe;
  };
  struct Case {
    const char* what;
    std::function<CrashDumpHandler::ReporterPipe()> pipe;
    bool out_of_process;
  };
  const Case cases[] = {
      {"ready-made client",
       [&] {
         CrashDumpHandler::ReporterPipe pipe;
         pipe.client = std::make_unique<CrashPipeClient>(name, MiniDumpNormal, CustomInfo());
         return pipe;
       },
       true},
      {"connected pipe",
       [&] {
         CrashDumpHandler::ReporterPipe pipe;
         pipe.handle = connected_pipe().Release();
         return pipe;
       },
       true},
      {"client of no reporter",
       [] {
         CrashDumpHandler::ReporterPipe pipe;
         pipe.client = std::make_unique<CrashPipeClient>(std::wstring(kCrashPipeNamePrefix) + L"0",
                                                         MiniDumpNormal, CustomInfo());
         return pipe;
       },
       false},
  };
  for (const Case& test : cases) {
    CrashDumpHandler handler(L"", nullptr, nullptr, nullptr, 0, MiniDumpNormal, test.pipe(),
                             CustomInfo());
    EXPECT_EQ(test.out_of_process, handler.IsOutOfProcess()) << test.what;
  }
}

// A handler whose dump fails, in a process where nothing handled invalid
// parameters before it, leaves the call to the runtime's own handling.
CHILD_PROCESS_MAIN(InvalidParameterWithoutPreviousHandler) {
  _set_invalid_parameter_handler(nullptr);
  CrashDumpHandler handler(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerInvalidParameter,
                           MiniDumpNormal, nullptr, CustomInfo());
  char target[2];
  strcpy_s(target, sizeof(target), "too long");
  return 0;
}

TEST(CrashDumpHandlerOrderTest, AFailedInvalidParameterDumpEndsInTheRuntimesHandling) {
  base::Process child =
      base::LaunchProcess(testing::GetChildCommandLine("InvalidParameterWithoutPreviousHandler"),
                          base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  // The runtime ends the process: Windows with a fast fail, Wine with an
  // exception of its own. The handler's own exit code would mean that the
  // call came back to it.
  constexpr DWORD kFastFail = 0xC0000409;                 // STATUS_STACK_BUFFER_OVERRUN
  constexpr DWORD kRuntimeInvalidParameter = 0xC0000417;  // STATUS_INVALID_CRUNTIME_PARAMETER
  EXPECT_TRUE(static_cast<DWORD>(exit_code) == kFastFail ||
              static_cast<DWORD>(exit_code) == kRuntimeInvalidParameter)
      << std::hex << exit_code;
}

// Creates three handlers and destroys them in the order they were created,
// with its standard error on its standard output.
CHILD_PROCESS_MAIN(HandlersRemovedInCreationOrder) {
  fflush(stderr);
  _dup2(_fileno(stdout), _fileno(stderr));
  auto first =
      std::make_unique<CrashDumpHandler>(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerAll,
                                         MiniDumpNormal, nullptr, CustomInfo());
  auto second =
      std::make_unique<CrashDumpHandler>(L"", &RecordingDumpFilter, nullptr, nullptr, kHandlerAll,
                                         MiniDumpNormal, nullptr, CustomInfo());
  auto third = std::make_unique<CrashDumpHandler>(L"", &RecordingDumpFilter, nullptr, nullptr,
                                                  kHandlerUnhandledException, MiniDumpNormal,
                                                  nullptr, CustomInfo());
  first.reset();
  second.reset();
  third.reset();
  fflush(stderr);
  fflush(stdout);
  return 0;
}

TEST(CrashDumpHandlerOrderTest, RemovingHandlersOutOfOrderIsReportedForAllButTheLast) {
  std::string output;
  int exit_code = -1;
  ASSERT_TRUE(base::RunAndCaptureOutputWithExitCode(
      testing::GetChildCommandLine("HandlersRemovedInCreationOrder"), &output, &exit_code));
  EXPECT_EQ(0, exit_code);
  // Standard error is in text mode: the line ends in "\r\n".
  const std::string warning = "warning: removing crash handler out of order\r\n";
  size_t count = 0;
  for (size_t at = output.find(warning); at != std::string::npos;
       at = output.find(warning, at + 1)) {
    ++count;
  }
  EXPECT_EQ(2u, count) << output;
}

}  // namespace
}  // namespace crash_reporter
