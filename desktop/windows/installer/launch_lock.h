// The lock held around every launch of a child process that inherits
// handles. Between making a handle inheritable (or creating an inheritable
// one) and launching the child meant to receive it, no other launch of this
// process may run: it would inherit that handle too.
#ifndef DESKTOP_WINDOWS_INSTALLER_LAUNCH_LOCK_H_
#define DESKTOP_WINDOWS_INSTALLER_LAUNCH_LOCK_H_

#include "base/threading/lock.h"

namespace installer {

// The process-wide launch lock, created on first use and deleted by the
// current ExitCallbackManager.
base::Lock& GetLaunchLock();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LAUNCH_LOCK_H_
