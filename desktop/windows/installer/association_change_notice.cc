#include "desktop/windows/installer/association_change_notice.h"

#include <windows.h>

#include <shlobj.h>

#include <atomic>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/logging.h"
#include "base/threading/worker_pool.h"

namespace installer {

namespace {

std::atomic<unsigned> g_timeout_ms{kSettingChangeTimeoutMs};

void BroadcastOnWorker() {
  BroadcastStartMenuInternetChange();
}

}  // namespace

bool BroadcastStartMenuInternetChange() {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                             reinterpret_cast<LPARAM>(kStartMenuInternetSetting),
                             SMTO_ABORTIFHUNG, g_timeout_ms.load(), &result)) {
    PLOG(WARNING) << "Could not broadcast the change of the start-menu Internet clients";
    return false;
  }
  return true;
}

void AnnounceAssociationChange() {
  // PostTask logs when the task cannot be queued; the shell is still told.
  base::WorkerPool::PostTask(FROM_HERE, base::Bind(&BroadcastOnWorker));
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void SetSettingChangeTimeoutForTesting(unsigned timeout_ms) {
  g_timeout_ms = timeout_ms;
}

}  // namespace installer
