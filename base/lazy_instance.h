// Lazily created process-wide instances.
//
// The state word of an instance is 0 (none), 1 (being built) or the instance
// pointer. The first thread to swap 0 for 1 builds it; threads that find it
// being built yield with a zero sleep until the pointer is stored. The built
// instance registers its destruction with the current ExitCallbackManager
// (without one it lives until the process ends); after that destruction the
// word is 0 again, so a later use builds a new instance.
//
//   base::LazyInstance<Registry> g_registry;   // namespace scope, no
//   g_registry.Get().Add(...);                 // constructor runs at load
//
// LeakyLazyInstance<T> is never destroyed (for state that must outlive every
// exit callback, such as interned names).
#ifndef BASE_LAZY_INSTANCE_H_
#define BASE_LAZY_INSTANCE_H_

#include <atomic>
#include <cstdint>

namespace base {

namespace internal {
constexpr uintptr_t kLazyInstanceStateBuilding = 1;

// True when the caller won the right to build (the word went 0 -> 1);
// otherwise waits until another thread finished and returns false.
bool NeedsLazyInstance(std::atomic<uintptr_t>* state);
// Stores |instance| in the word and, when |destructor| is given, registers
// it (with |state| to reset) with the current exit-callback manager.
void CompleteLazyInstance(std::atomic<uintptr_t>* state, uintptr_t instance,
                          void (*destructor)(void*));
}  // namespace internal

// While |*state| is 1 (being built), yields with a zero sleep; returns the
// final word: 0 or the instance pointer.
uintptr_t WaitForLazyInstance(std::atomic<uintptr_t>* state);

template <typename T>
struct DefaultLazyInstanceTraits {
  static constexpr bool kRegisterOnExit = true;
  static T* New() { return new T(); }
  static void Delete(T* instance) { delete instance; }
};

template <typename T>
struct LeakyLazyInstanceTraits {
  static constexpr bool kRegisterOnExit = false;
  static T* New() { return new T(); }
  static void Delete(T*) {}
};

template <typename T, typename Traits = DefaultLazyInstanceTraits<T>>
class LazyInstance {
 public:
  constexpr LazyInstance() = default;
  LazyInstance(const LazyInstance&) = delete;
  LazyInstance& operator=(const LazyInstance&) = delete;

  T* Pointer() {
    uintptr_t value = state_.load(std::memory_order_acquire);
    if (value > internal::kLazyInstanceStateBuilding) [[likely]]
      return reinterpret_cast<T*>(value);
    return Build();
  }
  T& Get() { return *Pointer(); }
  T* operator->() { return Pointer(); }

  // Whether the instance exists now.
  bool IsBuilt() const {
    return state_.load(std::memory_order_acquire) > internal::kLazyInstanceStateBuilding;
  }

 private:
  T* Build() {
    while (internal::NeedsLazyInstance(&state_) == false) {
      uintptr_t value = state_.load(std::memory_order_acquire);
      if (value > internal::kLazyInstanceStateBuilding)
        return reinterpret_cast<T*>(value);
      // The builder's instance was destroyed meanwhile: try again.
    }
    T* instance = Traits::New();
    internal::CompleteLazyInstance(&state_, reinterpret_cast<uintptr_t>(instance),
                                   Traits::kRegisterOnExit ? &OnExit : nullptr);
    return instance;
  }

  // |state| is the word; the instance is read from it.
  static void OnExit(void* state) {
    auto* word = static_cast<std::atomic<uintptr_t>*>(state);
    uintptr_t value = word->exchange(0, std::memory_order_acq_rel);
    if (value > internal::kLazyInstanceStateBuilding)
      Traits::Delete(reinterpret_cast<T*>(value));
  }

  std::atomic<uintptr_t> state_{0};
};

template <typename T>
using LeakyLazyInstance = LazyInstance<T, LeakyLazyInstanceTraits<T>>;

}  // namespace base

#endif  // BASE_LAZY_INSTANCE_H_
