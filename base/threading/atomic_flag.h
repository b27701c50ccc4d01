// A one-way flag: once Set(), every thread that sees IsSet() true also sees
// every write the setting thread made before Set() (release/acquire).
#ifndef BASE_THREADING_ATOMIC_FLAG_H_
#define BASE_THREADING_ATOMIC_FLAG_H_

#include <atomic>

namespace base {

class AtomicFlag {
 public:
  AtomicFlag() = default;
  AtomicFlag(const AtomicFlag&) = delete;
  AtomicFlag& operator=(const AtomicFlag&) = delete;
  ~AtomicFlag() = default;

  void Set();
  bool IsSet() const { return flag_.load(std::memory_order_acquire) != 0; }

  // Clears the flag; only for tests, when no other thread looks at it.
  void UnsetForTesting();

 private:
  std::atomic<unsigned char> flag_{0};
};

}  // namespace base

#endif  // BASE_THREADING_ATOMIC_FLAG_H_
