#include "base/threading/task_runner.h"

#include <utility>

namespace base {

bool TaskRunner::PostTask(const CodeLocation& from_here, Closure task) {
  return PostDelayedTask(from_here, std::move(task), TimeSpan());
}

}  // namespace base
