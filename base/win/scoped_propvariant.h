// The holder of one PROPVARIANT (property-store values), cleared with
// PropVariantClear.
//
// Like VARIANT, PROPVARIANT has no equality, which the holder needs to tell
// "empty" from "holding something": VT_EMPTY is the empty value, and two
// non-empty values are equal only when they are the same bits, so re-taking
// what is already held never frees it.
#ifndef BASE_WIN_SCOPED_PROPVARIANT_H_
#define BASE_WIN_SCOPED_PROPVARIANT_H_

#include <windows.h>

#include <propidl.h>

#include <cstring>

#include "base/scoped_generic.h"

namespace base::win {

struct PropVariantValue {
  PropVariantValue() { ::PropVariantInit(&variant); }

  bool operator==(const PropVariantValue& other) const {
    if (variant.vt == VT_EMPTY || other.variant.vt == VT_EMPTY)
      return variant.vt == other.variant.vt;
    return memcmp(&variant, &other.variant, sizeof(PROPVARIANT)) == 0;
  }

  PROPVARIANT variant;
};

struct PropVariantTraits {
  static PropVariantValue InvalidValue() { return PropVariantValue(); }
  static void Free(PropVariantValue& value) { ::PropVariantClear(&value.variant); }
};

class ScopedPropVariant : public ScopedGeneric<PropVariantValue, PropVariantTraits> {
 public:
  ScopedPropVariant() = default;
  ScopedPropVariant(ScopedPropVariant&&) = default;
  ScopedPropVariant& operator=(ScopedPropVariant&&) = default;

  VARTYPE type() const { return Get().variant.vt; }
  const PROPVARIANT& value() const { return Get().variant; }
  // For PROPVARIANT* out-parameters (IPropertyStore::GetValue): clears the
  // held value and returns an empty PROPVARIANT to fill.
  PROPVARIANT* ReceivePropVariant() { return &Receive()->variant; }
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_PROPVARIANT_H_
