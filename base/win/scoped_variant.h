// The holder of one VARIANT, cleared with VariantClear.
//
// VARIANT has no equality, which the holder needs to tell "empty" from
// "holding something": VariantValue wraps it, VT_EMPTY is the empty value, and
// two non-empty values are equal only when they are the same bits (the same
// BSTR, the same interface pointer), so re-taking what is already held never
// frees it.
#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/scoped_generic.h"

namespace base::win {

struct VariantValue {
  VariantValue() { ::VariantInit(&variant); }
  // Copies the bits, not the contents: the new value owns what |value| owned.
  explicit VariantValue(const VARIANT& value) : variant(value) {}

  bool operator==(const VariantValue& other) const {
    if (variant.vt == VT_EMPTY || other.variant.vt == VT_EMPTY)
      return variant.vt == other.variant.vt;
    return memcmp(&variant, &other.variant, sizeof(VARIANT)) == 0;
  }

  VARIANT variant;
};

struct VariantTraits {
  static VariantValue InvalidValue() { return VariantValue(); }
  static void Free(VariantValue& value);
};

class ScopedVariant : public ScopedGeneric<VariantValue, VariantTraits> {
 public:
  ScopedVariant() = default;
  // VT_BSTR holding a copy of |text|; empty (with a log line) when the
  // allocation fails.
  explicit ScopedVariant(std::wstring_view text);
  ScopedVariant(ScopedVariant&&) = default;
  ScopedVariant& operator=(ScopedVariant&&) = default;

  static ScopedVariant FromInt32(int32_t value);
  static ScopedVariant FromBool(bool value);
  // A deep copy of |value| (VariantCopy); empty when the copy fails.
  static ScopedVariant Copy(const VARIANT& value);

  // Takes ownership of what |value| holds and leaves it VT_EMPTY.
  void Take(VARIANT* value);

  VARTYPE type() const { return Get().variant.vt; }
  // For calls that take a VARIANT by value or by const pointer.
  const VARIANT& value() const { return Get().variant; }
  const VARIANT* ptr() const { return &Get().variant; }
  // For VARIANT* out-parameters: clears the held value and returns an empty
  // VARIANT to fill.
  VARIANT* ReceiveVariant() { return &Receive()->variant; }
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_VARIANT_H_
