#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"

#include "base/win/exception_filter_call.h"

namespace installer {
namespace {

struct InPageErrorFilter {
  GuardedAddressFilter filter;
  void* filter_context;
  DWORD nt_status = 0;
};

LONG TakeInPageError(void* context, EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 3)
    return EXCEPTION_CONTINUE_SEARCH;
  auto* guard = static_cast<InPageErrorFilter*>(context);
  if (!guard->filter(guard->filter_context,
                     reinterpret_cast<const void*>(record->ExceptionInformation[1]))) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  guard->nt_status = static_cast<DWORD>(record->ExceptionInformation[2]);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool RunWithInPageErrorGuard(void (*function)(void* context), void* context,
                             GuardedAddressFilter filter, void* filter_context, DWORD* nt_status) {
  InPageErrorFilter guard = {filter, filter_context};
  if (base::win::RunWithExceptionFilter(function, context, &TakeInPageError, &guard))
    return true;
  *nt_status = guard.nt_status;
  return false;
}

}  // namespace installer
