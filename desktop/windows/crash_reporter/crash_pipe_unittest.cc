// The crash pipe between real processes: registration, the dump request and
// what the server reads out of the client, refused requests, and the ends of
// either side.
#include <windows.h>
#include <dbghelp.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_pipe_test_support.h"
#include "desktop/windows/crash_reporter/guid_string.h"
#include "desktop/windows/crash_reporter/pipe_security_attributes.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {
namespace {

constexpr DWORD kFakeExceptionCode = 0xE0000001;
constexpr int kChildRegistrationFailed = 2;
constexpr int kChildDumpNotConfirmed = 3;
// How long a test's client waits for a dump: under the emulator on a loaded
// machine a real dump may take longer than an installer's time-out.
constexpr DWORD kTestDumpRequestTimeoutMs = 180 * 1000;
// How long a test waits for a child to start and reach a point it signals.
constexpr DWORD kChildReadyTimeoutMs = 120 * 1000;
// How long the test waits for a child that may wait that long.
constexpr DWORD kChildExitTimeoutMs = kTestDumpRequestTimeoutMs + 60 * 1000;

std::wstring SwitchNative(const char* name) {
  return base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(name);
}

uint32_t SwitchNumber(const char* name) {
  uint32_t value = 0;
  base::StringToUint(base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(name), &value);
  return value;
}

// Asks for a dump of a made-up exception raised on this thread.
bool RequestFakeDump(CrashPipeClient* client) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = kFakeExceptionCode;
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  return client->RequestDump(&pointers, nullptr);
}

// Registers with "--pipe" with "--entries" custom-info entries (claiming
// "--claim" of them when given) and the dump type "--dump-type" (0 when
// absent); with "--registered-event" and "--go-event"
// it signals the first once registered and waits for the second. Then asks
// for a dump: 0 when the server confirmed it. It waits for the dump as long
// as a test client may, or with "--usual-wait" as long as an installer does.
CHILD_PROCESS_MAIN(RegisteringClient) {
  uint32_t count = SwitchNumber("entries");
  std::vector<CustomInfoEntry> entries(count + 1);
  for (uint32_t i = 0; i < count; ++i) {
    swprintf(entries[i].name, kCustomInfoTextUnits, L"key%u", i);
    swprintf(entries[i].value, kCustomInfoTextUnits, L"value%u", i);
  }
  uint32_t claimed =
      base::CommandLine::ForCurrentProcess()->HasSwitch("claim") ? SwitchNumber("claim") : count;
  CrashPipeClient client(SwitchNative("pipe"), SwitchNumber("dump-type"),
                         CustomInfo{entries.data(), claimed});
  if (!base::CommandLine::ForCurrentProcess()->HasSwitch("usual-wait"))
    client.set_dump_request_timeout_for_testing(kTestDumpRequestTimeoutMs);
  if (!client.Register())
    return kChildRegistrationFailed;
  std::wstring registered = SwitchNative("registered-event");
  if (!registered.empty()) {
    base::win::ScopedHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, registered.c_str()));
    ::SetEvent(event.Get());
    base::win::ScopedHandle go(::OpenEventW(SYNCHRONIZE, FALSE, SwitchNative("go-event").c_str()));
    ::WaitForSingleObject(go.Get(), kChildExitTimeoutMs);
  }
  return RequestFakeDump(&client) ? 0 : kChildDumpNotConfirmed;
}

// Registers with "--pipe" keys whose names and values fill their fields to
// 63 and 64 units, and one text of 65 units whose last unit lies in the
// next entry's name, and a "ptime" of its own; then asks for a dump.
CHILD_PROCESS_MAIN(LongKeysClient) {
  static CustomInfoEntry entries[6] = {};
  auto fill = [](wchar_t* field, wchar_t unit, size_t count) {
    for (size_t i = 0; i < count; ++i)
      field[i] = unit;
  };
  fill(entries[0].name, L'a', 63);
  fill(entries[0].value, L'x', 63);
  fill(entries[1].name, L'b', 64);
  wcscpy(entries[1].value, L"b64");
  wcscpy(entries[2].name, L"value64");
  fill(entries[2].value, L'y', 64);
  wcscpy(entries[3].name, L"value65");
  fill(entries[3].value, L'z', 64);
  wcscpy(entries[4].name, L"z");
  wcscpy(entries[4].value, L"after");
  // The reporter's own key, sent by the client.
  wcscpy(entries[5].name, L"ptime");
  wcscpy(entries[5].value, L"9223372036854775807");
  CrashPipeClient client(SwitchNative("pipe"), 0, CustomInfo{entries, 6});
  if (!client.Register())
    return kChildRegistrationFailed;
  return RequestFakeDump(&client) ? 0 : kChildDumpNotConfirmed;
}

