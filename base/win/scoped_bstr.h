// The holder of one BSTR, freed with SysFreeString.
#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>

#include <oleauto.h>

#include <string_view>

#include "base/scoped_generic.h"

namespace base::win {

struct BstrTraits {
  static BSTR InvalidValue() { return nullptr; }
  static void Free(BSTR& text) { ::SysFreeString(text); }
};

// Take a BSTR that a function returned with Reset(); pass Receive() to
// functions that fill a BSTR* out-parameter.
class ScopedBstr : public ScopedGeneric<BSTR, BstrTraits> {
 public:
  ScopedBstr() = default;
  // Allocates a copy of |text| (embedded NULs kept). Empty, with a log line,
  // when the allocation fails.
  explicit ScopedBstr(std::wstring_view text);
  ScopedBstr(ScopedBstr&&) = default;
  ScopedBstr& operator=(ScopedBstr&&) = default;

  // Length in UTF-16 units; 0 when empty.
  size_t Length() const { return IsValid() ? ::SysStringLen(Get()) : 0; }
  std::wstring_view view() const { return std::wstring_view(Get() ? Get() : L"", Length()); }
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_BSTR_H_
