// COM ownership: ComPtr<T> holds one reference to an interface pointer and
// releases it; ScopedComInitializer initialises COM on the calling thread for
// its lifetime.
#ifndef BASE_WIN_SCOPED_COM_H_
#define BASE_WIN_SCOPED_COM_H_

#include <windows.h>

#include <objbase.h>
#include <unknwn.h>

#include "base/scoped_generic.h"

namespace base::win {

template <typename T>
struct ComTraits {
  static T* InvalidValue() { return nullptr; }
  static void Free(T*& pointer) { pointer->Release(); }
};

template <typename T>
class ComPtr : public ScopedGeneric<T*, ComTraits<T>> {
  using Base = ScopedGeneric<T*, ComTraits<T>>;

 public:
  ComPtr() = default;
  // Takes over the reference that |pointer| carries (no AddRef).
  explicit ComPtr(T* pointer) : Base(pointer) {}
  ComPtr(ComPtr&&) = default;
  ComPtr& operator=(ComPtr&&) = default;

  // A second holder of |pointer|: adds a reference.
  static ComPtr Share(T* pointer) {
    if (pointer)
      pointer->AddRef();
    return ComPtr(pointer);
  }
  ComPtr Clone() const { return Share(this->Get()); }

  T* operator->() const { return this->Get(); }

  // For factories that fill a void** (CoCreateInstance, QueryInterface): the
  // holder is emptied first.
  void** ReceiveVoid() { return reinterpret_cast<void**>(this->Receive()); }

  // Queries the held object for |iid|, which must be the IID of U.
  template <typename U>
  HRESULT QueryInterface(REFIID iid, ComPtr<U>* out) const {
    if (!this->IsValid())
      return E_POINTER;
    return this->Get()->QueryInterface(iid, out->ReceiveVoid());
  }
  template <typename U>
  HRESULT QueryInterface(ComPtr<U>* out) const {
    return QueryInterface(__uuidof(U), out);
  }

  // Creates an object of |clsid| and takes its |iid| interface (the IID of T).
  HRESULT CreateInstance(REFCLSID clsid, REFIID iid, DWORD context = CLSCTX_ALL) {
    return ::CoCreateInstance(clsid, nullptr, context, iid, ReceiveVoid());
  }
  HRESULT CreateInstance(REFCLSID clsid, DWORD context = CLSCTX_ALL) {
    return CreateInstance(clsid, __uuidof(T), context);
  }
};

// Initialises COM on the calling thread (single-threaded apartment unless
// asked otherwise) and uninitialises it on destruction, but only when the
// initialisation succeeded (S_FALSE, "already initialised", counts: it must
// be balanced too).
class ScopedComInitializer {
 public:
  enum class Apartment { kSingleThreaded, kMultiThreaded };

  explicit ScopedComInitializer(Apartment apartment = Apartment::kSingleThreaded);
  ScopedComInitializer(const ScopedComInitializer&) = delete;
  ScopedComInitializer& operator=(const ScopedComInitializer&) = delete;
  ~ScopedComInitializer();

  bool Succeeded() const { return SUCCEEDED(hr_); }
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_COM_H_
