// Telling the shell and the running programs that the browser's registration
// (default browser, protocol and file associations) changed.
#ifndef DESKTOP_WINDOWS_INSTALLER_ASSOCIATION_CHANGE_NOTICE_H_
#define DESKTOP_WINDOWS_INSTALLER_ASSOCIATION_CHANGE_NOTICE_H_

#include "base/time.h"

namespace installer {

// The text of the WM_SETTINGCHANGE broadcast: the key below which the
// browsers register as start-menu Internet clients.
inline constexpr wchar_t kStartMenuInternetSetting[] = L"Software\\Clients\\StartMenuInternet";
// How long the broadcast waits for one window before going on to the next.
inline constexpr unsigned kSettingChangeTimeoutMs = 2000;

// Sends WM_SETTINGCHANGE with kStartMenuInternetSetting to every top-level
// window, skipping hung ones and waiting at most kSettingChangeTimeoutMs for
// each. A notification message cannot carry a pointer to another process, so
// the message is sent; this blocks until every window answered. False
// (logged) when the broadcast failed.
bool BroadcastStartMenuInternetChange();

// Posts BroadcastStartMenuInternetChange to the thread pool, so the calling
// thread does not wait for other programs' windows, and tells the shell that
// file associations changed (SHChangeNotify).
void AnnounceAssociationChange();

// Waits until every broadcast that AnnounceAssociationChange posted is done,
// at most |bound|: a process about to exit gives the other programs time to
// hear of the change. False (logged) when one is still running.
bool WaitForAssociationChangeBroadcasts(base::TimeSpan bound);

// Runs |hook| on the worker before each posted broadcast, so that a test can
// hold one in flight; null removes it.
void SetBroadcastHookForTesting(void (*hook)());

// Tests run beside many other processes whose windows may not answer: a
// shorter wait per window keeps the broadcast from outlasting the test.
void SetSettingChangeTimeoutForTesting(unsigned timeout_ms);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ASSOCIATION_CHANGE_NOTICE_H_
