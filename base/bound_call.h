// BoundCall: the counted record behind every Callback. It holds the invoke
// function (typed by the Callback that calls it), the reference count, the
// destroy function, the cancellation test and, in the derived record that
// Bind() makes, the bound function with its arguments.
#ifndef BASE_BOUND_CALL_H_
#define BASE_BOUND_CALL_H_

#include <atomic>
#include <cstdint>

namespace base::internal {

struct BoundCall {
  using UntypedInvokeFn = void (*)();
  using DestroyFn = void (*)(BoundCall*);
  using CancelledFn = bool (*)(const BoundCall*);

  BoundCall(UntypedInvokeFn invoke_fn, DestroyFn destroy_fn, CancelledFn cancelled_fn)
      : invoke(invoke_fn), destroy(destroy_fn), is_cancelled(cancelled_fn) {}
  BoundCall(const BoundCall&) = delete;
  BoundCall& operator=(const BoundCall&) = delete;

  void AddRef() const { ref_count.fetch_add(1, std::memory_order_relaxed); }
  void Release() const {
    // The sole owner cannot race with anyone adding a reference: skip the
    // atomic read-modify-write (most tasks end this way).
    if (ref_count.load(std::memory_order_acquire) == 1 ||
        ref_count.fetch_sub(1, std::memory_order_acq_rel) == 1)
      destroy(const_cast<BoundCall*>(this));
  }
  bool IsCancelled() const { return is_cancelled != nullptr && is_cancelled(this); }

  UntypedInvokeFn invoke;
  mutable std::atomic<int64_t> ref_count{0};
  DestroyFn destroy;
  // Null when the call can never be cancelled.
  CancelledFn is_cancelled;

 protected:
  ~BoundCall() = default;
};

}  // namespace base::internal

#endif  // BASE_BOUND_CALL_H_
