// The return addresses of the calling thread at one moment. The handle
// verifier keeps one per tracked handle, so that a crash dump shows where a
// handle was taken.
#ifndef BASE_STACK_TRACE_H_
#define BASE_STACK_TRACE_H_

#include <cstddef>
#include <iosfwd>
#include <string>

namespace base {

class StackTrace {
 public:
  // RtlCaptureStackBackTrace takes fewer than 63 frames on every Windows
  // version that the program supports.
  static constexpr size_t kMaxFrames = 62;

  // Captures the calling thread's stack, no frames skipped, at most
  // kMaxFrames. Frame 0 lies inside this constructor. The capture ends at
  // the first null return address.
  StackTrace();
  // Copies |count| addresses (at most kMaxFrames are kept).
  StackTrace(const void* const* frames, size_t count);
  StackTrace(const StackTrace&) = default;
  StackTrace& operator=(const StackTrace&) = default;

  // The captured addresses; |count| receives how many are valid.
  const void* const* Addresses(size_t* count) const {
    *count = count_;
    return trace_;
  }
  size_t count() const { return count_; }
  // The address of frame |index|, or null past the captured frames.
  const void* frame(size_t index) const { return index < count_ ? trace_[index] : nullptr; }

  // One line per frame: "#<n> 0x<address>".
  void OutputToStream(std::ostream* os) const;
  std::string ToString() const;

 private:
  const void* trace_[kMaxFrames] = {};
  size_t count_ = 0;
};

}  // namespace base

#endif  // BASE_STACK_TRACE_H_