// Registers with "--pipe" (trying again while other clients keep the pipe
// busy) and ends at once: 0 when it registered.
CHILD_PROCESS_MAIN(ShortLivedClient) {
  CrashPipeClient client(SwitchNative("pipe"), 0, CustomInfo());
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (client.Register())
      return 0;
  }
  return kChildRegistrationFailed;
}

// Serves its own pipe, signals "--ready-event" and waits to be killed.
CHILD_PROCESS_MAIN(ServingProcess) {
  RecordingCrashServer server;
  if (!server.Start())
    return 1;
  base::win::ScopedHandle ready(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, SwitchNative("ready-event").c_str()));
  ::SetEvent(ready.Get());
  ::Sleep(INFINITE);
  return 0;
}

// Sends a registration request over "--pipe" and takes the answer, then
// waits until the server lets the connection go: 0 when all of the
// answer's handles are still open by then (they are the client's, and it
// closes them itself), 1 when one was closed under it, 2 without an answer.
// It runs apart from the server, whose new handles could take the numbers of
// the closed ones.
CHILD_PROCESS_MAIN(UnaddedClient) {
  RegistrationSlots slots;
  CrashPipeMessage request = slots.Request();
  const base::win::ScopedHandle pipe = OpenCrashPipe(SwitchNative("pipe"));
  CrashPipeMessage reply = {};
  DWORD read = 0;
  // Waiting for the answer already, the client gets it before the server
  // fails to add it.
  if (!pipe.IsValid() ||
      !::TransactNamedPipe(pipe.Get(), &request, sizeof(request), &reply, sizeof(reply), &read,
                           nullptr) ||
      reply.tag != kRegistrationReply) {
    return 2;
  }
  CrashPipeMessage nothing = {};
  ::ReadFile(pipe.Get(), &nothing, sizeof(nothing), &read, nullptr);  // ends with the connection
  int result = 0;
  for (uint64_t handle :
       {reply.dump_request_event, reply.dump_generated_event, reply.server_alive_mutex}) {
    DWORD flags = 0;
    if (!::GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags)) {
      result = 1;
      continue;
    }
    const base::win::ScopedHandle owned(reinterpret_cast<HANDLE>(handle));
  }
  return result;
}

CHILD_PROCESS_MAIN(Sleeper) {
  ::Sleep(60000);
  return 0;
}

std::wstring UniqueEventName(const wchar_t* purpose) {
  static int counter = 0;
  return std::wstring(L"VelmoCrashPipeTest.") + purpose + L"." +
         std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(++counter);
}

// Polls the server's state until it is |state|; false after |timeout_ms|.
bool WaitForServerState(CrashPipeServer* server, CrashPipeServerState state, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (server->state() != state) {
    if (::GetTickCount64() > deadline)
      return false;
    ::Sleep(5);
  }
  return true;
}

// The busy-pipe test's connection that holds the one pipe instance, and
// what the client saw while it waited.
base::win::ScopedHandle* g_blocking_connection = nullptr;
CrashPipeServer* g_busy_server = nullptr;
std::vector<bool>* g_busy_waits = nullptr;

// Lets the holder of the pipe go once the client has waited in vain, and
// returns when the server listens again.
void ReleaseThePipeAfterTheWait(bool wait_succeeded) {
  g_busy_waits->push_back(wait_succeeded);
  if (!g_blocking_connection->IsValid())
    return;
  g_blocking_connection->Reset();
  EXPECT_TRUE(WaitForServerState(g_busy_server, kServerStateConnecting, 30000));
}

class CrashPipeTest : public testing::Test {
 protected:
  base::Process StartClient(uint32_t entries, const std::wstring& registered_event = L"",
                            const std::wstring& go_event = L"", int64_t claim = -1,
                            uint32_t dump_type = 0, bool usual_wait = false) {
    base::CommandLine command_line = testing::GetChildCommandLine("RegisteringClient");
    if (usual_wait)
      command_line.AppendSwitch("usual-wait");
    command_line.AppendSwitchNative("pipe", CrashPipeNameFor(::GetCurrentProcessId()));
    command_line.AppendSwitchASCII("entries", std::to_string(entries));
    command_line.AppendSwitchASCII("dump-type", std::to_string(dump_type));
    if (claim >= 0)
      command_line.AppendSwitchASCII("claim", std::to_string(claim));
    if (!registered_event.empty()) {
      command_line.AppendSwitchNative("registered-event", registered_event);
      command_line.AppendSwitchNative("go-event", go_event);
    }
    return base::LaunchProcess(command_line, base::LaunchOptions());
  }

