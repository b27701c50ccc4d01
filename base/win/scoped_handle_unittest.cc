#include "base/win/scoped_handle.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/win/handle_verifier.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

// The test executable exports the verifier like a host does. HandleVerifier::Get()
// finds this export in its own module and must create its verifier rather
// than call it (which would wait for itself forever).
extern "C" __declspec(dllexport) void* GetHandleVerifier() {
  return base::win::HandleVerifier::Get();
}

namespace base::win {
namespace {

// Returned by a child that got past the violation it was started to commit.
constexpr int kChildSurvived = 77;

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(ScopedHandleTest, VerifierFollowsTheOwner) {
  HandleVerifier* verifier = HandleVerifier::Get();
  ASSERT_TRUE(verifier->IsEnabled());
  EXPECT_EQ(verifier, HandleVerifier::Get());
  EXPECT_EQ(verifier, GetHandleVerifier());

  HANDLE event = NewEvent();
  ASSERT_NE(nullptr, event);
  ScopedHandle first(event);
  EXPECT_EQ(&first, verifier->GetOwner(event));

  ScopedHandle second(std::move(first));
  EXPECT_FALSE(first.IsValid());
  EXPECT_EQ(&second, verifier->GetOwner(event));

  ScopedHandle third;
  third = std::move(second);
  EXPECT_EQ(&third, verifier->GetOwner(event));

  // Taking what is already held neither closes nor re-tracks it.
  third.Reset(event);
  EXPECT_EQ(&third, verifier->GetOwner(event));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event, 0));

  HANDLE released = third.Release();
  EXPECT_EQ(event, released);
  EXPECT_EQ(nullptr, verifier->GetOwner(event));
  EXPECT_TRUE(CloseHandleThroughVerifier(released));
}

TEST(ScopedHandleTest, ResetClosesAndUntracks) {
  HANDLE event = NewEvent();
  ASSERT_NE(nullptr, event);
  HANDLE duplicate = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &duplicate, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ScopedHandle keeper(duplicate);
  {
    ScopedHandle handle(event);
    handle.Reset();
    EXPECT_FALSE(handle.IsValid());
    EXPECT_EQ(nullptr, HandleVerifier::Get()->GetOwner(event));
    // The handle is closed: using it fails.
    EXPECT_FALSE(SetEvent(event));
  }
  // The object lives on through the other handle.
  EXPECT_TRUE(SetEvent(keeper.Get()));
}

TEST(ScopedHandleTest, InvalidHandleValueMeansEmpty) {
  ScopedHandle from_constructor(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(from_constructor.IsValid());
  EXPECT_EQ(nullptr, from_constructor.Get());

  HANDLE file = CreateFileW(L"Z:\\no\\such\\velmo\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_EQ(INVALID_HANDLE_VALUE, file);
  ScopedHandle from_reset(NewEvent());
  ASSERT_TRUE(from_reset.IsValid());
  from_reset.Reset(file);
  EXPECT_FALSE(from_reset.IsValid());
  EXPECT_EQ(nullptr, from_reset.Get());
}

TEST(ScopedHandleTest, ConcurrentOwnersNeverCollide) {
  // Handle values are reused as soon as they are closed; the verifier must
  // see every release before the close that frees the value.
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 300; ++i) {
        ScopedHandle a(NewEvent());
        ScopedHandle b(NewEvent());
        ASSERT_TRUE(a.IsValid() && b.IsValid());
        ASSERT_EQ(&a, HandleVerifier::Get()->GetOwner(a.Get()));
        ScopedHandle c(std::move(a));
        ASSERT_EQ(&c, HandleVerifier::Get()->GetOwner(c.Get()));
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
}

// A foreign module's export whose verifier is adopted.
HandleVerifier* g_host_verifier = nullptr;
void* HostGetHandleVerifier() { return g_host_verifier; }

TEST(ScopedHandleTest, SelectsTheHostVerifierOnlyFromAnotherModule) {
  HMODULE this_module = GetModuleHandleW(nullptr);
  HMODULE other_module = GetModuleHandleW(L"kernel32.dll");
  ASSERT_NE(nullptr, other_module);
  auto host_export =
      reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&HostGetHandleVerifier));

  // A verifier of our own to stand for the host's.
  g_host_verifier = internal::SelectHandleVerifier(nullptr, this_module);
  ASSERT_NE(nullptr, g_host_verifier);
  EXPECT_NE(HandleVerifier::Get(), g_host_verifier);

  // The export lies outside "our" module: adopted.
  EXPECT_EQ(g_host_verifier, internal::SelectHandleVerifier(host_export, other_module));
  // The export is our own: a new verifier instead.
  HandleVerifier* own = internal::SelectHandleVerifier(host_export, this_module);
  EXPECT_NE(g_host_verifier, own);
  EXPECT_TRUE(own->IsEnabled());
  // A host without a verifier to give: a new one.
  g_host_verifier = nullptr;
  EXPECT_NE(nullptr, internal::SelectHandleVerifier(host_export, other_module));
}

