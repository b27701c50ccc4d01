// ThreadLocalSlots: the process-wide table behind ThreadLocalSlot and the
// per-thread vectors of values. The vector is stored in one fiber-local
// index whose callback runs the slots' destructors when a thread ends.
#ifndef BASE_THREADING_THREAD_LOCAL_SLOTS_H_
#define BASE_THREADING_THREAD_LOCAL_SLOTS_H_

#include <cstddef>
#include <cstdint>

namespace base {

class ThreadLocalSlots {
 public:
  static constexpr size_t kMaxSlots = 256;

  struct Entry {
    void* value;
    // The slot's version when the value was stored.
    uint32_t version;
  };

  using Destructor = void (*)(void* value);

  // The calling thread's vector of kMaxSlots entries, made on first use;
  // null (and logged) when it cannot be made.
  static Entry* GetOrCreateVector();
  // The calling thread's vector, or null when it has none.
  static Entry* GetVector();

  // Reserves a free slot: its index and new version. False when all are in
  // use.
  static bool Reserve(Destructor destructor, int* index, uint32_t* version);
  static void Release(int index, uint32_t version);

  // Runs the destructors of |vector|'s live values and frees it (the
  // thread-exit callback).
  static void DestroyVector(Entry* vector);
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_SLOTS_H_
