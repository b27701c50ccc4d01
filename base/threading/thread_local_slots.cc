#include "base/threading/thread_local_slots.h"

#include <windows.h>

#include <atomic>

#include "base/logging.h"
#include "base/threading/lock.h"

namespace base {

namespace {

struct SlotInfo {
  bool in_use = false;
  // Raised on every reservation; values stored under an older version are
  // stale. Starts at 0, so a fresh (zeroed) entry never matches.
  std::atomic<uint32_t> version{0};
  std::atomic<ThreadLocalSlots::Destructor> destructor{nullptr};
};

SlotInfo g_slots[ThreadLocalSlots::kMaxSlots];
Lock g_slots_lock;
std::atomic<DWORD> g_fls_index{FLS_OUT_OF_INDEXES};

void WINAPI OnThreadExit(void* data) {
  if (data)
    ThreadLocalSlots::DestroyVector(static_cast<ThreadLocalSlots::Entry*>(data));
}

DWORD FlsIndex() {
  DWORD index = g_fls_index.load(std::memory_order_acquire);
  if (index != FLS_OUT_OF_INDEXES)
    return index;
  AutoLock hold(g_slots_lock);
  index = g_fls_index.load(std::memory_order_acquire);
  if (index != FLS_OUT_OF_INDEXES)
    return index;
  index = FlsAlloc(&OnThreadExit);
  if (index == FLS_OUT_OF_INDEXES) {
    PLOG(ERROR) << "FlsAlloc for thread-local slots failed";
    return index;
  }
  g_fls_index.store(index, std::memory_order_release);
  return index;
}

}  // namespace

// static
ThreadLocalSlots::Entry* ThreadLocalSlots::GetVector() {
  DWORD index = g_fls_index.load(std::memory_order_acquire);
  if (index == FLS_OUT_OF_INDEXES)
    return nullptr;
  return static_cast<Entry*>(FlsGetValue(index));
}

// static
ThreadLocalSlots::Entry* ThreadLocalSlots::GetOrCreateVector() {
  DWORD index = FlsIndex();
  if (index == FLS_OUT_OF_INDEXES)
    return nullptr;
  auto* vector = static_cast<Entry*>(FlsGetValue(index));
  if (vector)
    return vector;
  vector = new Entry[kMaxSlots]();
  if (!FlsSetValue(index, vector)) {
    PLOG(ERROR) << "FlsSetValue for thread-local slots failed";
    delete[] vector;
    return nullptr;
  }
  return vector;
}

// static
bool ThreadLocalSlots::Reserve(Destructor destructor, int* index, uint32_t* version) {
  AutoLock hold(g_slots_lock);
  for (size_t i = 0; i < kMaxSlots; ++i) {
    if (g_slots[i].in_use)
      continue;
    g_slots[i].in_use = true;
    g_slots[i].destructor.store(destructor, std::memory_order_relaxed);
    uint32_t new_version = g_slots[i].version.load(std::memory_order_relaxed) + 1;
    if (new_version == 0)
      new_version = 1;
    g_slots[i].version.store(new_version, std::memory_order_release);
    *index = static_cast<int>(i);
    *version = new_version;
    return true;
  }
  return false;
}

// static
void ThreadLocalSlots::Release(int index, uint32_t version) {
  if (index < 0 || static_cast<size_t>(index) >= kMaxSlots)
    return;
  AutoLock hold(g_slots_lock);
  SlotInfo& slot = g_slots[index];
  if (!slot.in_use || slot.version.load(std::memory_order_relaxed) != version)
    return;
  slot.in_use = false;
  slot.destructor.store(nullptr, std::memory_order_relaxed);
  // Raise the version so no thread's stored value matches any more.
  slot.version.store(version + 1 == 0 ? 1 : version + 1, std::memory_order_release);
}

// static
void ThreadLocalSlots::DestroyVector(Entry* vector) {
  // A destructor may store new values; go over the slots a few times.
  for (int pass = 0; pass < 4; ++pass) {
    bool any = false;
    for (size_t i = 0; i < kMaxSlots; ++i) {
      Entry& entry = vector[i];
      if (!entry.value)
        continue;
      void* value = entry.value;
      entry.value = nullptr;
      if (entry.version != g_slots[i].version.load(std::memory_order_acquire))
        continue;  // Stored under an earlier reservation.
      Destructor destructor = g_slots[i].destructor.load(std::memory_order_relaxed);
      if (destructor) {
        destructor(value);
        any = true;
      }
    }
    if (!any)
      break;
  }
  delete[] vector;
}

}  // namespace base
