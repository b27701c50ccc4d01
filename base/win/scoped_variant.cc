#include "base/win/scoped_variant.h"

#include <climits>

#include "base/logging.h"

namespace base::win {

void VariantTraits::Free(VariantValue& value) {
  HRESULT hr = ::VariantClear(&value.variant);
  if (FAILED(hr))
    ELOG(ERROR, hr) << "VariantClear failed for type " << value.variant.vt;
}

ScopedVariant::ScopedVariant(std::wstring_view text) {
  if (text.size() > UINT_MAX / sizeof(wchar_t) - 1) {
    LOG(ERROR) << "Text of " << text.size() << " units is too long for a BSTR";
    return;
  }
  VariantValue value;
  value.variant.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value.variant.bstrVal) {
    LOG(ERROR) << "SysAllocStringLen failed for " << text.size() << " units";
    return;
  }
  value.variant.vt = VT_BSTR;
  Reset(value);
}

// static
ScopedVariant ScopedVariant::FromInt32(int32_t value) {
  VariantValue held;
  held.variant.vt = VT_I4;
  held.variant.lVal = value;
  ScopedVariant result;
  result.Reset(held);
  return result;
}

// static
ScopedVariant ScopedVariant::FromBool(bool value) {
  VariantValue held;
  held.variant.vt = VT_BOOL;
  held.variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  ScopedVariant result;
  result.Reset(held);
  return result;
}

// static
ScopedVariant ScopedVariant::Copy(const VARIANT& value) {
  ScopedVariant result;
  VARIANT copy;
  ::VariantInit(&copy);
  // The source is only read; the declaration lacks the const.
  HRESULT hr = ::VariantCopy(&copy, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "VariantCopy failed for type " << value.vt;
    return result;
  }
  result.Take(&copy);
  return result;
}

void ScopedVariant::Take(VARIANT* value) {
  Reset(VariantValue(*value));
  ::VariantInit(value);
}

}  // namespace base::win
