#include "base/threading/worker_pool.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/threading/lock.h"
#include "base/threading/message_loop.h"
#include "base/threading/scoped_task_run_activity.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/trace_site.h"

namespace base {

namespace {

// One task on its way through the thread pool.
struct PoolWork {
  CodeLocation from_here;
  Closure task;
};

void CALLBACK RunPoolWork(PTP_CALLBACK_INSTANCE /*instance*/, void* context) {
  std::unique_ptr<PoolWork> work(static_cast<PoolWork*>(context));
  // The thread pool numbers no tasks.
  ScopedTaskRunActivity activity(__builtin_return_address(0), work->from_here.program_counter(), 0);
  trace_event::ScopedTaskContext task_context(work->from_here.program_counter());
  TRACE_EVENT_SCOPE2("toplevel", "WorkerThread::ThreadMain::Run", "src_file",
                     work->from_here.file_name(), "src_func", work->from_here.function_name());
  work->task.Run();
}

bool SubmitToPool(const CodeLocation& from_here, Closure task) {
  auto work = std::make_unique<PoolWork>(PoolWork{from_here, std::move(task)});
  if (!TrySubmitThreadpoolCallback(&RunPoolWork, work.get(), nullptr)) {
    PLOG(ERROR) << "TrySubmitThreadpoolCallback failed for the task from " << from_here.ToString();
    return false;
  }
  (void)work.release();  // Owned by RunPoolWork now.
  return true;
}

// Carries a reply back to the posting thread. Only that thread touches the
// reply and the loop registration; the pool thread only posts.
class ReplyRelay : public RefCountedThreadSafe<ReplyRelay>,
                   public MessageLoop::DestructionObserver {
 public:
  ReplyRelay(const CodeLocation& from_here, Closure reply, MessageLoop* loop)
      : from_here_(from_here),
        reply_(std::move(reply)),
        loop_(loop),
        origin_runner_(loop->task_runner()) {}

  // On the posting thread: from now on the loop's destruction drops the
  // reply. The registration holds a reference.
  void Register() {
    AddRef();
    loop_->AddDestructionObserver(this);
  }

  // On the posting thread, when the task could not be queued: drops the
  // reply now.
  void Abandon() { WillDestroyCurrentMessageLoop(); }

  // On the pool thread, after the task: posts the reply, unless its loop
  // has dropped it. A reply dropped with its loop is an expected end, not a
  // failed post: trying would log an error, often in a process that has
  // already written its last words. The loop tells its observers before it
  // stops taking tasks, so a post made under the lock with the reply still
  // there always lands.
  void PostReply() {
    AutoLock hold(lock_);
    if (dropped_)
      return;
    origin_runner_->PostTask(from_here_, Bind(&ReplyRelay::RunReply, SharedRef<ReplyRelay>(this)));
  }

 private:
  friend class RefCountedThreadSafe<ReplyRelay>;
  ~ReplyRelay() override = default;

  // On the posting thread.
  void RunReply() {
    Closure reply = std::move(reply_);
    Unregister();
    if (!reply.is_null())
      reply.Run();
  }

  // MessageLoop::DestructionObserver, on the posting thread.
  void WillDestroyCurrentMessageLoop() override {
    {
      AutoLock hold(lock_);
      dropped_ = true;
    }
    Closure reply = std::move(reply_);
    reply.Reset();  // Destroyed here, on the thread it belongs to.
    Unregister();
  }

  void Unregister() {
    if (!loop_)
      return;
    loop_->RemoveDestructionObserver(this);
    loop_ = nullptr;
    Release();  // May destroy |this|: touch nothing after it.
  }

  const CodeLocation from_here_;
  Closure reply_;
  MessageLoop* loop_;
  const SharedRef<OrderedTaskRunner> origin_runner_;
  Lock lock_;
  // The posting thread's loop went away before the reply could be posted.
  bool dropped_ = false;
};

void RunTaskThenPostReply(Closure task, SharedRef<ReplyRelay> relay) {
  task.Run();
  // The task's bound objects die here, on the pool thread, before the reply
  // can run.
  task.Reset();
  relay->PostReply();
}

}  // namespace

// static
bool WorkerPool::PostTask(const CodeLocation& from_here, Closure task) {
  if (task.is_null()) {
    LOG(ERROR) << "WorkerPool::PostTask of a null task from " << from_here.ToString();
    return false;
  }
  return SubmitToPool(from_here, std::move(task));
}

// static
bool WorkerPool::PostTaskAndReply(const CodeLocation& from_here, Closure task, Closure reply) {
  if (task.is_null() || reply.is_null()) {
    LOG(ERROR) << "WorkerPool::PostTaskAndReply of a null task or reply from "
               << from_here.ToString();
    return false;
  }
  MessageLoop* loop = MessageLoop::Current();
  if (!loop) {
    LOG(ERROR) << "WorkerPool::PostTaskAndReply from a thread without a MessageLoop ("
               << from_here.ToString() << ")";
    return false;
  }
  SharedRef<ReplyRelay> relay = MakeShared<ReplyRelay>(from_here, std::move(reply), loop);
  relay->Register();
  // The relay's reference bound here is released on the pool thread, but
  // by then the reply was run or dropped on this thread.
  if (!SubmitToPool(from_here, Bind(&RunTaskThenPostReply, std::move(task), relay))) {
    // Not queued: the relay comes back through the destroyed closure;
    // drop the reply here, on its own thread.
    relay->Abandon();
    return false;
  }
  return true;
}

}  // namespace base
