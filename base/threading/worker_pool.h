// WorkerPool: one-off work on the Windows thread pool.
//
//   WorkerPool::PostTaskAndReply(FROM_HERE, Bind(&Compress, path),
//                                Bind(&Uploader::OnCompressed, weak_ref));
//
// The task runs (and is destroyed) on a thread-pool thread. The reply runs
// on the loop of the thread that posted, after the task.
//
// Where the reply dies. The reply usually binds objects that belong to the
// posting thread, so it is always destroyed there: after it ran, or, when
// the posting thread's MessageLoop is destroyed before the reply could run,
// while that loop is being destroyed (a loop destruction observer drops it).
// A reply is never run or destroyed on a thread-pool thread.
#ifndef BASE_THREADING_WORKER_POOL_H_
#define BASE_THREADING_WORKER_POOL_H_

#include "base/callback.h"
#include "base/code_location.h"

namespace base {

class WorkerPool {
 public:
  WorkerPool() = delete;

  // Runs |task| on the thread pool. False (and logged) when it cannot be
  // queued; |task| is then destroyed on the calling thread.
  static bool PostTask(const CodeLocation& from_here, Closure task);

  // Runs |task| on the thread pool, then |reply| on the calling thread's
  // MessageLoop, which must exist. False (and logged) when there is no loop
  // or the task cannot be queued; both are then destroyed on the calling
  // thread and neither runs.
  static bool PostTaskAndReply(const CodeLocation& from_here, Closure task, Closure reply);
};

}  // namespace base

#endif  // BASE_THREADING_WORKER_POOL_H_
