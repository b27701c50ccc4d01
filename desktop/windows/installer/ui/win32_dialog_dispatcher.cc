#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include "base/lazy_instance.h"
#include "base/logging.h"

namespace installer {

namespace {
base::LazyInstance<Win32DialogDispatcher> g_dispatcher;
}  // namespace

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() { return &g_dispatcher.Get(); }

int Win32DialogDispatcher::Dispatch(const MSG& message) {
  if (active_dialog_ && ::IsDialogMessageW(active_dialog_, const_cast<MSG*>(&message)))
    return kConsumed;
  return kTranslateAndDispatch;
}

void Win32DialogDispatcher::SetActiveDialog(HWND dialog) {
  VLOG(2) << "Switching to hwnd " << dialog;
  active_dialog_ = dialog;
}

void Win32DialogDispatcher::ClearActiveDialog(HWND dialog) {
  VLOG(2) << "Switching away from hwnd " << dialog;
  if (active_dialog_ == dialog)
    active_dialog_ = nullptr;
  else
    VLOG(2) << "Another hwnd was already selected";
}

}  // namespace installer
