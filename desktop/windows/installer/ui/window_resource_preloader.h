// What the installer window needs before it can be shown and that does not
// depend on anything else of the start-up: its system libraries and its
// images. A front end that will show the window loads them on a thread of
// its own while the main thread still prepares the run (it waits for the
// crash reporter to start and for a probe process, among others), so that
// the window appears sooner.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_RESOURCE_PRELOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_RESOURCE_PRELOADER_H_

#include <windows.h>

#include "base/threading/plain_thread.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"

namespace installer {

class WindowResourcePreloader {
 public:
  // Starts loading the libraries at once. At most one exists at a time.
  WindowResourcePreloader();
  WindowResourcePreloader(const WindowResourcePreloader&) = delete;
  WindowResourcePreloader& operator=(const WindowResourcePreloader&) = delete;
  // Waits for the loading to end; images nobody took are freed.
  ~WindowResourcePreloader();

  // Lets the images be decoded too. Called once the run's log is open: a
  // failure to decode is logged, and must land there.
  void DecodeImages();

  // The image |id| (resource type |type|) for the window, which owns it:
  // the preloaded one when a preloader decodes images (null when it could
  // not be decoded; that was logged), else decoded now.
  static HBITMAP LoadWindowImage(int id, const wchar_t* type);

 private:
  struct Image {
    int id;
    const wchar_t* type;
    ScopedBitmap bitmap;
    bool taken;
  };

  void Load();
  // Hands over the preloaded image |id| after waiting for the loading;
  // false when this preloader has none to give.
  bool Take(int id, HBITMAP* bitmap);

  Image images_[3];
  // Set when the images may be decoded, or when nothing more is wanted.
  base::win::ScopedHandle go_on_;
  bool decode_images_ = false;
  base::PlainThread thread_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WINDOW_RESOURCE_PRELOADER_H_
