// SharedRef<T>: a counted pointer to an object with AddRef()/Release(),
// normally derived from RefCountedThreadSafe<T>. Copying adds a reference,
// destruction drops one.
#ifndef BASE_SHARED_REF_H_
#define BASE_SHARED_REF_H_

#include <cstddef>
#include <utility>

#include "base/ref_counted_thread_safe.h"

namespace base {

template <typename T>
class SharedRef {
 public:
  using element_type = T;

  constexpr SharedRef() = default;
  constexpr SharedRef(std::nullptr_t) {}
  // Adds a reference to |ptr| (which may be null).
  SharedRef(T* ptr) : ptr_(ptr) {
    if (ptr_)
      ptr_->AddRef();
  }
  SharedRef(const SharedRef& other) : SharedRef(other.ptr_) {}
  SharedRef(SharedRef&& other) : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <typename U>
  SharedRef(const SharedRef<U>& other) : SharedRef(other.get()) {}
  template <typename U>
  SharedRef(SharedRef<U>&& other) : ptr_(other.Leak()) {}
  ~SharedRef() {
    if (ptr_)
      ptr_->Release();
  }

  SharedRef& operator=(const SharedRef& other) {
    SharedRef(other).swap(*this);
    return *this;
  }
  SharedRef& operator=(SharedRef&& other) {
    SharedRef(std::move(other)).swap(*this);
    return *this;
  }
  SharedRef& operator=(T* ptr) {
    SharedRef(ptr).swap(*this);
    return *this;
  }

  T* get() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void reset() { SharedRef().swap(*this); }
  void swap(SharedRef& other) { std::swap(ptr_, other.ptr_); }

  // Gives up the reference without releasing it.
  [[nodiscard]] T* Leak() {
    T* ptr = ptr_;
    ptr_ = nullptr;
    return ptr;
  }

  template <typename U>
  bool operator==(const SharedRef<U>& other) const {
    return ptr_ == other.get();
  }
  bool operator==(const T* other) const { return ptr_ == other; }
  bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }

 private:
  T* ptr_ = nullptr;
};

// Makes a new counted object and takes the first reference.
template <typename T, typename... Args>
SharedRef<T> MakeShared(Args&&... args) {
  return SharedRef<T>(new T(std::forward<Args>(args)...));
}

}  // namespace base

#endif  // BASE_SHARED_REF_H_