  static int ExitCodeOf(const base::Process& process) {
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExitWithTimeout(kChildExitTimeoutMs, &exit_code));
    return exit_code;
  }

  // The number of records once it is |count|, or after a minute. A record
  // leaves the list when the server learns that its process has ended, a
  // while after the process's end.
  size_t WaitUntilListed(size_t count) {
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (server_.server()->ClientCountForTesting() != count && ::GetTickCount64() < deadline)
      ::Sleep(10);
    return server_.server()->ClientCountForTesting();
  }

  // Sends |size| bytes of |message| as one request; true when the server
  // answered at all.
  static bool ServerAnswers(const CrashPipeMessage& message, DWORD size) {
    base::win::ScopedHandle pipe = OpenCrashPipe(CrashPipeNameFor(::GetCurrentProcessId()));
    EXPECT_TRUE(pipe.IsValid());
    CrashPipeMessage reply = {};
    DWORD read = 0;
    return ::TransactNamedPipe(pipe.Get(), const_cast<CrashPipeMessage*>(&message), size, &reply,
                               sizeof(reply), &read, nullptr) &&
           read > 0;
  }

  RecordingCrashServer server_;
};

TEST_F(CrashPipeTest, ChildrenRegisterAndTheServerReadsTheirCrash) {
  ASSERT_TRUE(server_.Start());

  base::Process child = StartClient(100);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(0, ExitCodeOf(child));
  ASSERT_EQ(1u, server_.dumps().size());
  RecordedDump dump = server_.dumps()[0];
  EXPECT_EQ(child.Pid(), dump.pid);
  EXPECT_NE(0u, dump.thread_id);
  EXPECT_EQ(kFakeExceptionCode, dump.exception_code);
  EXPECT_EQ(0u, dump.assertion_type);
  ASSERT_EQ(101u, dump.entries.size());
  EXPECT_EQ(L"key0", dump.entries[0].first);
  EXPECT_EQ(L"value99", dump.entries[99].second);
  EXPECT_EQ(L"ptime", dump.entries[100].first);
  uint64_t ptime = 0;
  EXPECT_TRUE(base::StringToUint64_16(dump.entries[100].second, &ptime))
      << dump.entries[100].second;

  // A client claiming more entries than the reporter reads gets no custom
  // info, yet its dump is handled and it is released.
  base::Process greedy = StartClient(10, L"", L"", kMaxCustomInfoEntries + 1);
  EXPECT_EQ(0, ExitCodeOf(greedy));
  ASSERT_EQ(2u, server_.dumps().size());
  EXPECT_TRUE(server_.dumps()[1].entries.empty());
  EXPECT_EQ(kFakeExceptionCode, server_.dumps()[1].exception_code);

  // Two registrations from the same process make two records, beside none
  // left by the ended children.
  ASSERT_EQ(0u, WaitUntilListed(0));
  CrashPipeClient first(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
  CrashPipeClient second(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
  EXPECT_TRUE(first.Register());
  EXPECT_TRUE(second.Register());
  EXPECT_TRUE(first.Register());  // already registered: no third record
  EXPECT_EQ(::GetCurrentProcessId(), first.server_pid());
  EXPECT_EQ(2u, server_.server()->ClientCountForTesting());
}

TEST_F(CrashPipeTest, KeysFillingTheirFieldsArriveWholeAndNoFurther) {
  ASSERT_TRUE(server_.Start());
  base::CommandLine command_line = testing::GetChildCommandLine("LongKeysClient");
  command_line.AppendSwitchNative("pipe", CrashPipeNameFor(::GetCurrentProcessId()));
  base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(0, ExitCodeOf(child));
  ASSERT_EQ(1u, server_.dumps().size());
  const RecordedDump dump = server_.dumps()[0];
  ASSERT_EQ(7u, dump.entries.size());
  EXPECT_EQ(std::wstring(63, L'a'), dump.entries[0].first);
  EXPECT_EQ(std::wstring(63, L'x'), dump.entries[0].second);
  EXPECT_EQ(std::wstring(64, L'b'), dump.entries[1].first);
  EXPECT_EQ(std::wstring(64, L'y'), dump.entries[2].second);
  // The 65th unit belongs to the next entry, not to this value.
  EXPECT_EQ(std::wstring(64, L'z'), dump.entries[3].second);
  EXPECT_EQ(L"z", dump.entries[4].first);
  EXPECT_EQ(L"after", dump.entries[4].second);
  // A "ptime" of the client's own is no key: the reporter's is found.
  EXPECT_EQ(L"", dump.entries[5].first);
  EXPECT_EQ(L"ptime", dump.entries[6].first);
  EXPECT_NE(L"9223372036854775807", dump.Value(L"ptime"));

  // In the crash log's metadata a name of 63 units is kept and one of 64 is
  // refused; values of 64 units are kept whole.
  std::map<std::string, std::string> metadata;
  for (const auto& [name, value] : dump.crash_info.metadata)
    metadata[name] = value;
  EXPECT_EQ(std::string(63, 'x'), metadata[std::string(63, 'a')]);
  for (const auto& [name, value] : dump.crash_info.metadata)
    EXPECT_EQ(std::string::npos, name.find("bbb")) << name;
  EXPECT_EQ(std::string(64, 'y'), metadata["value64"]);
  EXPECT_EQ(std::string(64, 'z'), metadata["value65"]);
  EXPECT_EQ("after", metadata["z"]);
}

TEST_F(CrashPipeTest, ABusyPipeIsTriedOnceMoreEvenAfterAFailedWait) {
  ASSERT_TRUE(server_.Start());
  // A connection that sends nothing holds the server's one instance, for
  // longer than the client waits.
  server_.server()->set_client_step_timeout_for_testing(10 * 60 * 1000);
  const std::wstring name = CrashPipeNameFor(::GetCurrentProcessId());
  base::win::ScopedHandle blocking;
  for (int attempt = 0; attempt < 50 && !blocking.IsValid(); ++attempt) {
    blocking.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (!blocking.IsValid())
      ::WaitNamedPipeW(name.c_str(), 2000);
  }
  ASSERT_TRUE(blocking.IsValid());
  ASSERT_TRUE(WaitForServerState(server_.server(), kServerStateReading, 30000));

  // The client finds the pipe busy and waits the whole time in vain; the
  // instance comes free only then, and the second attempt registers.
  std::vector<bool> waits;
  g_blocking_connection = &blocking;
  g_busy_server = server_.server();
  g_busy_waits = &waits;
  CrashPipeClient::SetPipeBusyObserverForTesting(&ReleaseThePipeAfterTheWait);
  CrashPipeClient client(name, 0, CustomInfo());
  EXPECT_TRUE(client.Register());
  CrashPipeClient::SetPipeBusyObserverForTesting(nullptr);
  g_blocking_connection = nullptr;
  g_busy_server = nullptr;
  g_busy_waits = nullptr;
  EXPECT_EQ(std::vector<bool>{false}, waits);
  EXPECT_EQ(1u, server_.server()->ClientCountForTesting());
}

TEST_F(CrashPipeTest, EndedClientsLeaveTheListAndHoldNoHandles) {
  ASSERT_TRUE(server_.Start());
  // Clients are started a few at a time, as installers start beside each
  // other.
  constexpr int kBatch = 8;
  auto run_batch = [this] {
    std::vector<base::Process> children;
    for (int i = 0; i < kBatch; ++i) {
      base::CommandLine command_line = testing::GetChildCommandLine("ShortLivedClient");
      command_line.AppendSwitchNative("pipe", CrashPipeNameFor(::GetCurrentProcessId()));
      children.push_back(base::LaunchProcess(command_line, base::LaunchOptions()));
      EXPECT_TRUE(children.back().IsValid());
    }
    for (base::Process& child : children)
      EXPECT_EQ(0, ExitCodeOf(child));
  };
  run_batch();
  ASSERT_EQ(0u, WaitUntilListed(0));
  DWORD handles_after_first = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_after_first));
  for (int round = 1; round < 200 / kBatch; ++round) {
    run_batch();
    if (HasFailure())
      return;
  }
  ASSERT_EQ(0u, WaitUntilListed(0));
  DWORD handles_at_end = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_at_end));
  // Each record holds the client's process, two events and two waits: a
  // record or a handle left per client would be hundreds. The slack allows
  // for the thread pool's own threads, which come and go with the load.
  EXPECT_LE(handles_at_end, handles_after_first + 48);
}

