// ObjectWatcher: waits on a kernel object (process, event, ...) through the
// Windows thread pool and tells a delegate on the thread that started the
// watch, through that thread's task runner.
//
//   class Child : public ObjectWatcher::Delegate {
//     void OnObjectSignaled(HANDLE object) override { ... }
//   };
//   watcher.StartWatchingOnce(process.Handle(), &child);
//
// Use a watcher on one thread: the one that started the watch. The handle
// must stay open while watched.
#ifndef BASE_THREADING_OBJECT_WATCHER_H_
#define BASE_THREADING_OBJECT_WATCHER_H_

#include <windows.h>

#include "base/shared_ref.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/scoped_wait_handle.h"
#include "base/weak_ref.h"

namespace base {

class ObjectWatcher {
 public:
  class Delegate {
   public:
    // |object| was signalled. The watch has ended; the delegate may start
    // another one from here.
    virtual void OnObjectSignaled(HANDLE object) = 0;

   protected:
    virtual ~Delegate() = default;
  };

  ObjectWatcher();
  ObjectWatcher(const ObjectWatcher&) = delete;
  ObjectWatcher& operator=(const ObjectWatcher&) = delete;
  // Stops watching.
  ~ObjectWatcher();

  // Registers a one-shot wait for |object|; once it is signalled,
  // |delegate|->OnObjectSignaled(object) is posted to the calling thread's
  // task runner. False (and logged) when already watching, when the thread
  // has no task runner or when the wait cannot be registered.
  bool StartWatchingOnce(HANDLE object, Delegate* delegate);

  // Cancels the watch and waits for a wait callback that is running. A
  // signal that was already posted never reaches the delegate. False when
  // not watching.
  bool StopWatching();

  bool IsWatching() const { return object_ != nullptr; }
  // The watched object, or null.
  HANDLE GetWatchedObject() const { return object_; }

 private:
  // Thread-pool wait callback.
  static void CALLBACK OnWaitDone(void* context, BOOLEAN timed_out);
  // On the starting thread.
  void Signal(Delegate* delegate);
  // Unregisters the wait and forgets the watch.
  void Reset();

  HANDLE object_ = nullptr;
  // Read by the wait callback; set before the wait is registered and
  // cleared only after it is unregistered.
  SharedRef<OrderedTaskRunner> task_runner_;
  Delegate* delegate_ = nullptr;
  ScopedWaitHandle wait_;
  // Invalidated on every stop, so that a posted signal of an ended watch
  // does nothing.
  WeakRefFactory<ObjectWatcher> weak_factory_{this};
  WeakRef<ObjectWatcher> weak_this_;
};

}  // namespace base

#endif  // BASE_THREADING_OBJECT_WATCHER_H_
