#include "desktop/windows/installer/association_change_notice.h"

#include <windows.h>

#include <shlobj.h>

#include <atomic>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/logging.h"
#include "base/threading/in_flight_counter.h"
#include "base/threading/worker_pool.h"

namespace installer {

namespace {

std::atomic<unsigned> g_timeout_ms{kSettingChangeTimeoutMs};
std::atomic<void (*)()> g_broadcast_hook{nullptr};

// Broadcasts posted and not yet done. Never destroyed: a broadcast may still
// end while the process exits.
base::InFlightCounter* BroadcastsInFlight() {
  static base::InFlightCounter* const counter = new base::InFlightCounter();
  return counter;
}

void BroadcastOnWorker() {
  if (void (*hook)() = g_broadcast_hook.load(std::memory_order_acquire))
    hook();
  BroadcastStartMenuInternetChange();
  BroadcastsInFlight()->Remove();
}

}  // namespace

bool BroadcastStartMenuInternetChange() {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                             reinterpret_cast<LPARAM>(kStartMenuInternetSetting), SMTO_ABORTIFHUNG,
                             g_timeout_ms.load(), &result)) {
    PLOG(WARNING) << "Could not broadcast the change of the start-menu Internet clients";
    return false;
  }
  return true;
}

void AnnounceAssociationChange() {
  BroadcastsInFlight()->Add();
  // PostTask logs when the task cannot be queued; the shell is still told.
  if (!base::WorkerPool::PostTask(FROM_HERE, base::Bind(&BroadcastOnWorker)))
    BroadcastsInFlight()->Remove();
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

bool WaitForAssociationChangeBroadcasts(base::TimeSpan bound) {
  if (BroadcastsInFlight()->WaitForIdle(bound))
    return true;
  LOG(WARNING) << "The change of the start-menu Internet clients is still being broadcast after "
               << bound.InMilliseconds() << " ms; not waiting for it";
  return false;
}

void SetBroadcastHookForTesting(void (*hook)()) {
  g_broadcast_hook.store(hook, std::memory_order_release);
}

void SetSettingChangeTimeoutForTesting(unsigned timeout_ms) { g_timeout_ms = timeout_ms; }

}  // namespace installer
