#include "base/win/crash_hook.h"

#include <windows.h>

#include <atomic>
#include <ostream>
#include <string>
#include <thread>

#include "base/process.h"
#include "base/win/exception_filter_call.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base::win {
namespace {

std::atomic<int> g_hook_calls{0};
std::atomic<DWORD> g_last_code{0};
std::atomic<int> g_decision{EXCEPTION_EXECUTE_HANDLER};

int RecordingHook(EXCEPTION_POINTERS* pointers) {
  g_hook_calls.fetch_add(1);
  g_last_code.store(pointers->ExceptionRecord->ExceptionCode);
  return g_decision.load();
}

// Keeps the compiler from proving the pointer null and dropping the access.
int ReadThrough(volatile int* pointer) { return *pointer; }
volatile int* volatile g_null = nullptr;

void DereferenceNull() { ReadThrough(g_null); }

LRESULT CALLBACK CrashingWindowProcedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_USER)
    DereferenceNull();
  return 1234;
}

// The shape of a hook procedure: anything but a window procedure.
LRESULT CALLBACK CrashingHookProcedure(int code, WPARAM, LPARAM) {
  if (code == 1)
    DereferenceNull();
  return 5;
}

class CrashHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hook_calls = 0;
    g_last_code = 0;
    g_decision = EXCEPTION_EXECUTE_HANDLER;
    previous_ = ExchangeCrashHook(&RecordingHook);
  }
  void TearDown() override { EXPECT_EQ(&RecordingHook, ExchangeCrashHook(previous_)); }

 private:
  CrashHook previous_ = nullptr;
};

TEST_F(CrashHookTest, ExchangeReturnsThePreviousHook) {
  EXPECT_EQ(&RecordingHook, ExchangeCrashHook(nullptr));
  EXPECT_EQ(nullptr, ExchangeCrashHook(&RecordingHook));
}

TEST_F(CrashHookTest, WindowProcedureCrashReturnsToTheGuard) {
  LRESULT result = -1;
  EXPECT_TRUE(RunGuardedWindowProcedure(&CrashingWindowProcedure, nullptr, WM_NULL, 0, 0, &result));
  EXPECT_EQ(1234, result);
  EXPECT_EQ(0, g_hook_calls.load());

  EXPECT_FALSE(
      RunGuardedWindowProcedure(&CrashingWindowProcedure, nullptr, WM_USER, 0, 0, &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(1, g_hook_calls.load());
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), g_last_code.load());

  // The thread goes on normally, and so do later guards.
  EXPECT_TRUE(RunGuardedWindowProcedure(&CrashingWindowProcedure, nullptr, WM_NULL, 0, 0, &result));
  EXPECT_EQ(1234, result);
  EXPECT_FALSE(
      RunGuardedWindowProcedure(&CrashingWindowProcedure, nullptr, WM_USER, 0, 0, &result));
  EXPECT_EQ(2, g_hook_calls.load());
}

TEST_F(CrashHookTest, GuardedProceduresOfEveryShapeGiveTheirCrashesToTheHook) {
  EXPECT_EQ(1234, GuardedProcedure<&CrashingWindowProcedure>(nullptr, WM_NULL, 0, 0));
  EXPECT_EQ(5, GuardedProcedure<&CrashingHookProcedure>(0, 0, 0));
  EXPECT_EQ(0, g_hook_calls.load());
  EXPECT_EQ(0, GuardedProcedure<&CrashingWindowProcedure>(nullptr, WM_USER, 0, 0));
  EXPECT_EQ(0, GuardedProcedure<&CrashingHookProcedure>(1, 0, 0));
  EXPECT_EQ(2, g_hook_calls.load());
}