TEST_F(CrashPipeTest, BadRequestsEndTheirConnectionUnanswered) {
  ASSERT_TRUE(server_.Start());
  base::CommandLine sleeper_command = testing::GetChildCommandLine("Sleeper");
  base::Process other = base::LaunchProcess(sleeper_command, base::LaunchOptions());
  ASSERT_TRUE(other.IsValid());

  RegistrationSlots slots;
  const CrashPipeMessage good = slots.Request();

  struct BadCase {
    const char* what;
    CrashPipeMessage message;
    DWORD size;
  };
  std::vector<BadCase> cases;
  cases.push_back({"79 bytes", good, 79});
  for (uint32_t tag : {0u, 2u, 3u, 5u}) {
    BadCase bad{"tag", good, sizeof(good)};
    bad.message.tag = tag;
    cases.push_back(bad);
  }
  BadCase no_pid{"zero pid", good, sizeof(good)};
  no_pid.message.id = 0;
  cases.push_back(no_pid);
  BadCase no_thread{"zero thread-id address", good, sizeof(good)};
  no_thread.message.thread_id_address = 0;
  cases.push_back(no_thread);
  BadCase no_pointers{"zero exception-pointers address", good, sizeof(good)};
  no_pointers.message.exception_pointers_address = 0;
  cases.push_back(no_pointers);
  BadCase no_assertion{"zero assertion address", good, sizeof(good)};
  no_assertion.message.assertion_info_address = 0;
  cases.push_back(no_assertion);
  // The server would open the named process with full access and read its
  // memory: a request for another process is refused.
  BadCase stranger{"pid of another process", good, sizeof(good)};
  stranger.message.id = other.Pid();
  cases.push_back(stranger);

  // The good clients stay registered while this process lives.
  std::vector<std::unique_ptr<CrashPipeClient>> clients;
  for (const BadCase& bad : cases) {
    EXPECT_FALSE(ServerAnswers(bad.message, bad.size)) << bad.what;
    EXPECT_EQ(clients.size(), server_.server()->ClientCountForTesting()) << bad.what;
    // The next client is served.
    clients.push_back(std::make_unique<CrashPipeClient>(CrashPipeNameFor(::GetCurrentProcessId()),
                                                        0, CustomInfo()));
    EXPECT_TRUE(clients.back()->Register()) << "after " << bad.what;
  }
  // An upload request is no registration either, and is not answered.
  CrashPipeMessage upload = {};
  upload.tag = kUploadRequest;
  upload.id = 1234;
  EXPECT_FALSE(ServerAnswers(upload, sizeof(upload)));
  other.Terminate(0, true);
}

