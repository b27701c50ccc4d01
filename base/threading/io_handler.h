// IoHandler: receives the completions of the overlapped operations on the
// handles it registered with an IoMessageLoop.
#ifndef BASE_THREADING_IO_HANDLER_H_
#define BASE_THREADING_IO_HANDLER_H_

#include <windows.h>

namespace base {

struct IoCompletionContext;

class IoHandler {
 public:
  // |error| is 0 on success, else the Windows error of the operation.
  virtual void OnIOCompleted(IoCompletionContext* context, DWORD bytes_transferred,
                             DWORD error) = 0;

 protected:
  virtual ~IoHandler() = default;
};

}  // namespace base

#endif  // BASE_THREADING_IO_HANDLER_H_
