// Reading or writing a file-backed view faults with EXCEPTION_IN_PAGE_ERROR
// when the disk behind it fails (full volume, removed drive, network error).
// The guard is an exception filter around the call (base/win/
// exception_filter_call.h); it takes only in-page errors of the calling
// thread at addresses its filter accepts, and leaves every other exception
// to the handlers after it.
//
// A taken exception leaves the guarded function without running the
// destructors of its frames: guard only code (such as a C decoder) that
// keeps nothing in scoped holders.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_IN_PAGE_ERROR_GUARD_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_IN_PAGE_ERROR_GUARD_H_

#include <windows.h>

namespace installer {

// Whether a faulting address belongs to the guarded memory.
using GuardedAddressFilter = bool (*)(void* context, const void* address);

// Runs |function|(|context|). True when it returned normally. False when an
// in-page error at an address accepted by |filter|(|filter_context|, address)
// was raised on this thread meanwhile; |*nt_status| then holds the NT status
// of the failed page operation. Guards nest: the innermost one is asked
// first, and an address it does not accept goes on to the outer ones.
bool RunWithInPageErrorGuard(void (*function)(void* context), void* context,
                             GuardedAddressFilter filter, void* filter_context, DWORD* nt_status);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_IN_PAGE_ERROR_GUARD_H_