// A client that stalls on the only pipe instance, before its request or
// before its acknowledgement, is dropped, and the next client is served.
TEST_F(CrashPipeTest, AStalledClientIsDroppedAndTheNextIsServed) {
  ASSERT_TRUE(server_.Start());
  const std::wstring name = CrashPipeNameFor(::GetCurrentProcessId());
  RegistrationSlots slots;
  CrashPipeMessage request = slots.Request();
  std::vector<std::unique_ptr<CrashPipeClient>> clients;
  for (const bool sends_request : {false, true}) {
    SCOPED_TRACE(sends_request ? "stalls before the acknowledgement" : "never writes");
    base::win::ScopedHandle pipe = OpenCrashPipe(name, FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(pipe.IsValid());
    base::win::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    CrashPipeMessage reply = {};
    DWORD bytes = 0;
    if (sends_request) {
      ASSERT_TRUE(::WriteFile(pipe.Get(), &request, sizeof(request), nullptr, &overlapped) ||
                  ::GetLastError() == ERROR_IO_PENDING);
      ASSERT_TRUE(::GetOverlappedResult(pipe.Get(), &overlapped, &bytes, TRUE));
      ASSERT_TRUE(::ReadFile(pipe.Get(), &reply, sizeof(reply), nullptr, &overlapped) ||
                  ::GetLastError() == ERROR_IO_PENDING);
      ASSERT_TRUE(::GetOverlappedResult(pipe.Get(), &overlapped, &bytes, TRUE));
      ASSERT_EQ(kRegistrationReply, reply.tag);
      for (uint64_t handle :
           {reply.dump_request_event, reply.dump_generated_event, reply.server_alive_mutex}) {
        base::win::ScopedHandle(reinterpret_cast<HANDLE>(handle));
      }
    }
    // A read that the server never answers ends when it lets the client go.
    ASSERT_FALSE(::ReadFile(pipe.Get(), &reply, sizeof(reply), nullptr, &overlapped));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), ::GetLastError());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 60000));
    EXPECT_FALSE(::GetOverlappedResult(pipe.Get(), &overlapped, &bytes, FALSE));
    clients.push_back(std::make_unique<CrashPipeClient>(name, 0, CustomInfo()));
    EXPECT_TRUE(clients.back()->Register());
  }
}

