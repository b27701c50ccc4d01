// ThreadLocalSlot: one of at most 256 process-wide thread-local pointers,
// each with a destructor that runs for a thread's non-null value when that
// thread ends. All slots live in one per-thread vector (ThreadLocalSlots)
// behind a single native index.
//
// A slot freed and reserved again gets a new version; values stored under
// the old version read as null.
#ifndef BASE_THREADING_THREAD_LOCAL_SLOT_H_
#define BASE_THREADING_THREAD_LOCAL_SLOT_H_

#include <cstdint>

namespace base {

class ThreadLocalSlot {
 public:
  using Destructor = void (*)(void* value);

  constexpr ThreadLocalSlot() = default;
  ThreadLocalSlot(const ThreadLocalSlot&) = delete;
  ThreadLocalSlot& operator=(const ThreadLocalSlot&) = delete;

  // Reserves a slot; |destructor| may be null. False (and logged) when all
  // slots are in use or this one is already reserved.
  bool Initialize(Destructor destructor);
  // Gives the slot back; values other threads still hold are not destroyed.
  void Free();
  bool initialized() const { return index_ >= 0; }

  // The calling thread's value: null when never set, or set under an
  // earlier reservation of the slot.
  void* Get() const;
  // False (and logged) when the slot is not reserved or the thread's vector
  // cannot be made.
  bool Set(void* value);

 private:
  int index_ = -1;
  uint32_t version_ = 0;
};

// The slots of the calling thread's MessageLoop and of its current
// task-runner record (set while a loop or pool thread runs tasks).
ThreadLocalSlot& GetCurrentLoopSlot();
ThreadLocalSlot& GetCurrentTaskRunnerSlot();

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_SLOT_H_
