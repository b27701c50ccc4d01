// BoundCallAllocator: the memory of BoundCall records. Posting a task makes
// one record on the posting thread and frees it on the running thread, so
// each thread keeps small free lists per size class and hands surplus blocks
// to a shared pool in batches, where other threads take them in batches:
// one lock per batch instead of a heap lock per task.
#ifndef BASE_BOUND_CALL_ALLOCATOR_H_
#define BASE_BOUND_CALL_ALLOCATOR_H_

#include <cstddef>

namespace base::internal {

class BoundCallAllocator {
 public:
  static void* Allocate(size_t size);
  // |size| is the size given to Allocate.
  static void Free(void* block, size_t size);
};

}  // namespace base::internal

#endif  // BASE_BOUND_CALL_ALLOCATOR_H_
