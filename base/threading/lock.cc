#include "base/threading/lock.h"

#include "base/activity_tracker.h"

namespace base {

void Lock::Acquire() {
  ScopedLockAcquireActivity activity(__builtin_return_address(0), this);
  AcquireSRWLockExclusive(&lock_);
}

}  // namespace base
