// IoMessageLoop: a MessageLoop of type I/O, whose pump waits on an I/O
// completion port. Handles registered here complete their overlapped
// operations on the loop's thread through their IoHandler.
//
// It adds no state to MessageLoop: Current() views the thread's I/O loop
// through this class whichever way it was made.
#ifndef BASE_THREADING_IO_MESSAGE_LOOP_H_
#define BASE_THREADING_IO_MESSAGE_LOOP_H_

#include <windows.h>

#include "base/threading/io_completion_context.h"
#include "base/threading/io_handler.h"
#include "base/threading/message_loop.h"
#include "base/time.h"

namespace base {

class IoMessagePump;

class IoMessageLoop : public MessageLoop {
 public:
  IoMessageLoop() : MessageLoop(TYPE_IO) {}

  // The calling thread's loop when it is an I/O loop, else null.
  static IoMessageLoop* Current();

  // Associates |file| (opened for overlapped I/O) with the port; its
  // completions go to |handler|. False (and logged) on failure.
  bool RegisterIOHandler(HANDLE file, IoHandler* handler);

  // Waits up to |timeout| for a completion of |filter| (of any handler when
  // null) and dispatches it. Completions of other handlers that arrive
  // meanwhile are kept, in order, and dispatched later by the loop. False
  // when nothing was dispatched in time.
  bool WaitForIOCompletion(TimeSpan timeout, IoHandler* filter);

  // Queues a completion of |bytes_transferred| bytes for |handler| with
  // |context|, as if an operation had completed successfully (for sources
  // that cannot use the port themselves). False (and logged) on failure.
  bool PostIOCompletion(IoHandler* handler, IoCompletionContext* context, DWORD bytes_transferred);

 private:
  IoMessagePump* io_pump() const;
};

}  // namespace base

#endif  // BASE_THREADING_IO_MESSAGE_LOOP_H_
