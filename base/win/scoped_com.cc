#include "base/win/scoped_com.h"

#include "base/logging.h"

namespace base::win {

ScopedComInitializer::ScopedComInitializer(Apartment apartment) {
  const DWORD model =
      apartment == Apartment::kSingleThreaded ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  hr_ = ::CoInitializeEx(nullptr, model);
  if (FAILED(hr_))
    ELOG(ERROR, hr_) << "CoInitializeEx failed";
}

ScopedComInitializer::~ScopedComInitializer() {
  if (SUCCEEDED(hr_))
    ::CoUninitialize();
}

}  // namespace base::win
