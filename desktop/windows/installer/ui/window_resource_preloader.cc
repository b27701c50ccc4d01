#include "desktop/windows/installer/ui/window_resource_preloader.h"

#include <atomic>

#include "base/bind.h"
#include "base/logging.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/resource_image.h"

namespace installer {

namespace {

// The libraries that preparing the run and creating the window load: the
// shell's (settings and folders), common controls (the version the host's
// manifest names), rich edit and what it uses, GDI+ and its decoders, and
// the blending functions. They stay loaded, as they would anyway.
constexpr const wchar_t* kWindowLibraries[] = {
    L"shlwapi.dll",  L"shcore.dll", L"shell32.dll", L"comctl32.dll",      L"Msftedit.dll",
    L"riched20.dll", L"usp10.dll",  L"gdiplus.dll", L"windowscodecs.dll", L"msimg32.dll",
};

std::atomic<WindowResourcePreloader*> g_preloader{nullptr};

}  // namespace

WindowResourcePreloader::WindowResourcePreloader()
    : images_{{IDR_LOGO_PNG, L"PNG", ScopedBitmap(), false},
              {IDR_ERROR_BADGE_PNG, L"PNG", ScopedBitmap(), false},
              {IDR_BACKGROUND_JPG, L"JPG", ScopedBitmap(), false}},
      go_on_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_("Window resource preloader",
              base::Bind(&WindowResourcePreloader::Load, base::Unretained(this))) {
  WindowResourcePreloader* expected = nullptr;
  CHECK(g_preloader.compare_exchange_strong(expected, this)) << "Two window resource preloaders";
  // Without the event or the thread the window loads everything itself
  // (both failures are logged where they are found, or by the thread).
  if (!go_on_.IsValid()) {
    PLOG(WARNING) << "Cannot create the window resource preloader's event";
    return;
  }
  thread_.Start();
}

WindowResourcePreloader::~WindowResourcePreloader() {
  if (go_on_.IsValid())
    ::SetEvent(go_on_.Get());
  thread_.Join();
  g_preloader.store(nullptr);
}

void WindowResourcePreloader::DecodeImages() {
  if (!thread_.HasBeenStarted())
    return;
  decode_images_ = true;
  ::SetEvent(go_on_.Get());
}

void WindowResourcePreloader::Load() {
  // A library that does not load here is loaded, and its failure logged,
  // where the run or the window needs it.
  for (const wchar_t* name : kWindowLibraries)
    ::LoadLibraryW(name);
  ::WaitForSingleObject(go_on_.Get(), INFINITE);
  if (!decode_images_)
    return;
  for (Image& image : images_)
    image.bitmap.Reset(LoadBitmapFromResource(image.id, image.type));
}

bool WindowResourcePreloader::Take(int id, HBITMAP* bitmap) {
  if (!decode_images_)
    return false;
  thread_.Join();
  for (Image& image : images_) {
    if (image.id != id || image.taken)
      continue;
    image.taken = true;
    *bitmap = image.bitmap.Release();
    return true;
  }
  return false;
}

// static
HBITMAP WindowResourcePreloader::LoadWindowImage(int id, const wchar_t* type) {
  HBITMAP bitmap = nullptr;
  WindowResourcePreloader* preloader = g_preloader.load();
  if (preloader && preloader->Take(id, &bitmap))
    return bitmap;
  return LoadBitmapFromResource(id, type);
}

}  // namespace installer
