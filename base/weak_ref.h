// WeakRef<T>: a pointer that turns null once its object is gone. The object
// owns a WeakRefFactory<T> (declared as its last member, so that it is
// destroyed first) and hands out WeakRefs from it. A callback bound through a
// WeakRef does nothing once the reference is null.
//
// The validity flag is atomic, but a WeakRef should be dereferenced only on
// the thread that destroys or invalidates its object: the flag can say
// "alive" an instant before the object dies on another thread.
#ifndef BASE_WEAK_REF_H_
#define BASE_WEAK_REF_H_

#include <atomic>

#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"

namespace base {

namespace internal {

// Shared between a factory and the references it handed out.
class WeakRefFlag : public RefCountedThreadSafe<WeakRefFlag> {
 public:
  WeakRefFlag() = default;
  bool IsValid() const { return valid_.load(std::memory_order_acquire); }
  void Invalidate() { valid_.store(false, std::memory_order_release); }

 private:
  friend class RefCountedThreadSafe<WeakRefFlag>;
  ~WeakRefFlag() = default;

  std::atomic<bool> valid_{true};
};

}  // namespace internal

template <typename T>
class WeakRef {
 public:
  WeakRef() = default;
  WeakRef(std::nullptr_t) {}
  template <typename U>
  WeakRef(const WeakRef<U>& other) : flag_(other.flag_), ptr_(other.ptr_) {}

  // The object, or null once it is gone or the references were invalidated.
  T* get() const { return flag_ && flag_->IsValid() ? ptr_ : nullptr; }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  explicit operator bool() const { return get() != nullptr; }

  void reset() {
    flag_.reset();
    ptr_ = nullptr;
  }

 private:
  template <typename U>
  friend class WeakRef;
  template <typename U>
  friend class WeakRefFactory;

  WeakRef(SharedRef<internal::WeakRefFlag> flag, T* ptr) : flag_(std::move(flag)), ptr_(ptr) {}

  SharedRef<internal::WeakRefFlag> flag_;
  T* ptr_ = nullptr;
};

template <typename T>
class WeakRefFactory {
 public:
  explicit WeakRefFactory(T* ptr) : ptr_(ptr) {}
  WeakRefFactory(const WeakRefFactory&) = delete;
  WeakRefFactory& operator=(const WeakRefFactory&) = delete;
  ~WeakRefFactory() { InvalidateWeakRefs(); }

  WeakRef<T> GetWeakRef() {
    if (!flag_)
      flag_ = MakeShared<internal::WeakRefFlag>();
    return WeakRef<T>(flag_, ptr_);
  }

  // Every reference handed out so far becomes null; later ones work.
  void InvalidateWeakRefs() {
    if (flag_) {
      flag_->Invalidate();
      flag_.reset();
    }
  }

  // Whether references handed out since the last invalidation may exist.
  bool HasWeakRefs() const { return flag_ && !flag_->HasOneRef(); }

 private:
  SharedRef<internal::WeakRefFlag> flag_;
  T* ptr_;
};

}  // namespace base

#endif  // BASE_WEAK_REF_H_
