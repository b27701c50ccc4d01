// Callback<R(Args...)>: a bound call, copyable and cheap to pass around (one
// pointer to a counted BoundCall record). Closure is Callback<void()>.
// Bind() (base/bind.h) makes them; Run() calls the bound function with the
// bound arguments followed by Run()'s own arguments. Running a null callback
// stops the process.
#ifndef BASE_CALLBACK_H_
#define BASE_CALLBACK_H_

#include <cstddef>
#include <utility>

#include "base/bound_call.h"
#include "base/logging.h"
#include "base/shared_ref.h"

namespace base {

template <typename Signature>
class Callback;

template <typename R, typename... Args>
class Callback<R(Args...)> {
 public:
  using RunType = R(Args...);
  // What a BoundCall's invoke function really is for this signature.
  using InvokeFn = R (*)(internal::BoundCall*, Args&&...);

  Callback() = default;
  Callback(std::nullptr_t) {}
  // Takes a reference to |call|, whose invoke function must be an InvokeFn.
  explicit Callback(internal::BoundCall* call) : call_(call) {}

  bool is_null() const { return !call_; }
  explicit operator bool() const { return static_cast<bool>(call_); }
  void Reset() { call_.reset(); }

  // True when running it would do nothing because its weakly bound object
  // is gone.
  bool IsCancelled() const { return call_ && call_->IsCancelled(); }

  // Whether both hold the same record (copies of one Bind()).
  bool Equals(const Callback& other) const { return call_ == other.call_; }

  R Run(Args... args) const {
    CHECK(call_) << "Run() of a null callback";
    // Keep the record alive even if the call resets the callback holding it.
    SharedRef<internal::BoundCall> call = call_;
    InvokeFn invoke = reinterpret_cast<InvokeFn>(call->invoke);
    return invoke(call.get(), std::forward<Args>(args)...);
  }

  // Runs without the extra reference Run() takes, for an owner that keeps
  // this callback untouched during the call (a loop running its task).
  R RunUnguarded(Args... args) const {
    CHECK(call_) << "Run() of a null callback";
    InvokeFn invoke = reinterpret_cast<InvokeFn>(call_->invoke);
    return invoke(call_.get(), std::forward<Args>(args)...);
  }

  internal::BoundCall* bound_call() const { return call_.get(); }

 private:
  SharedRef<internal::BoundCall> call_;
};

using Closure = Callback<void()>;

}  // namespace base

#endif  // BASE_CALLBACK_H_
