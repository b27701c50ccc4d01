#include "base/win/scoped_handle.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
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

HANDLE NewEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

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
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &duplicate, 0,
                              FALSE, DUPLICATE_SAME_ACCESS));
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

  HANDLE file = CreateFileW(L"Z:\\no\\such\\velmo\\file", GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(INVALID_HANDLE_VALUE, file);
  ScopedHandle from_reset(NewEvent());
  ASSERT_TRUE(from_reset.IsValid());
  from_reset.Reset(file);
  EXPECT_FALSE(from_reset.IsValid());
  EXPECT_EQ(nullptr, from_reset.Get());
}

// A foreign module's export whose verifier is adopted.
HandleVerifier* g_host_verifier = nullptr;
void* HostGetHandleVerifier() {
  return g_host_verifier;
}

TEST(ScopedHandleTest, SelectsTheHostVerifierOnlyFromAnotherModule) {
  HMODULE this_module = GetModuleHandleW(nullptr);
  HMODULE other_module = GetModuleHandleW(L"kernel32.dll");
  ASSERT_NE(nullptr, other_module);
  auto host_export = reinterpret_cast<FARPROC>(&HostGetHandleVerifier);

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

void QuietCrash() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

CHILD_PROCESS_MAIN(HandleTrackedTwice) {
  QuietCrash();
  HANDLE event = NewEvent();
  ScopedHandle first(event);
  ScopedHandle second(event);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(HandleReleasedByStranger) {
  QuietCrash();
  ScopedHandle handle(NewEvent());
  int stranger = 0;
  HandleVerifier::Get()->StopTracking(handle.Get(), &stranger, nullptr, nullptr);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(UntrackedHandleReleased) {
  QuietCrash();
  HANDLE event = NewEvent();
  int owner = 0;
  HandleVerifier::Get()->StopTracking(event, &owner, nullptr, nullptr);
  return kChildSurvived;
}

CHILD_PROCESS_MAIN(HandleClosedBehindItsOwner) {
  QuietCrash();
  ScopedHandle handle(NewEvent());
  CloseHandleThroughVerifier(handle.Get());
  return kChildSurvived;
}

// The child's exit code, or -1 when it could not be run.
DWORD RunChild(const char* name) {
  std::wstring command_line = testing::GetChildCommandLine(name).GetCommandLineString();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return static_cast<DWORD>(-1);
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  if (WaitForSingleObject(process.Get(), 60 * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    ADD_FAILURE() << "child " << name << " did not end";
    return static_cast<DWORD>(-1);
  }
  DWORD exit_code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process.Get(), &exit_code));
  return exit_code;
}

TEST(ScopedHandleDeathTest, ViolationsStopTheProcess) {
  for (const char* child : {"HandleTrackedTwice", "HandleReleasedByStranger",
                            "UntrackedHandleReleased", "HandleClosedBehindItsOwner"}) {
    SCOPED_TRACE(child);
    DWORD exit_code = RunChild(child);
    EXPECT_NE(static_cast<DWORD>(-1), exit_code);
    EXPECT_NE(static_cast<DWORD>(kChildSurvived), exit_code);
    EXPECT_NE(0u, exit_code);
    // 255 is the test main's answer for an unknown child name.
    EXPECT_NE(255u, exit_code);
  }
}

}  // namespace
}  // namespace base::win
