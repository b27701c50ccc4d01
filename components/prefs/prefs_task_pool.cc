#include "components/prefs/prefs_task_pool.h"

#include <utility>

#include "base/exit_callback_manager.h"
#include "base/logging.h"
#include "base/threading/lock.h"
#include "base/threading/os_thread.h"

namespace prefs {

namespace {

// Warn once the exit has waited this long for stores to go away.
constexpr int kPollsBeforeWarning = 50;

base::Lock& HolderLock() {
  static base::Lock lock;
  return lock;
}

// The process-wide holder; null before the first use and after the exit
// callback ran. Guarded by HolderLock().
base::SharedRef<PrefsTaskPoolHolder>& GlobalHolder() {
  static base::SharedRef<PrefsTaskPoolHolder>* holder = new base::SharedRef<PrefsTaskPoolHolder>();
  return *holder;
}

void OnExit(void* /*argument*/) {
  base::SharedRef<PrefsTaskPoolHolder> holder;
  {
    base::AutoLock hold(HolderLock());
    holder = std::move(GlobalHolder());
  }
  if (holder)
    PrefsTaskPoolHolder::ShutDownAtExit(std::move(holder));
}

}  // namespace

PrefsTaskPoolHolder::PrefsTaskPoolHolder()
    : pool_(base::MakeShared<base::SequencedWorkerPool>(kMaxThreads, kPoolName)) {}

PrefsTaskPoolHolder::~PrefsTaskPoolHolder() = default;

base::SharedRef<base::OrderedTaskRunner> PrefsTaskPoolHolder::GetSequenceForFile(
    const base::FilePath& path) const {
  return pool_->GetSequencedTaskRunner(pool_->GetNamedSequenceToken(path.AsUTF8Unsafe()));
}

// static
void PrefsTaskPoolHolder::ShutDownAtExit(base::SharedRef<PrefsTaskPoolHolder> holder) {
  if (holder->wait_at_exit()) {
    int polls = 0;
    while (!holder->HasOneRef()) {
      if (++polls == kPollsBeforeWarning)
        LOG(WARNING) << "The exit still waits for preference stores to be released";
      base::OsThread::Sleep(kExitPollInterval);
    }
  }
  holder->pool()->Shutdown();
}

base::SharedRef<PrefsTaskPoolHolder> GetPrefsTaskPool() {
  base::AutoLock hold(HolderLock());
  base::SharedRef<PrefsTaskPoolHolder>& holder = GlobalHolder();
  if (!holder) {
    holder = base::MakeShared<PrefsTaskPoolHolder>();
    // Without a manager the pool lives until the process ends.
    if (base::ExitCallbackManager::HasCurrent())
      base::ExitCallbackManager::RegisterCallback(&OnExit, nullptr);
  }
  return holder;
}

}  // namespace prefs
