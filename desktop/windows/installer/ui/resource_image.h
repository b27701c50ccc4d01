// Images of the installer window, decoded from the host executable's
// resources with GDI+ (PNG and JPG), and drawn with their transparency.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGE_H_

#include <windows.h>
#include <objidl.h>

#include "base/win/scoped_com.h"

namespace installer {

// The resource |name| of type |type| of the host module, copied into a
// movable memory block that the stream owns. Null when it is missing or a
// step fails (logged).
base::win::ComPtr<IStream> LoadResourceStream(const wchar_t* name, const wchar_t* type);

// A 32-bit bitmap with premultiplied alpha decoded from resource |id| of
// |type|; null (logged) on any failure. The caller owns it.
HBITMAP LoadBitmapFromResource(int id, const wchar_t* type);

// Blends the source rectangle over the destination one, stretched, with
// per-pixel alpha.
bool AlphaBlendBitmap(HDC destination, const RECT& destination_rect, HDC source,
                      const RECT& source_rect);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RESOURCE_IMAGE_H_
