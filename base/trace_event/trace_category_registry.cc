#include "base/trace_event/trace_category_registry.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "base/threading/lock.h"

namespace base::trace_event {
namespace {

// Constant-initialised so that trace sites running before any constructor
// (or after static destruction) still find a valid table.
TraceCategory g_categories[TraceCategoryRegistry::kMaxCategories] = {
    TraceCategory("tracing categories exhausted; must increase kMaxCategories"),
    TraceCategory("tracing already shutdown"),
    TraceCategory("__metadata"),
    TraceCategory("toplevel"),
};

// Published after the name of the entry it makes visible.
std::atomic<size_t> g_category_count{TraceCategoryRegistry::kNumBuiltinCategories};

// The registry lock, built on first use and never destroyed: 0 none, 1 being
// built, otherwise the lock.
constexpr uintptr_t kLockBeingBuilt = 1;
std::atomic<uintptr_t> g_lock_word{0};

Lock* GetRegistryLock() {
  uintptr_t word = g_lock_word.load(std::memory_order_acquire);
  if (word > kLockBeingBuilt)
    return reinterpret_cast<Lock*>(word);
  uintptr_t expected = 0;
  if (g_lock_word.compare_exchange_strong(expected, kLockBeingBuilt, std::memory_order_acq_rel)) {
    Lock* lock = new Lock();
    g_lock_word.store(reinterpret_cast<uintptr_t>(lock), std::memory_order_release);
    return lock;
  }
  // Another thread is building it.
  while ((word = g_lock_word.load(std::memory_order_acquire)) == kLockBeingBuilt)
    Sleep(0);
  return reinterpret_cast<Lock*>(word);
}

TraceCategory* FindCategory(const char* name, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_categories[i].name(), name) == 0)
      return &g_categories[i];
  }
  return nullptr;
}

}  // namespace

// static
bool TraceCategoryRegistry::GetOrCreateCategory(const char* name, TraceCategory** category) {
  // The lock-free scan: every entry below the count has its name.
  TraceCategory* found = FindCategory(name, g_category_count.load(std::memory_order_acquire));
  if (found) {
    *category = found;
    return false;
  }

  AutoLock lock(*GetRegistryLock());
  const size_t count = g_category_count.load(std::memory_order_acquire);
  found = FindCategory(name, count);
  if (found) {
    *category = found;
    return false;
  }
  if (count >= kMaxCategories) {
    // The table is full; the entry's name states the cause.
    *category = &g_categories[kCategoryExhausted];
    return false;
  }
  // The copy is owned by the table for the life of the process.
  const size_t length = std::strlen(name);
  char* copy = new char[length + 1];
  std::memcpy(copy, name, length + 1);
  g_categories[count].set_name(copy);
  g_category_count.store(count + 1, std::memory_order_release);
  *category = &g_categories[count];
  return true;
}

// static
TraceCategory* TraceCategoryRegistry::GetCategoryAt(size_t index) {
  return index < kMaxCategories ? &g_categories[index] : nullptr;
}

// static
size_t TraceCategoryRegistry::GetCategoryCount() {
  return g_category_count.load(std::memory_order_acquire);
}

// static
bool TraceCategoryRegistry::IsValidCategoryPtr(const TraceCategory* category) {
  return category >= &g_categories[0] && category < &g_categories[kMaxCategories];
}

}  // namespace base::trace_event
