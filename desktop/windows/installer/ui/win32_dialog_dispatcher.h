// Win32DialogDispatcher: gives the active modeless dialog its keyboard
// navigation (Tab, arrows, mnemonics, Enter) by passing the UI loop's
// messages through IsDialogMessageW first. One per process.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include "base/threading/message_dispatcher.h"

namespace installer {

class Win32DialogDispatcher : public base::MessageDispatcher {
 public:
  // The process's instance, made on first use and deleted at exit.
  static Win32DialogDispatcher* GetInstance();

  Win32DialogDispatcher() = default;
  Win32DialogDispatcher(const Win32DialogDispatcher&) = delete;
  Win32DialogDispatcher& operator=(const Win32DialogDispatcher&) = delete;
  ~Win32DialogDispatcher() override = default;

  // kConsumed when the active dialog took the message, otherwise
  // kTranslateAndDispatch (also without an active dialog).
  int Dispatch(const MSG& message) override;

  void SetActiveDialog(HWND dialog);
  // Clears the active dialog only when it is |dialog|.
  void ClearActiveDialog(HWND dialog);
  HWND active_dialog() const { return active_dialog_; }

 private:
  HWND active_dialog_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