TEST(ScopedHandleTest, DisabledVerifierIgnoresEverything) {
  HandleVerifier* verifier = internal::SelectHandleVerifier(nullptr, nullptr);
  HANDLE event = NewEvent();
  ASSERT_NE(nullptr, event);
  int owner = 0;
  int stranger = 0;
  verifier->StartTracking(event, &owner, nullptr, nullptr);
  EXPECT_EQ(&owner, verifier->GetOwner(event));
  verifier->Disable();
  EXPECT_FALSE(verifier->IsEnabled());
  EXPECT_EQ(nullptr, verifier->GetOwner(event));
  // Would be fatal while enabled.
  verifier->StartTracking(event, &owner, nullptr, nullptr);
  verifier->StartTracking(event, &owner, nullptr, nullptr);
  verifier->StopTracking(event, &stranger, nullptr, nullptr);
  EXPECT_EQ(nullptr, verifier->GetOwner(event));
  ScopedHandle cleanup(event);
}

// Violations, each in a child process that the verifier must stop before it
// returns kChildSurvived.

// Writes each log line straight to the standard error handle: buffered
// output would die with the child.
bool WriteLineUnbuffered(int, const char*, int, size_t, const std::string& line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
  return true;
}

void PrepareChild() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  logging::SetLogMessageHandler(&WriteLineUnbuffered);
}

CHILD_PROCESS_MAIN(HandleTrackedTwice) {
  PrepareChild();
  HANDLE event = NewEvent();
  ScopedHandle first(event);
  ScopedHandle second(event);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(HandleReleasedByStranger) {
  PrepareChild();
  ScopedHandle handle(NewEvent());
  int stranger = 0;
  HandleVerifier::Get()->StopTracking(handle.Get(), &stranger, nullptr, nullptr);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(UntrackedHandleReleased) {
  PrepareChild();
  HANDLE event = NewEvent();
  int owner = 0;
  HandleVerifier::Get()->StopTracking(event, &owner, nullptr, nullptr);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(HandleClosedBehindItsOwner) {
  PrepareChild();
  ScopedHandle handle(NewEvent());
  CloseHandleThroughVerifier(handle.Get());
  return kChildSurvived;
}

struct ChildResult {
  bool ran = false;
  DWORD exit_code = 0;
  std::string output;
};

// Runs child |name| with its standard output and error in a temporary file.
ChildResult RunChild(const char* name) {
  ChildResult result;
  wchar_t folder[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH) {
    ADD_FAILURE() << "GetTempPathW failed: " << GetLastError();
    return result;
  }
  const std::wstring output_path = std::wstring(folder, length) + L"velmo_handle_child_" +
                                   std::to_wstring(GetCurrentProcessId()) + L".txt";
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  ScopedHandle output(CreateFileW(output_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inheritable, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!output.IsValid()) {
    ADD_FAILURE() << "CreateFileW failed: " << GetLastError();
    return result;
  }

  std::wstring command_line = testing::GetChildCommandLine(name).GetCommandLineString();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.Get();
  startup.hStdError = output.Get();
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return result;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    ADD_FAILURE() << "child " << name << " did not end";
    return result;
  }
  result.ran = GetExitCodeProcess(process.Get(), &result.exit_code) != 0;

  char buffer[8192];
  DWORD read = 0;
  SetFilePointer(output.Get(), 0, nullptr, FILE_BEGIN);
  while (ReadFile(output.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    result.output.append(buffer, read);
  return result;
}

TEST(ScopedHandleDeathTest, ViolationsStopTheProcess) {
  const struct {
    const char* child;
    const char* check;
  } cases[] = {
      {"HandleTrackedTwice", "Check failed: handle_owned_once"},
      {"HandleReleasedByStranger", "Check failed: handle_released_by_its_owner"},
      {"UntrackedHandleReleased", "Check failed: released_handle_is_tracked"},
      {"HandleClosedBehindItsOwner", "Check failed: closed_handle_has_no_owner"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.child);
    ChildResult result = RunChild(c.child);
    ASSERT_TRUE(result.ran);
    EXPECT_NE(static_cast<DWORD>(kChildSurvived), result.exit_code);
    EXPECT_NE(0u, result.exit_code);
    // 255 is the test main's answer for an unknown child name.
    EXPECT_NE(255u, result.exit_code);
    // Stopped by the verifier's check, which names the handle and, where
    // there is one, the stack that took it.
    EXPECT_NE(std::string::npos, result.output.find(c.check)) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("Now at:\n#0 0x")) << result.output;
  }
}

}  // namespace
}  // namespace base::win
