#include "base/threading/thread_local_slot.h"

#include "base/logging.h"
#include "base/threading/thread_local_slots.h"

namespace base {

bool ThreadLocalSlot::Initialize(Destructor destructor) {
  if (index_ >= 0) {
    LOG(ERROR) << "ThreadLocalSlot initialized twice";
    return false;
  }
  int index;
  uint32_t version;
  if (!ThreadLocalSlots::Reserve(destructor, &index, &version)) {
    LOG(ERROR) << "All " << ThreadLocalSlots::kMaxSlots << " thread-local slots are in use";
    return false;
  }
  version_ = version;
  index_ = index;
  return true;
}

void ThreadLocalSlot::Free() {
  if (index_ < 0)
    return;
  ThreadLocalSlots::Release(index_, version_);
  index_ = -1;
  version_ = 0;
}

void* ThreadLocalSlot::Get() const {
  if (index_ < 0)
    return nullptr;
  ThreadLocalSlots::Entry* vector = ThreadLocalSlots::GetVector();
  if (!vector)
    return nullptr;
  const ThreadLocalSlots::Entry& entry = vector[index_];
  return entry.version == version_ ? entry.value : nullptr;
}

bool ThreadLocalSlot::Set(void* value) {
  if (index_ < 0) {
    LOG(ERROR) << "ThreadLocalSlot::Set on a slot that is not reserved";
    return false;
  }
  ThreadLocalSlots::Entry* vector = ThreadLocalSlots::GetOrCreateVector();
  if (!vector)
    return false;
  vector[index_].value = value;
  vector[index_].version = version_;
  return true;
}

namespace {

ThreadLocalSlot& ReservedSlot(ThreadLocalSlot& slot) {
  if (!slot.initialized())
    LOG(ERROR) << "A thread-local slot of the message loop could not be reserved";
  return slot;
}

}  // namespace

ThreadLocalSlot& GetCurrentLoopSlot() {
  static ThreadLocalSlot slot;
  static const bool reserved = slot.Initialize(nullptr);
  (void)reserved;
  return ReservedSlot(slot);
}

ThreadLocalSlot& GetCurrentTaskRunnerSlot() {
  static ThreadLocalSlot slot;
  static const bool reserved = slot.Initialize(nullptr);
  (void)reserved;
  return ReservedSlot(slot);
}

}  // namespace base
