// MessageDispatcher: takes the Windows messages of a UI loop's run in place
// of the pump's own TranslateMessage/DispatchMessage (a dialog dispatcher
// gives dialogs their keyboard navigation this way).
#ifndef BASE_THREADING_MESSAGE_DISPATCHER_H_
#define BASE_THREADING_MESSAGE_DISPATCHER_H_

#include <windows.h>

namespace base {

class MessageDispatcher {
 public:
  enum Result : int {
    // The dispatcher handled the message.
    kConsumed = 0,
    // The pump must translate and dispatch the message.
    kTranslateAndDispatch = 2,
  };

  virtual int Dispatch(const MSG& message) = 0;

 protected:
  virtual ~MessageDispatcher() = default;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_DISPATCHER_H_
