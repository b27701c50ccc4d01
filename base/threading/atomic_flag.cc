#include "base/threading/atomic_flag.h"

namespace base {

void AtomicFlag::Set() { flag_.store(1, std::memory_order_release); }

void AtomicFlag::UnsetForTesting() { flag_.store(0, std::memory_order_release); }

}  // namespace base