TEST_F(CrashHookTest, NestedGuardsTakeTheirOwnExceptions) {
  int stage = 0;
  bool inner_result = true;
  const bool outer_result = RunGuarded([&] {
    stage = 1;
    inner_result = RunGuarded([&] {
      stage = 2;
      DereferenceNull();
      stage = 99;  // never reached
    });
    stage = 3;  // the outer guard goes on after the inner one crashed
    DereferenceNull();
    stage = 98;
  });
  EXPECT_FALSE(inner_result);
  EXPECT_FALSE(outer_result);
  EXPECT_EQ(3, stage);
  EXPECT_EQ(2, g_hook_calls.load());

  // A guard that finished is no longer active: the next one starts clean.
  EXPECT_TRUE(RunGuarded([&] { stage = 4; }));
  EXPECT_EQ(4, stage);
}

// A page reserved without access: reading it faults until a handler
// commits it, after which the faulting instruction can be retried.
class LazyPage {
 public:
  LazyPage() : address_(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS)) {}
  LazyPage(const LazyPage&) = delete;
  LazyPage& operator=(const LazyPage&) = delete;
  ~LazyPage() {
    if (address_)
      VirtualFree(address_, 0, MEM_RELEASE);
  }
  volatile int* pointer() const { return static_cast<volatile int*>(address_); }

  // Commits the page when |pointers| is a fault on it.
  static LONG Repair(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!current_ || record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
        record->ExceptionInformation[1] != reinterpret_cast<ULONG_PTR>(current_->address_)) {
      return EXCEPTION_CONTINUE_SEARCH;
    }
    if (!VirtualAlloc(current_->address_, 4096, MEM_COMMIT, PAGE_READWRITE))
      return EXCEPTION_CONTINUE_SEARCH;
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  static LazyPage* current_;

 private:
  void* address_;
};
LazyPage* LazyPage::current_ = nullptr;

LONG CALLBACK RepairingHandler(EXCEPTION_POINTERS* pointers) { return LazyPage::Repair(pointers); }

TEST_F(CrashHookTest, HookMayResumeExecution) {
  LazyPage page;
  ASSERT_NE(nullptr, page.pointer());
  LazyPage::current_ = &page;
  CrashHook previous = ExchangeCrashHook([](EXCEPTION_POINTERS* pointers) -> int {
    g_hook_calls.fetch_add(1);
    return LazyPage::Repair(pointers);
  });
  int value = -1;
  const bool returned = RunGuarded([&] { value = ReadThrough(page.pointer()); });
  ExchangeCrashHook(previous);
  LazyPage::current_ = nullptr;
  EXPECT_TRUE(returned);
  EXPECT_EQ(0, value);  // a fresh committed page reads as zero
  EXPECT_EQ(1, g_hook_calls.load());
}

LONG RepairingFilter(void*, EXCEPTION_POINTERS* pointers) { return LazyPage::Repair(pointers); }

TEST_F(CrashHookTest, DecliningHookLeavesTheExceptionToTheCallers) {
  LazyPage page;
  ASSERT_NE(nullptr, page.pointer());
  LazyPage::current_ = &page;
  g_decision = EXCEPTION_CONTINUE_SEARCH;
  // The caller of the guarded call handles the fault, after the guard.
  struct Call {
    LazyPage* page;
    int value;
    bool returned;
  } call = {&page, -1, false};
  const bool outer_returned = RunWithExceptionFilter(
      [](void* context) {
        auto* c = static_cast<Call*>(context);
        c->returned = RunGuarded([c] { c->value = ReadThrough(c->page->pointer()); });
      },
      &call, &RepairingFilter, nullptr);
  LazyPage::current_ = nullptr;
  EXPECT_TRUE(outer_returned);
  EXPECT_TRUE(call.returned);
  EXPECT_EQ(0, call.value);
  EXPECT_EQ(1, g_hook_calls.load());
}

