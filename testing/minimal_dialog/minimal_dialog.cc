// The smallest interactive Windows program: a modeless dialog from its own
// template, shown and served by a plain message loop until it is closed.
// The welcome page benchmark measures the installer's start against it.
#include <windows.h>

#include "testing/minimal_dialog/minimal_dialog.h"

namespace {

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)
        ::DestroyWindow(dialog);
      return TRUE;
    case WM_CLOSE: ::DestroyWindow(dialog); return TRUE;
    case WM_DESTROY: ::PostQuitMessage(0); return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HWND dialog =
      ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MINIMAL_DIALOG), nullptr, DialogProc, 0);
  if (!dialog)
    return 1;
  ::ShowWindow(dialog, SW_SHOW);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(dialog, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return 0;
}
