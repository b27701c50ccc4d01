#include "base/threading/io_message_loop.h"

#include "base/logging.h"
#include "base/threading/message_pump_io.h"

namespace base {

// static
IoMessageLoop* IoMessageLoop::Current() {
  MessageLoop* loop = MessageLoop::Current();
  if (!loop || loop->type() != TYPE_IO)
    return nullptr;
  return static_cast<IoMessageLoop*>(loop);
}

IoMessagePump* IoMessageLoop::io_pump() const { return static_cast<IoMessagePump*>(pump()); }

bool IoMessageLoop::RegisterIOHandler(HANDLE file, IoHandler* handler) {
  return io_pump()->RegisterIOHandler(file, handler);
}

bool IoMessageLoop::WaitForIOCompletion(TimeSpan timeout, IoHandler* filter) {
  return io_pump()->WaitForIOCompletion(timeout, filter);
}

bool IoMessageLoop::PostIOCompletion(IoHandler* handler, IoCompletionContext* context,
                                     DWORD bytes_transferred) {
  return io_pump()->PostIOCompletion(handler, context, bytes_transferred);
}

}  // namespace base
