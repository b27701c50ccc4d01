// IoCompletionContext: the record of one overlapped operation: a zeroed
// OVERLAPPED (pass &context.overlapped to ReadFile/WriteFile/ConnectNamedPipe)
// and the handler it belongs to. It must stay in place until the operation
// completes.
#ifndef BASE_THREADING_IO_COMPLETION_CONTEXT_H_
#define BASE_THREADING_IO_COMPLETION_CONTEXT_H_

#include <windows.h>

#include <cstddef>

namespace base {

class IoHandler;

struct IoCompletionContext {
  explicit IoCompletionContext(IoHandler* owner = nullptr) : handler(owner) {}
  IoCompletionContext(const IoCompletionContext&) = delete;
  IoCompletionContext& operator=(const IoCompletionContext&) = delete;

  // Zeroes the OVERLAPPED for the next operation.
  void ResetOverlapped() { overlapped = OVERLAPPED{}; }

  static IoCompletionContext* FromOverlapped(OVERLAPPED* overlapped) {
    return reinterpret_cast<IoCompletionContext*>(reinterpret_cast<char*>(overlapped) -
                                                  offsetof(IoCompletionContext, overlapped));
  }

  OVERLAPPED overlapped{};
  IoHandler* handler;
};

}  // namespace base

#endif  // BASE_THREADING_IO_COMPLETION_CONTEXT_H_