// A client that the server cannot add after answering it keeps the
// answer's handles, which are its own to close: the server closes none of
// them under it. The next client is served.
TEST_F(CrashPipeTest, AClientThatCannotBeAddedAfterItsAnswerKeepsItsHandles) {
  ASSERT_TRUE(server_.Start());
  CrashPipeServer::SetFailClientAddsForTesting(true);
  base::CommandLine command_line = testing::GetChildCommandLine("UnaddedClient");
  command_line.AppendSwitchNative("pipe", CrashPipeNameFor(::GetCurrentProcessId()));
  const int exit_code = ExitCodeOf(base::LaunchProcess(command_line, base::LaunchOptions()));
  CrashPipeServer::SetFailClientAddsForTesting(false);
  EXPECT_EQ(0, exit_code);
  EXPECT_EQ(0u, server_.server()->ClientCountForTesting());
  CrashPipeClient client(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
  EXPECT_TRUE(client.Register());
  EXPECT_EQ(1u, server_.server()->ClientCountForTesting());
}

TEST_F(CrashPipeTest, AKilledServerReleasesAWaitingClientAtOnce) {
  std::wstring ready_name = UniqueEventName(L"ready");
  base::win::ScopedHandle ready(::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  base::CommandLine command_line = testing::GetChildCommandLine("ServingProcess");
  command_line.AppendSwitchNative("ready-event", ready_name);
  base::Process server = base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(server.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.Get(), kChildReadyTimeoutMs));

  CrashPipeClient client(CrashPipeNameFor(server.Pid()), 0, CustomInfo());
  // A time-out no machine reaches, however loaded: only the abandoned mutex
  // can end the wait before it.
  client.set_dump_request_timeout_for_testing(kTestDumpRequestTimeoutMs);
  ASSERT_TRUE(client.Register());
  EXPECT_EQ(server.Pid(), client.server_pid());
  ASSERT_TRUE(server.Terminate(1, true));

  ULONGLONG start = ::GetTickCount64();
  EXPECT_FALSE(RequestFakeDump(&client));
  EXPECT_LT(::GetTickCount64() - start, kTestDumpRequestTimeoutMs);
}

TEST_F(CrashPipeTest, DestroyingTheServerReleasesRegisteredClientsAndLeaksNoHandle) {
  // A first round lets the thread pool create its threads.
  ASSERT_TRUE(server_.Start());
  {
    CrashPipeClient client(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
    ASSERT_TRUE(client.Register());
  }
  server_.Stop();

  DWORD handles_before = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_before));
  ASSERT_TRUE(server_.Start());
  std::wstring registered_name = UniqueEventName(L"registered");
  std::wstring go_name = UniqueEventName(L"go");
  base::win::ScopedHandle registered(::CreateEventW(nullptr, TRUE, FALSE, registered_name.c_str()));
  base::win::ScopedHandle go(::CreateEventW(nullptr, TRUE, FALSE, go_name.c_str()));
  base::Process child = StartClient(3, registered_name, go_name);
  ASSERT_TRUE(child.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(registered.Get(), kChildReadyTimeoutMs));
  server_.Stop();
  ::SetEvent(go.Get());
  // The released mutex ends the child's wait with "not confirmed".
  EXPECT_EQ(kChildDumpNotConfirmed, ExitCodeOf(child));
  child.Close();
  registered.Reset();
  go.Reset();
  DWORD handles_after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_after));
  EXPECT_EQ(handles_before, handles_after);
}

std::atomic<int> g_error_lines{0};

bool CountErrorLines(int severity, const char*, int, size_t, const std::string&) {
  if (severity >= logging::LOG_ERROR)
    g_error_lines.fetch_add(1);
  return false;
}

