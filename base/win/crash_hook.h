// The process-wide crash hook and the guard that window procedures run under.
//
// A guarded call runs a function; when a hardware exception (an access
// violation, an in-page error, a division by zero, ...) raised on the
// calling thread inside the call is taken by no handler inside the call,
// the crash hook decides:
//   EXCEPTION_CONTINUE_EXECUTION (-1)  resume at the faulting instruction;
//   EXCEPTION_CONTINUE_SEARCH (0)      not taken: the exception goes on to
//                                      the handlers of the call's callers,
//                                      as if there were no guard;
//   anything else                      taken: control returns to the guard,
//                                      which reports the call as crashed.
// The guard is asked in the order of a structured exception handler around
// the call (see exception_filter_call.h): after the process's vectored
// handlers and the handlers inside the call, so that code which raises and
// handles an exception itself (a probing read, a shell extension's own
// handler) goes on undisturbed. With no hook installed the guard takes
// nothing. Guards nest: the innermost guard of the thread is asked first.
// Exceptions on other threads, or outside any guard, are never touched.
//
// A taken exception leaves the guarded function without running the
// destructors of its frames, exactly like a structured exception handler in
// C code: guarded code must not rely on scoped cleanup for anything that
// outlives the crash.
#ifndef BASE_WIN_CRASH_HOOK_H_
#define BASE_WIN_CRASH_HOOK_H_

#include <windows.h>

#include <type_traits>
#include <utility>

namespace base::win {

using CrashHook = int (*)(EXCEPTION_POINTERS* exception_pointers);

// Atomically installs |hook| (null removes it) and returns the previous one.
CrashHook ExchangeCrashHook(CrashHook hook);

// Runs |function|(|context|) under a guard. True when it returned normally;
// false when an exception raised inside it was taken (logged after the
// return to the guard).
bool RunGuardedCall(void (*function)(void* context), void* context);

// Runs a window procedure under a guard. On a normal return stores its
// result in |*result| and returns true; when an exception was taken stores 0
// and returns false.
bool RunGuardedWindowProcedure(WNDPROC procedure, HWND hwnd, UINT message, WPARAM wparam,
                               LPARAM lparam, LRESULT* result);

// Runs any callable under a guard; see RunGuardedCall.
template <typename Function>
bool RunGuarded(Function&& function) {
  using Callable = std::remove_reference_t<Function>;
  return RunGuardedCall([](void* context) { (*static_cast<Callable*>(context))(); },
                        const_cast<std::remove_const_t<Callable>*>(&function));
}

namespace internal {

template <auto kProcedure, typename Signature = decltype(kProcedure)>
struct GuardedProcedure;

template <auto kProcedure, typename Result, typename... Args>
struct GuardedProcedure<kProcedure, Result (*)(Args...)> {
  static Result CALLBACK Run(Args... args) {
    if constexpr (std::is_same_v<Result (*)(Args...), WNDPROC>) {
      LRESULT result = 0;
      RunGuardedWindowProcedure(kProcedure, args..., &result);
      return result;
    } else {
      Result result{};
      RunGuarded([&] { result = kProcedure(args...); });
      return result;
    }
  }
};

}  // namespace internal

// What the system is given in place of |kProcedure|: a window or dialog
// procedure, a subclass procedure, a hook or a callback that the system
// calls while it handles messages. The procedure then runs under a guard,
// so that an exception inside it reaches the crash hook: on 64-bit Windows
// an exception that leaves a callback of the window manager may be
// swallowed on its way back through the kernel, and the process would run
// on in a broken state. When the hook takes an exception the system gets
// 0 from the call.
//
//   ::CreateDialogParamW(module, id, owner, GuardedProcedure<&DialogProc>, param);
template <auto kProcedure>
inline constexpr decltype(kProcedure) GuardedProcedure =
    &internal::GuardedProcedure<kProcedure>::Run;

}  // namespace base::win

#endif  // BASE_WIN_CRASH_HOOK_H_
