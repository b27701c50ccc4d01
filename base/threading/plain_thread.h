// PlainThread: a named thread that runs one function.
#ifndef BASE_THREADING_PLAIN_THREAD_H_
#define BASE_THREADING_PLAIN_THREAD_H_

#include <string>

#include "base/callback.h"
#include "base/threading/os_thread.h"

namespace base {

class PlainThread : public OsThread::Delegate {
 public:
  PlainThread(std::string name, Closure function);
  PlainThread(const PlainThread&) = delete;
  PlainThread& operator=(const PlainThread&) = delete;
  // Joins a thread that was started and not joined.
  ~PlainThread() override;

  // False (and logged) when the thread cannot be created or was started
  // before.
  bool Start();
  // Waits for the function to return. Does nothing when not started.
  void Join();

  bool HasBeenStarted() const { return started_; }
  DWORD thread_id() const { return handle_.id; }
  const std::string& name() const { return name_; }

 private:
  void ThreadMain() override;

  const std::string name_;
  Closure function_;
  OsThread::Handle handle_;
  bool started_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_PLAIN_THREAD_H_
