#include "base/bind.h"

namespace base {

namespace {
void Nothing() {}
}  // namespace

Closure DoNothing() { return Bind(&Nothing); }

}  // namespace base
