// An exclusive lock over a slim reader/writer lock, and its scope guard.
#ifndef BASE_THREADING_LOCK_H_
#define BASE_THREADING_LOCK_H_

#include <windows.h>

namespace base {

class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Each acquisition enters a lock-acquire activity scope, which returns at
  // once while no global activity tracker exists.
  void Acquire();
  void Release() { ReleaseSRWLockExclusive(&lock_); }
  bool Try() { return TryAcquireSRWLockExclusive(&lock_) != 0; }

  // For condition variables.
  SRWLOCK* native_handle() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;
  ~AutoLock() { lock_.Release(); }

 private:
  Lock& lock_;
};

// Releases a held lock for the scope's duration.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  AutoUnlock(const AutoUnlock&) = delete;
  AutoUnlock& operator=(const AutoUnlock&) = delete;
  ~AutoUnlock() { lock_.Acquire(); }

 private:
  Lock& lock_;
};

}  // namespace base

#endif  // BASE_THREADING_LOCK_H_
