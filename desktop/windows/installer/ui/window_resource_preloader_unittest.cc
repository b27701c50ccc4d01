#include "desktop/windows/installer/ui/window_resource_preloader.h"

#include <windows.h>

#include <string>

#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window_test_support.h"
#include "desktop/windows/installer/ui/resource_image.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The size and the pixels of |bitmap|, to compare two decodes.
std::string Describe(HBITMAP bitmap) {
  BITMAP info = {};
  if (!bitmap || !::GetObjectW(bitmap, sizeof(info), &info))
    return "none";
  std::string bits(static_cast<size_t>(info.bmWidthBytes) * static_cast<size_t>(info.bmHeight),
                   '\0');
  ::GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data());
  return std::to_string(info.bmWidth) + "x" + std::to_string(info.bmHeight) + "x" +
         std::to_string(info.bmBitsPixel) + ":" + bits;
}

struct WindowImage {
  int id;
  const wchar_t* type;
};
constexpr WindowImage kWindowImages[] = {{IDR_LOGO_PNG, L"PNG"},
                                         {IDR_ERROR_BADGE_PNG, L"PNG"},
                                         {IDR_BACKGROUND_JPG, L"JPG"}};

TEST(WindowResourcePreloaderTest, EachImageIsHandedOverOnceAndIsTheOneAskedFor) {
  WindowResourcePreloader preloader;
  preloader.DecodeImages();
  // Asked for in another order than they are decoded in.
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 2; i >= 0; --i) {
      const WindowImage& image = kWindowImages[i];
      ScopedBitmap handed(WindowResourcePreloader::LoadWindowImage(image.id, image.type));
      ScopedBitmap fresh(LoadBitmapFromResource(image.id, image.type));
      ASSERT_TRUE(handed.IsValid()) << "image " << image.id << ", pass " << pass;
      EXPECT_NE(handed.Get(), fresh.Get());
      EXPECT_TRUE(Describe(handed.Get()) == Describe(fresh.Get()))
          << "image " << image.id << ", pass " << pass;
    }
  }
}

TEST(WindowResourcePreloaderTest, BeforeTheLogIsOpenTheWindowDecodesItsOwn) {
  ScopedBitmap handed;
  {
    WindowResourcePreloader preloader;
    handed.Reset(WindowResourcePreloader::LoadWindowImage(IDR_LOGO_PNG, L"PNG"));
    // Ends without ever being let on to the images.
  }
  ScopedBitmap fresh(LoadBitmapFromResource(IDR_LOGO_PNG, L"PNG"));
  ASSERT_TRUE(handed.IsValid());
  EXPECT_TRUE(Describe(handed.Get()) == Describe(fresh.Get()));
}

class WindowWithPreloaderTest : public test::InstallerWindowTestBase {};

TEST_F(WindowWithPreloaderTest, TheWindowTakesThePreloadedImages) {
  WindowResourcePreloader preloader;
  preloader.DecodeImages();
  MakeWindow(false);
  EXPECT_TRUE(window_->has_logo());
  EXPECT_TRUE(window_->has_error_badge());
  EXPECT_TRUE(window_->has_background());
  EXPECT_TRUE(window_->has_composed_background());
  window_.reset();
  // A second window finds none left and decodes its own.
  MakeWindow(false);
  EXPECT_TRUE(window_->has_logo());
  EXPECT_TRUE(window_->has_background());
}

}  // namespace
}  // namespace installer
