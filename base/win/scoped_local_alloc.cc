#include "base/win/scoped_local_alloc.h"

#include "base/logging.h"

namespace base::win::internal {

void LocalFreeLogged(HLOCAL memory) {
  if (::LocalFree(memory) != nullptr)
    PLOG(ERROR) << "LocalFree(" << memory << ") failed";
}

}  // namespace base::win::internal
