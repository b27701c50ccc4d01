// RefCountedThreadSafe<T>: the base of objects shared between threads through
// SharedRef<T>. The count is a 64-bit atomic; the last Release() deletes the
// object through T's (possibly virtual) destructor.
#ifndef BASE_REF_COUNTED_THREAD_SAFE_H_
#define BASE_REF_COUNTED_THREAD_SAFE_H_

#include <atomic>
#include <cstdint>

namespace base {

template <typename T>
class RefCountedThreadSafe {
 public:
  RefCountedThreadSafe(const RefCountedThreadSafe&) = delete;
  RefCountedThreadSafe& operator=(const RefCountedThreadSafe&) = delete;

  void AddRef() const { ref_count_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const {
    if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete static_cast<const T*>(this);
  }
  bool HasOneRef() const { return ref_count_.load(std::memory_order_acquire) == 1; }

 protected:
  RefCountedThreadSafe() = default;
  ~RefCountedThreadSafe() = default;

 private:
  mutable std::atomic<int64_t> ref_count_{0};
};

}  // namespace base

#endif  // BASE_REF_COUNTED_THREAD_SAFE_H_
