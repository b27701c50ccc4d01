#include "desktop/windows/installer/association_change_notice.h"

#include <windows.h>

#include <string>

#include "base/scoped_generic.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct WindowTraits {
  static HWND InvalidValue() { return nullptr; }
  static void Free(HWND& window) { ::DestroyWindow(window); }
};

std::wstring* g_received = nullptr;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SETTINGCHANGE && lparam && g_received)
    *g_received = reinterpret_cast<const wchar_t*>(lparam);
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The change reaches the top-level windows with its text, sent from the
// thread pool while this thread keeps running its messages.
TEST(AssociationChangeNoticeTest, WindowsReceiveTheSettingChange) {
  // A notification message cannot carry the text to other processes (it
  // fails with ERROR_MESSAGE_SYNC_ONLY); the timed send does.
  SetSettingChangeTimeoutForTesting(100);
  EXPECT_TRUE(BroadcastStartMenuInternetChange());

  std::wstring received;
  g_received = &received;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &RecordingWindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"AssociationChangeNoticeTestWindow";
  ASSERT_NE(0, ::RegisterClassW(&window_class));
  base::ScopedGeneric<HWND, WindowTraits> window(
      ::CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                        nullptr, window_class.hInstance, nullptr));
  if (!window.IsValid()) {
    ::UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
    g_received = nullptr;
    GTEST_SKIP() << "No window can be made here (no display?): " << ::GetLastError();
  }

  AnnounceAssociationChange();
  const DWORD deadline = ::GetTickCount() + 20000;
  while (received.empty() && static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      ::DispatchMessageW(&message);
  }
  EXPECT_EQ(kStartMenuInternetSetting, received);

  SetSettingChangeTimeoutForTesting(kSettingChangeTimeoutMs);
  window.Reset();
  ::UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
  g_received = nullptr;
}

base::WaitableEvent* g_release = nullptr;
void HoldBroadcast() { g_release->Wait(); }

// A process about to exit waits for a broadcast still in flight, but no
// longer than its bound.
TEST(AssociationChangeNoticeTest, ExitWaitsForABroadcastInFlight) {
  SetSettingChangeTimeoutForTesting(100);
  ASSERT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
  base::WaitableEvent release(base::WaitableEvent::ResetPolicy::kManual,
                              base::WaitableEvent::InitialState::kNotSignaled);
  g_release = &release;
  SetBroadcastHookForTesting(&HoldBroadcast);
  AnnounceAssociationChange();
  AnnounceAssociationChange();
  EXPECT_FALSE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromMilliseconds(50)));
  release.Signal();
  EXPECT_TRUE(WaitForAssociationChangeBroadcasts(base::TimeSpan::FromSeconds(60)));
  SetBroadcastHookForTesting(nullptr);
  g_release = nullptr;
  SetSettingChangeTimeoutForTesting(kSettingChangeTimeoutMs);
}

}  // namespace
}  // namespace installer
