#include "base/threading/object_watcher.h"

#include "base/bind.h"
#include "base/code_location.h"
#include "base/logging.h"
#include "base/threading/current_task_runner.h"

namespace base {

ObjectWatcher::ObjectWatcher() = default;

ObjectWatcher::~ObjectWatcher() {
  if (IsWatching())
    StopWatching();
}

bool ObjectWatcher::StartWatchingOnce(HANDLE object, Delegate* delegate) {
  if (!object || object == INVALID_HANDLE_VALUE || !delegate) {
    LOG(ERROR) << "ObjectWatcher: no object or no delegate to watch with";
    return false;
  }
  if (IsWatching()) {
    LOG(ERROR) << "ObjectWatcher: already watching an object";
    return false;
  }
  SharedRef<OrderedTaskRunner> runner = CurrentTaskRunner::Get();
  if (!runner) {
    LOG(ERROR) << "ObjectWatcher: the calling thread has no task runner";
    return false;
  }
  task_runner_ = std::move(runner);
  delegate_ = delegate;
  object_ = object;
  weak_this_ = weak_factory_.GetWeakRef();

  HANDLE wait = nullptr;
  if (!RegisterWaitForSingleObject(&wait, object, &ObjectWatcher::OnWaitDone, this, INFINITE,
                                   WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "RegisterWaitForSingleObject failed";
    Reset();
    return false;
  }
  wait_.Reset(wait);
  return true;
}

bool ObjectWatcher::StopWatching() {
  if (!IsWatching())
    return false;
  Reset();
  return true;
}

void ObjectWatcher::Reset() {
  // Blocks until a running callback returned; afterwards none touches us.
  wait_.Reset();
  weak_factory_.InvalidateWeakRefs();
  weak_this_.reset();
  task_runner_.reset();
  delegate_ = nullptr;
  object_ = nullptr;
}

// static
void CALLBACK ObjectWatcher::OnWaitDone(void* context, BOOLEAN /*timed_out*/) {
  // The watcher is alive: it unregisters (waiting for us) before it changes
  // what is read here.
  auto* self = static_cast<ObjectWatcher*>(context);
  self->task_runner_->PostTask(FROM_HERE,
                               Bind(&ObjectWatcher::Signal, self->weak_this_, self->delegate_));
}

void ObjectWatcher::Signal(Delegate* delegate) {
  HANDLE object = object_;
  // The one-shot wait has fired; unregister it so that the delegate may
  // watch again from its callback.
  Reset();
  delegate->OnObjectSignaled(object);
}

}  // namespace base
