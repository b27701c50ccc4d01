// The one owning holder for every resource the program acquires: handles,
// registry keys, modules, COM pointers, BSTRs, VARIANTs and the like.
//
// A traits type describes the resource:
//   struct Traits {
//     static T InvalidValue();          // the "nothing held" value
//     static void Free(T& value);       // releases a valid value
//     // optional: static void OnAcquire(const T& value, const void* owner);
//     // optional: static void OnRelease(const T& value, const void* owner);
//   };
// OnAcquire is told when a holder (|owner|) takes a value; OnRelease when the
// holder gives it up, either by Release() or just before Free(). The handle
// verifier uses the pair to catch a handle owned twice or freed by a stranger.
// The holder frees what it holds on Reset() and destruction; nothing is
// released by hand anywhere else.
#ifndef BASE_SCOPED_GENERIC_H_
#define BASE_SCOPED_GENERIC_H_

#include <utility>

namespace base {

template <typename T, typename Traits>
class ScopedGeneric {
 public:
  using element_type = T;
  using traits_type = Traits;

  ScopedGeneric() : value_(Traits::InvalidValue()) {}
  explicit ScopedGeneric(T value) : value_(value) { NotifyAcquire(); }
  ScopedGeneric(ScopedGeneric&& other) : value_(other.Release()) { NotifyAcquire(); }
  ScopedGeneric& operator=(ScopedGeneric&& other) {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ~ScopedGeneric() { FreeIfValid(); }

  // Frees the held value (if any) and takes |value|.
  void Reset(T value = Traits::InvalidValue()) {
    if (IsValid() && value == value_)
      return;  // Taking what we already own must not free it.
    FreeIfValid();
    value_ = value;
    NotifyAcquire();
  }

  // Gives up ownership without freeing.
  [[nodiscard]] T Release() {
    T old = value_;
    if (IsValid())
      NotifyRelease();
    value_ = Traits::InvalidValue();
    return old;
  }

  const T& Get() const { return value_; }
  bool IsValid() const { return !(value_ == Traits::InvalidValue()); }
  explicit operator bool() const { return IsValid(); }

  // For APIs that fill an out-parameter (COM factories, BSTR getters). The
  // holder is emptied first. Resources whose traits track acquisition (the
  // handle verifier) must be taken through Reset() instead, so that the
  // acquisition is reported.
  T* Receive() {
    static_assert(
        !requires(const T& v) { Traits::OnAcquire(v, nullptr); },
        "tracked resources must be taken through Reset()");
    FreeIfValid();
    return &value_;
  }

 private:
  void FreeIfValid() {
    if (IsValid()) {
      NotifyRelease();
      Traits::Free(value_);
      value_ = Traits::InvalidValue();
    }
  }
  void NotifyAcquire() {
    if constexpr (requires(const T& v) { Traits::OnAcquire(v, nullptr); }) {
      if (IsValid())
        Traits::OnAcquire(value_, this);
    }
  }
  void NotifyRelease() {
    if constexpr (requires(const T& v) { Traits::OnRelease(v, nullptr); }) {
      Traits::OnRelease(value_, this);
    }
  }

  T value_;
};

}  // namespace base

#endif  // BASE_SCOPED_GENERIC_H_