// The system writes into a server's memory when an operation pending on its
// pipe ends, also one that the destruction cancels; under the emulator that
// write may come after the cancellation has returned, when another thread
// started the operation (as the listening server's wait thread did here):
// the destruction must wait for it. The test owns the server's memory and
// marks it once the server is gone: a late write would overwrite the mark,
// and the server logs an operation that it left pending. Whether the write
// comes late depends on the system's threads, so the test tries many times.
TEST_F(CrashPipeTest, NoOperationWritesIntoADestroyedServer) {
  constexpr unsigned char kMark = 0xA5;
  const std::wstring name = CrashPipeNameFor(::GetCurrentProcessId());
  g_error_lines = 0;
  const logging::LogMessageHandlerFunction previous = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&CountErrorLines);
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    auto memory = std::make_unique<unsigned char[]>(sizeof(CrashPipeServer));
    auto* server = new (memory.get()) CrashPipeServer(
        name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        /*generate_dumps=*/false, /*dump_folder=*/nullptr);
    ASSERT_TRUE(server->Start());
    EXPECT_TRUE(WaitForServerState(server, kServerStateConnecting, 60000));
    server->~CrashPipeServer();
    std::fill_n(memory.get(), sizeof(CrashPipeServer), kMark);
    // A late write comes within milliseconds, at the next wait of one of the
    // process's threads.
    const ULONGLONG deadline = ::GetTickCount64() + 50;
    do {
      ::Sleep(1);
      EXPECT_EQ(sizeof(CrashPipeServer),
                static_cast<size_t>(
                    std::count(memory.get(), memory.get() + sizeof(CrashPipeServer), kMark)))
          << "round " << round;
    } while (::GetTickCount64() < deadline && !HasFailure());
    EXPECT_EQ(0, g_error_lines.load()) << "round " << round;
  }
  logging::SetLogMessageHandler(previous);
}

TEST_F(CrashPipeTest, DestroyingTheServerDuringADumpCallbackWaitsForIt) {
  base::win::ScopedHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::win::ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  server_.HoldCallbacks(entered.Get(), release.Get());
  ASSERT_TRUE(server_.Start());
  base::Process child = StartClient(1);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(entered.Get(), kChildReadyTimeoutMs));
  std::atomic<bool> stopped{false};
  std::thread destroyer([this, &stopped] {
    server_.Stop();
    stopped = true;
  });
  // The destruction does not end while the callback is held. The time
  // outlasts the shutdown's own wait for its dispatcher (1 s), after which a
  // destruction that did not wait would end; a loaded machine can only make
  // it end later, never make a sound one end (the held callback gives up
  // only after 30 s).
  ::Sleep(2000);
  EXPECT_FALSE(stopped.load());
  ::SetEvent(release.Get());
  destroyer.join();
  // The callback ran to its end, so the child's dump was confirmed.
  EXPECT_EQ(1u, server_.dumps().size());
  EXPECT_EQ(0, ExitCodeOf(child));
}

// The reporter reads a crash out of the waiting process: a crashed process
// that stops waiting before the reporter is done loses its report. On a
// loaded machine the reporter takes longer than the 15 s an installer once
// waited; here it takes 16.
TEST_F(CrashPipeTest, ACrashedProcessWaitsForAReporterThatTakesItsTime) {
  base::win::ScopedHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::win::ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  server_.HoldCallbacks(entered.Get(), release.Get());
  ASSERT_TRUE(server_.Start());
  base::Process child = StartClient(1, L"", L"", -1, 0, /*usual_wait=*/true);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(entered.Get(), kChildReadyTimeoutMs));
  ::Sleep(16000);
  ::SetEvent(release.Get());
  EXPECT_EQ(0, ExitCodeOf(child));
  EXPECT_EQ(1u, server_.dumps().size());
}

