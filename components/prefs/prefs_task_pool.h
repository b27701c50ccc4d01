// The process-wide "PrefsTaskPool": the worker pool on which preference
// files are written, each file on the sequence named after its path.
//
// GetPrefsTaskPool() gives a counted holder of the pool, made on first use
// and registered with the current ExitCallbackManager (without one it lives
// until the process ends). Each preference store keeps a holder reference
// while it lives. At exit the callback shuts the pool down, which waits for
// the writes already posted. With the wait-at-exit flag it first polls
// every 100 ms until no one else references the holder, so that the stores
// still alive on other threads are destroyed (and flush their last change)
// before the pool goes.
#ifndef COMPONENTS_PREFS_PREFS_TASK_POOL_H_
#define COMPONENTS_PREFS_PREFS_TASK_POOL_H_

#include <atomic>
#include <cstddef>

#include "base/files/file_path.h"
#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/time.h"

namespace prefs {

class PrefsTaskPoolHolder : public base::RefCountedThreadSafe<PrefsTaskPoolHolder> {
 public:
  static constexpr char kPoolName[] = "PrefsTaskPool";
  static constexpr size_t kMaxThreads = 2;
  static constexpr base::TimeSpan kExitPollInterval = base::TimeSpan::FromMilliseconds(100);

  PrefsTaskPoolHolder();
  PrefsTaskPoolHolder(const PrefsTaskPoolHolder&) = delete;
  PrefsTaskPoolHolder& operator=(const PrefsTaskPoolHolder&) = delete;

  base::SequencedWorkerPool* pool() const { return pool_.get(); }
  // A runner for the sequence named after |path| (blocking shutdown).
  base::SharedRef<base::OrderedTaskRunner> GetSequenceForFile(const base::FilePath& path) const;

  void SetWaitAtExit(bool wait) { wait_at_exit_.store(wait, std::memory_order_release); }
  bool wait_at_exit() const { return wait_at_exit_.load(std::memory_order_acquire); }

  // The exit work: with the flag, polls until |holder| (the caller's
  // reference) is the only one; then shuts the pool down.
  static void ShutDownAtExit(base::SharedRef<PrefsTaskPoolHolder> holder);

 private:
  friend class base::RefCountedThreadSafe<PrefsTaskPoolHolder>;
  ~PrefsTaskPoolHolder();

  const base::SharedRef<base::SequencedWorkerPool> pool_;
  std::atomic<bool> wait_at_exit_{false};
};

// The process-wide holder, made on first use.
base::SharedRef<PrefsTaskPoolHolder> GetPrefsTaskPool();

}  // namespace prefs

#endif  // COMPONENTS_PREFS_PREFS_TASK_POOL_H_
