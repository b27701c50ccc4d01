#include "base/win/scoped_bstr.h"

#include <climits>

#include "base/logging.h"

namespace base::win {

ScopedBstr::ScopedBstr(std::wstring_view text) {
  if (text.size() > UINT_MAX / sizeof(wchar_t) - 1) {
    LOG(ERROR) << "Text of " << text.size() << " units is too long for a BSTR";
    return;
  }
  BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) {
    LOG(ERROR) << "SysAllocStringLen failed for " << text.size() << " units";
    return;
  }
  Reset(copy);
}

}  // namespace base::win