TEST_F(CrashPipeTest, AServerStartsOnceAndAPipeNameServesOnce) {
  ASSERT_TRUE(server_.Start());
  EXPECT_FALSE(server_.server()->Start());
  // A second server on the same name cannot create the first instance.
  RecordingCrashServer second;
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(kServerStateError, second.server()->state());
  CrashPipeClient client(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
  EXPECT_TRUE(client.Register());
}

TEST_F(CrashPipeTest, UnreadableCrashDetailsSkipTheCallbackButReleaseTheClient) {
  base::ScopedTempDir dumps;
  ASSERT_TRUE(dumps.CreateUniqueTempDir());
  const std::wstring dump_folder = dumps.GetPath().value();
  ASSERT_TRUE(server_.Start(/*generate_dumps=*/true, &dump_folder));

  // A readable client gets its callback with the path of the dump the server
  // wrote.
  base::Process child = StartClient(2);
  EXPECT_EQ(0, ExitCodeOf(child));
  ASSERT_EQ(1u, server_.dumps().size());
  EXPECT_TRUE(server_.dumps()[0].has_dump_path);
  EXPECT_EQ(kFakeExceptionCode, server_.dumps()[0].exception_code);

  // A registration whose exception-pointers slot lies in unmapped memory,
  // made by hand so that the addresses can be chosen.
  DWORD thread_id = 0;
  AssertionInfo assertion = {};
  CrashPipeMessage request = {};
  request.tag = kRegistrationRequest;
  request.id = ::GetCurrentProcessId();
  request.thread_id_address = reinterpret_cast<uintptr_t>(&thread_id);
  request.exception_pointers_address = 0x10;
  request.assertion_info_address = reinterpret_cast<uintptr_t>(&assertion);
  std::wstring name = CrashPipeNameFor(::GetCurrentProcessId());
  base::win::ScopedHandle pipe(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  if (!pipe.IsValid() && ::WaitNamedPipeW(name.c_str(), 5000))
    pipe.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr));
  ASSERT_TRUE(pipe.IsValid());
  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr));
  CrashPipeMessage reply = {};
  DWORD bytes = 0;
  ASSERT_TRUE(::TransactNamedPipe(pipe.Get(), &request, sizeof(request), &reply, sizeof(reply),
                                  &bytes, nullptr));
  ASSERT_EQ(kRegistrationReply, reply.tag);
  base::win::ScopedHandle dump_request(reinterpret_cast<HANDLE>(reply.dump_request_event));
  base::win::ScopedHandle dump_generated(reinterpret_cast<HANDLE>(reply.dump_generated_event));
  base::win::ScopedHandle server_alive(reinterpret_cast<HANDLE>(reply.server_alive_mutex));
  CrashPipeMessage ack = {};
  ack.tag = kRegistrationAck;
  ASSERT_TRUE(::WriteFile(pipe.Get(), &ack, sizeof(ack), &bytes, nullptr));

  ASSERT_TRUE(::SetEvent(dump_request.Get()));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(dump_generated.Get(), kTestDumpRequestTimeoutMs));
  EXPECT_EQ(1u, server_.dumps().size());
}

// A client whose dump type asks for its full memory gets that memory in a
// file beside its dump, and the callback is told of both files: none is left
// in the dump folder that it does not know of.
TEST_F(CrashPipeTest, TheCallbackIsToldOfTheFullMemoryFileBesideTheDump) {
  base::ScopedTempDir dumps;
  ASSERT_TRUE(dumps.CreateUniqueTempDir());
  const std::wstring dump_folder = dumps.GetPath().value();
  ASSERT_TRUE(server_.Start(/*generate_dumps=*/true, &dump_folder));
  base::Process child = StartClient(0, L"", L"", -1, MiniDumpWithFullMemory);
  EXPECT_EQ(0, ExitCodeOf(child));
  ASSERT_EQ(1u, server_.dumps().size());
  const RecordedDump dump = server_.dumps()[0];
  EXPECT_EQ(kFakeExceptionCode, dump.exception_code);
  std::vector<std::wstring> told = {dump.dump_path, dump.full_memory_path};
  std::sort(told.begin(), told.end());
  std::vector<std::wstring> written;
  base::DirectoryEnumerator files(dumps.GetPath(), false, base::DirectoryEnumerator::FILES);
  for (base::FilePath file = files.Next(); !file.empty(); file = files.Next())
    written.push_back(file.value());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(2u, written.size());
  EXPECT_EQ(told, written);
}

TEST_F(CrashPipeTest, ThePipeCarriesALowIntegrityLabelAndServes) {
  PipeSecurityAttributes security;
  ASSERT_NE(nullptr, security.Get());
  EXPECT_FALSE(security.Get()->bInheritHandle);
  ASSERT_TRUE(security.HasLabel());
  CrashPipeServer server(CrashPipeNameFor(::GetCurrentProcessId()), security.Get(), nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, false,
                         nullptr);
  ASSERT_TRUE(server.Start());
  CrashPipeClient client(CrashPipeNameFor(::GetCurrentProcessId()), 0, CustomInfo());
  EXPECT_TRUE(client.Register());
}

TEST(GuidToWideStringTest, LowerCaseWithLeadingZeros) {
  GUID guid = {0x0A1B2C3D, 0x004E, 0xF5A6, {0x07, 0xB8, 0xC9, 0xD0, 0xE1, 0xF2, 0x03, 0x04}};
  EXPECT_EQ(L"0a1b2c3d-004e-f5a6-07b8-c9d0e1f20304", GuidToWideString(guid));
}

}  // namespace
}  // namespace crash_reporter
