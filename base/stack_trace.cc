#include "base/stack_trace.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace base {

StackTrace::StackTrace() {
  // The count can never exceed the buffer, but the clamp keeps that true
  // whatever the system returns.
  WORD captured = ::RtlCaptureStackBackTrace(0, static_cast<DWORD>(kMaxFrames),
                                             const_cast<void**>(trace_), nullptr);
  count_ = std::min<size_t>(captured, kMaxFrames);
  // A null return address ends the chain; some unwinders walk on past the
  // thread's first frame into whatever lies above it. Those are no frames.
  for (size_t i = 0; i < count_; ++i) {
    if (trace_[i] == nullptr) {
      std::fill(trace_ + i, trace_ + count_, nullptr);
      count_ = i;
      break;
    }
  }
}

StackTrace::StackTrace(const void* const* frames, size_t count) {
  count_ = frames ? std::min(count, kMaxFrames) : 0;
  std::copy(frames, frames + count_, trace_);
}

void StackTrace::OutputToStream(std::ostream* os) const {
  for (size_t i = 0; i < count_; ++i) {
    char line[48];
    snprintf(line, sizeof(line), "#%zu 0x%llx\n", i,
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(trace_[i])));
    *os << line;
  }
}

std::string StackTrace::ToString() const {
  std::ostringstream stream;
  OutputToStream(&stream);
  return stream.str();
}

}  // namespace base
