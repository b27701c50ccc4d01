// A call with an exception filter of its own, asked in the order that a
// structured exception handler around the call would be: g++ has no
// __try/__except, so the call runs inside a small frame whose unwind data
// names a handler of ours, and the system's exception dispatch finds that
// handler as it walks the stack.
//
// For an exception raised on the calling thread while the call runs, the
// filter is asked after the process's vectored handlers and after every
// handler of the frames inside the call, and before any handler of the
// call's callers. Code inside the call that raises and handles an exception
// itself (a probing read, a library's own handler) never reaches the filter.
// Exceptions of other threads never do either.
#ifndef BASE_WIN_EXCEPTION_FILTER_CALL_H_
#define BASE_WIN_EXCEPTION_FILTER_CALL_H_

#include <windows.h>

namespace base::win {

// Decides about an exception that no handler inside the call took:
//   EXCEPTION_EXECUTE_HANDLER (1)      take it: the call is abandoned (the
//                                      frames inside it are unwound, their
//                                      termination handlers run) and
//                                      RunWithExceptionFilter returns false;
//   EXCEPTION_CONTINUE_EXECUTION (-1)  resume at the faulting instruction,
//                                      with the context as the filter left it;
//   EXCEPTION_CONTINUE_SEARCH (0)      not taken: the callers' handlers are
//                                      asked.
// Called on the faulting thread, in the middle of the exception's dispatch.
using ExceptionFilter = LONG (*)(void* filter_context, EXCEPTION_POINTERS* exception_pointers);

// Runs |function|(|context|). True when it returned normally; false when
// |filter| took an exception raised inside it. Calls nest: the innermost
// call's filter is asked first.
//
// A taken exception leaves the function without running the destructors of
// its C++ frames (this code base is built without C++ exceptions, so its
// frames have no cleanup for the unwinding to run): guarded code must not
// rely on scoped cleanup for anything that outlives the exception.
bool RunWithExceptionFilter(void (*function)(void* context), void* context, ExceptionFilter filter,
                            void* filter_context);

}  // namespace base::win

#endif  // BASE_WIN_EXCEPTION_FILTER_CALL_H_
