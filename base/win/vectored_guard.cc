#include "base/win/vectored_guard.h"

#include "base/logging.h"

namespace base::win {

bool VectoredGuard::EnsureInstalled() {
  int state = state_.load(std::memory_order_acquire);
  if (state == 2)
    return true;
  int expected = 0;
  if (state_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    if (!AddVectoredExceptionHandler(first_ ? 1 : 0, handler_)) {
      PLOG(ERROR) << "AddVectoredExceptionHandler for the " << name_ << " failed";
      state_.store(3, std::memory_order_release);
      return false;
    }
    state_.store(2, std::memory_order_release);
    return true;
  }
  while ((state = state_.load(std::memory_order_acquire)) == 1)
    Sleep(0);
  return state == 2;
}

}  // namespace base::win
