#include "desktop/windows/installer/launch_lock.h"

#include "base/lazy_instance.h"

namespace installer {

namespace {

// None, being built or ready: a caller that finds it being built waits for
// the builder, so every thread gets the one lock.
base::LazyInstance<base::Lock> g_launch_lock;

}  // namespace

base::Lock& GetLaunchLock() { return g_launch_lock.Get(); }

}  // namespace installer
