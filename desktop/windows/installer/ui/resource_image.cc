#include "desktop/windows/installer/ui/resource_image.h"

#include <gdiplus.h>

#include <cstring>

#include "base/logging.h"
#include "base/scoped_generic.h"

namespace installer {

namespace {

struct GlobalMemoryTraits {
  static HGLOBAL InvalidValue() { return nullptr; }
  static void Free(HGLOBAL& memory) { ::GlobalFree(memory); }
};
using ScopedGlobalMemory = base::ScopedGeneric<HGLOBAL, GlobalMemoryTraits>;

struct GdiplusTraits {
  static ULONG_PTR InvalidValue() { return 0; }
  static void Free(ULONG_PTR& token) { Gdiplus::GdiplusShutdown(token); }
};
using ScopedGdiplus = base::ScopedGeneric<ULONG_PTR, GdiplusTraits>;

struct GdiplusBitmapTraits {
  static Gdiplus::GpBitmap* InvalidValue() { return nullptr; }
  static void Free(Gdiplus::GpBitmap*& bitmap) { Gdiplus::DllExports::GdipDisposeImage(bitmap); }
};
using ScopedGdiplusBitmap = base::ScopedGeneric<Gdiplus::GpBitmap*, GdiplusBitmapTraits>;

}  // namespace

base::win::ComPtr<IStream> LoadResourceStream(const wchar_t* name, const wchar_t* type) {
  HMODULE host = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(host, name, type);
  if (!resource) {
    PLOG(ERROR) << "Image resource " << reinterpret_cast<uintptr_t>(name) << " not found";
    return {};
  }
  const DWORD size = ::SizeofResource(host, resource);
  HGLOBAL loaded = ::LoadResource(host, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data || size == 0) {
    PLOG(ERROR) << "Loading image resource " << reinterpret_cast<uintptr_t>(name) << " failed";
    return {};
  }
  ScopedGlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, size));
  void* copy = memory.IsValid() ? ::GlobalLock(memory.Get()) : nullptr;
  if (!copy) {
    PLOG(ERROR) << "Allocating " << size << " bytes for an image failed";
    return {};
  }
  std::memcpy(copy, data, size);
  ::GlobalUnlock(memory.Get());
  base::win::ComPtr<IStream> stream;
  const HRESULT result = ::CreateStreamOnHGlobal(memory.Get(), TRUE, stream.Receive());
  if (FAILED(result)) {
    LOG(ERROR) << "CreateStreamOnHGlobal failed: 0x" << std::hex << result;
    return {};
  }
  // The stream frees the block from now on.
  (void)memory.Release();
  return stream;
}

HBITMAP LoadBitmapFromResource(int id, const wchar_t* type) {
  base::win::ComPtr<IStream> stream = LoadResourceStream(MAKEINTRESOURCEW(id), type);
  if (!stream.IsValid())
    return nullptr;
  Gdiplus::GdiplusStartupInput input;
  ScopedGdiplus gdiplus;
  ULONG_PTR token = 0;
  Gdiplus::Status status = Gdiplus::GdiplusStartup(&token, &input, nullptr);
  if (status != Gdiplus::Ok) {
    LOG(ERROR) << "GdiplusStartup failed: " << status;
    return nullptr;
  }
  gdiplus.Reset(token);
  ScopedGdiplusBitmap bitmap;
  Gdiplus::GpBitmap* decoded = nullptr;
  status = Gdiplus::DllExports::GdipCreateBitmapFromStream(stream.Get(), &decoded);
  if (status != Gdiplus::Ok) {
    LOG(ERROR) << "Decoding image resource " << id << " failed: " << status;
    return nullptr;
  }
  bitmap.Reset(decoded);
  HBITMAP result = nullptr;
  // Background 0 with alpha 0: transparent parts stay transparent.
  status = Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap.Get(), &result, 0);
  if (status != Gdiplus::Ok) {
    LOG(ERROR) << "Converting image resource " << id << " failed: " << status;
    return nullptr;
  }
  return result;
}

bool AlphaBlendBitmap(HDC destination, const RECT& destination_rect, HDC source,
                      const RECT& source_rect) {
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  if (!::AlphaBlend(destination, destination_rect.left, destination_rect.top,
                    destination_rect.right - destination_rect.left,
                    destination_rect.bottom - destination_rect.top, source, source_rect.left,
                    source_rect.top, source_rect.right - source_rect.left,
                    source_rect.bottom - source_rect.top, blend)) {
    LOG(ERROR) << "AlphaBlend failed";
    return false;
  }
  return true;
}

}  // namespace installer
