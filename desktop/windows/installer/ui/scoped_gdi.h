// Holders for the window-system objects of the installer window: GDI
// objects, icons, windows and hooks.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_H_

#include <windows.h>

#include "base/scoped_generic.h"

namespace installer {

template <typename T>
struct GdiObjectTraits {
  static T InvalidValue() { return nullptr; }
  static void Free(T& object) { ::DeleteObject(object); }
};

struct IconTraits {
  static HICON InvalidValue() { return nullptr; }
  static void Free(HICON& icon) { ::DestroyIcon(icon); }
};

struct WindowTraits {
  static HWND InvalidValue() { return nullptr; }
  static void Free(HWND& window) { ::DestroyWindow(window); }
};

struct HookTraits {
  static HHOOK InvalidValue() { return nullptr; }
  static void Free(HHOOK& hook) { ::UnhookWindowsHookEx(hook); }
};

struct MemoryDcTraits {
  static HDC InvalidValue() { return nullptr; }
  static void Free(HDC& dc) { ::DeleteDC(dc); }
};

using ScopedFont = base::ScopedGeneric<HFONT, GdiObjectTraits<HFONT>>;
using ScopedBitmap = base::ScopedGeneric<HBITMAP, GdiObjectTraits<HBITMAP>>;
using ScopedBrush = base::ScopedGeneric<HBRUSH, GdiObjectTraits<HBRUSH>>;
using ScopedIcon = base::ScopedGeneric<HICON, IconTraits>;
using ScopedWindow = base::ScopedGeneric<HWND, WindowTraits>;
using ScopedHook = base::ScopedGeneric<HHOOK, HookTraits>;
using ScopedMemoryDc = base::ScopedGeneric<HDC, MemoryDcTraits>;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_SCOPED_GDI_H_