LONG TakeEverything(void*, EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }
LONG TakeNothing(void*, EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

// Code inside a guarded call that faults. |handled| tells whether it
// handles the fault itself.
struct InnerFault {
  const char* name;
  bool (*run)();  // true when the inner code went on as it expects
  bool handled;
};

void PrintTo(const InnerFault& fault, std::ostream* out) { *out << fault.name; }

class CrashHookInnerHandlerTest : public CrashHookTest,
                                  public ::testing::WithParamInterface<InnerFault> {};

// The guard is asked only about what nothing inside the call handled: a
// fault that the code inside handles itself lets the call go on.
TEST_P(CrashHookInnerHandlerTest, OnlyFaultsThatTheCodeInsideLeavesUnhandledReachTheHook) {
  bool inner_went_on = false;
  const bool returned = RunGuarded([&] { inner_went_on = GetParam().run(); });
  EXPECT_EQ(GetParam().handled, returned);
  EXPECT_EQ(GetParam().handled, inner_went_on);
  EXPECT_EQ(GetParam().handled ? 0 : 1, g_hook_calls.load());
  if (!GetParam().handled) {
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), g_last_code.load());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CrashHookInnerHandlerTest,
    ::testing::Values(
        // The system's probe reads the page under a handler of its own.
        InnerFault{"ProbingReadOfTheSystem",
                   [] {
                     LazyPage page;
                     return page.pointer() &&
                            IsBadReadPtr(const_cast<int*>(page.pointer()), sizeof(int)) != FALSE;
                   },
                   true},
        InnerFault{"HandlerOfTheCodesOwn",
                   [] {
                     return !RunWithExceptionFilter([](void*) { DereferenceNull(); }, nullptr,
                                                    &TakeEverything, nullptr);
                   },
                   true},
        InnerFault{"HandlerThatDeclines",
                   [] {
                     RunWithExceptionFilter([](void*) { DereferenceNull(); }, nullptr, &TakeNothing,
                                            nullptr);
                     return true;
                   },
                   false}),
    [](const ::testing::TestParamInfo<InnerFault>& info) { return std::string(info.param.name); });

LONG CALLBACK ResumeSoftwareException(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == 0xE0000001u ? EXCEPTION_CONTINUE_EXECUTION
                                                                 : EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(CrashHookTest, OnlyHardwareFaultsOfTheGuardedThreadAreTaken) {
  // A fault on another thread, while this thread is guarded, is not the
  // guard's business.
  LazyPage page;
  ASSERT_NE(nullptr, page.pointer());
  LazyPage::current_ = &page;
  PVOID repair = AddVectoredExceptionHandler(0, &RepairingHandler);
  ASSERT_NE(nullptr, repair);
  int value = -1;
  bool returned = RunGuarded([&] {
    std::thread other([&] { value = ReadThrough(page.pointer()); });
    other.join();
  });
  RemoveVectoredExceptionHandler(repair);
  LazyPage::current_ = nullptr;
  EXPECT_TRUE(returned);
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, g_hook_calls.load());

  // A software exception raised under the guard passes by.
  PVOID resume = AddVectoredExceptionHandler(0, &ResumeSoftwareException);
  ASSERT_NE(nullptr, resume);
  returned = RunGuarded([] { RaiseException(0xE0000001u, 0, 0, nullptr); });
  RemoveVectoredExceptionHandler(resume);
  EXPECT_TRUE(returned);
  EXPECT_EQ(0, g_hook_calls.load());
}

// Without a guard the crash hook is not involved: the process dies of the
// access violation. A hook that ran would end the child with 77 instead.
CHILD_PROCESS_MAIN(UnguardedCrash) {
  ExchangeCrashHook([](EXCEPTION_POINTERS*) -> int { ExitProcess(77); });
  // A guarded call that has ended leaves nothing behind that could take
  // the crash.
  RunGuarded([] {});
  DereferenceNull();
  return 0;
}

TEST(CrashHookProcessTest, UnguardedCrashIsUntouched) {
  base::LaunchOptions options;
  options.wait = true;
  base::Process child =
      base::LaunchProcess(testing::GetChildCommandLine("UnguardedCrash"), options);
  ASSERT_TRUE(child.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(static_cast<int>(EXCEPTION_ACCESS_VIOLATION), exit_code);
}

}  // namespace
}  // namespace base::win
