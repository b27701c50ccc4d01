// A fault inside the installer window's procedure goes to the process's
// crash hook, which the crash-reporter client points at the reporter.
#include <windows.h>

#include <atomic>

#include "base/win/crash_hook.h"
#include "base/win/exception_filter_call.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window_test_support.h"

namespace installer {
namespace {

std::atomic<int> g_hook_calls{0};
std::atomic<DWORD> g_hooked_code{0};

// Takes the exception as the installer's hook does (which then ends the
// process after the dump): control goes back to the guard.
int TakingHook(EXCEPTION_POINTERS* pointers) {
  g_hook_calls.fetch_add(1);
  g_hooked_code.store(pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// A reserved page that faults when read until something commits it.
void* g_fault_page = nullptr;

// The test's own handler around the click, asked after the guard inside
// the window procedure: a fault that no guard took is repaired here, so that
// a window procedure run without a guard shows as a hook that was never
// called rather than as a crash of the test.
LONG RepairUnguardedFault(void*, EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
      record->ExceptionInformation[1] != reinterpret_cast<ULONG_PTR>(g_fault_page) ||
      !::VirtualAlloc(g_fault_page, 4096, MEM_COMMIT, PAGE_READWRITE)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Its OnAccept runs inside the main dialog's procedure (the click's
// WM_COMMAND) and faults there.
class FaultingDelegate : public InstallerWindowDelegate {
 public:
  void OnAccept() override {
    value = *static_cast<volatile int*>(g_fault_page);
    finished = true;
  }
  void OnCancel() override {}
  void OnGetFullPackage() override {}
  int value = -1;
  bool finished = false;
};

class InstallerWindowCrashTest : public test::InstallerWindowTestBase {
 protected:
  void SetUp() override {
    InstallerWindowTestBase::SetUp();
    g_hook_calls = 0;
    g_hooked_code = 0;
    g_fault_page = ::VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, g_fault_page);
    previous_hook_ = base::win::ExchangeCrashHook(&TakingHook);
  }
  void TearDown() override {
    if (window_)
      window_->RemoveDelegate(&faulting_);
    InstallerWindowTestBase::TearDown();
    base::win::ExchangeCrashHook(previous_hook_);
    ::VirtualFree(g_fault_page, 0, MEM_RELEASE);
    g_fault_page = nullptr;
  }

  FaultingDelegate faulting_;

 public:
  // The click whose WM_COMMAND faults, under the test's own handler.
  void ClickAcceptUnderTheRepair() {
    base::win::RunWithExceptionFilter(
        [](void* test) { static_cast<InstallerWindowCrashTest*>(test)->Click(IDC_ACCEPT_BUTTON); },
        this, &RepairUnguardedFault, nullptr);
  }

 private:
  base::win::CrashHook previous_hook_ = nullptr;
};

TEST_F(InstallerWindowCrashTest, AFaultInTheWindowProcedureReachesTheCrashHook) {
  MakeWindow(false);
  window_->AddDelegate(&faulting_);
  ClickAcceptUnderTheRepair();
  EXPECT_EQ(1, g_hook_calls.load());
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), g_hooked_code.load());
  // Taken by the hook, the fault ended the call where it happened.
  EXPECT_FALSE(faulting_.finished);
  // The delegate before it was told; the window goes on answering.
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ("ACCEPT", StatString(0, "navigation_action"));
  window_->ShowProgress(0, 100, false);
  EXPECT_TRUE(Visible(IDC_THANK_YOU));
}

}  // namespace
}  // namespace installer
