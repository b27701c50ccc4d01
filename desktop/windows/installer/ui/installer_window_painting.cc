// The installer window's look: images, fonts, the composed background, the
// logo with its error badge, static controls that show the background
// through, and read-only rich-edit controls without a caret.
#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <string>

#include "base/logging.h"
#include "base/win/crash_hook.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/resource_image.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/window_resource_preloader.h"

namespace installer {

namespace {

// The controls painted with a pattern brush cut from the background: a
// themed check box draws its own background and would show a grey box.
constexpr int kPatternBrushControls[] = {IDC_DELETE_USER_DATA};

// The rich edits that sit on the background.
constexpr int kRichEditControls[] = {IDC_HEADLINE, IDC_TOS_SENTENCE};

constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBlack = 0x000000;

// How far the badge reaches beyond the logo's lower right corner.
constexpr int kBadgeOverhang = 10;

HFONT MakeFont(HDC screen, const wchar_t* face, int points, int weight, DWORD quality,
               DWORD pitch) {
  const int height = -::MulDiv(points, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  HFONT font = ::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, quality, pitch, face);
  if (!font)
    PLOG(ERROR) << "Creating the font " << face << " failed";
  return font;
}

SIZE GetBitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  if (!bitmap || !::GetObjectW(bitmap, sizeof(info), &info))
    return {0, 0};
  return {info.bmWidth, info.bmHeight};
}

// Draws |bitmap| at |x|, |y| with its transparency.
void DrawImage(HDC dc, HBITMAP bitmap, int x, int y) {
  const SIZE size = GetBitmapSize(bitmap);
  ScopedMemoryDc source(::CreateCompatibleDC(dc));
  if (!source.IsValid() || size.cx == 0)
    return;
  HGDIOBJ previous = ::SelectObject(source.Get(), bitmap);
  const RECT from = {0, 0, size.cx, size.cy};
  const RECT to = {x, y, x + size.cx, y + size.cy};
  AlphaBlendBitmap(dc, to, source.Get(), from);
  ::SelectObject(source.Get(), previous);
}

}  // namespace

void InstallerWindow::InitialSetUp() {
  HWND dialog = main_dialog_.Get();
  LoadImages();
  CreateFonts();
  SetDialogIcon();

  if (HWND logo = ::GetDlgItem(dialog, IDC_LOGO))
    ::SetWindowSubclass(logo, base::win::GuardedProcedure<&LogoPainterProc>, 0,
                        reinterpret_cast<DWORD_PTR>(this));
  ::SendDlgItemMessageW(dialog, IDC_UNINSTALL_QUESTION, WM_SETFONT,
                        reinterpret_cast<WPARAM>(bold_font_.Get()), FALSE);
  if (HWND sentence = ::GetDlgItem(dialog, IDC_TOS_SENTENCE)) {
    const LRESULT mask = ::SendMessageW(sentence, EM_GETEVENTMASK, 0, 0);
    ::SendMessageW(sentence, EM_SETEVENTMASK, 0, mask | ENM_LINK);
    ::SetWindowSubclass(sentence, base::win::GuardedProcedure<&CaretHiderProc>, 0, 0);
  }
  for (int id : {IDC_THANK_YOU, IDC_INSTALL_FAILED, IDC_UNINSTALL_FAILED}) {
    ::SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(large_font_.Get()),
                          FALSE);
  }
  if (HWND headline = ::GetDlgItem(dialog, IDC_HEADLINE)) {
    ::SetWindowSubclass(headline, base::win::GuardedProcedure<&CaretHiderProc>, 0, 0);
    ::SendMessageW(headline, WM_SETFONT, reinterpret_cast<WPARAM>(headline_font_.Get()), FALSE);
  }

  if (run_immediately_) {
    SetPage(kPageProgress);
    return;
  }
  if (settings_->IsFlagSet(Settings::UNINSTALL_FLAG))
    return;
  HMODULE host = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(host, MAKEINTRESOURCEW(IDR_TERMS_TXT), L"TXT");
  HGLOBAL loaded = resource ? ::LoadResource(host, resource) : nullptr;
  const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (!data) {
    PLOG(ERROR) << "The terms text is missing";
    return;
  }
  SetUtf8Text(::GetDlgItem(dialog, IDC_TERMS_TEXT),
              std::string_view(data, ::SizeofResource(host, resource)));
}

void InstallerWindow::LoadImages() {
  // A missing image only leaves that image out.
  logo_.Reset(WindowResourcePreloader::LoadWindowImage(IDR_LOGO_PNG, L"PNG"));
  error_badge_.Reset(WindowResourcePreloader::LoadWindowImage(IDR_ERROR_BADGE_PNG, L"PNG"));
  background_.Reset(WindowResourcePreloader::LoadWindowImage(IDR_BACKGROUND_JPG, L"JPG"));
}

void InstallerWindow::CreateFonts() {
  HDC screen = ::GetDC(nullptr);
  normal_font_.Reset(MakeFont(screen, L"MS Shell Dlg", 8, 378, DEFAULT_QUALITY, DEFAULT_PITCH));
  bold_font_.Reset(
      MakeFont(screen, L"MS Shell Dlg", 8, FW_BOLD, ANTIALIASED_QUALITY, VARIABLE_PITCH));
  large_font_.Reset(
      MakeFont(screen, L"MS Shell Dlg 2", 14, FW_MEDIUM, ANTIALIASED_QUALITY, VARIABLE_PITCH));
  headline_font_.Reset(
      MakeFont(screen, L"Segoe UI", 22, FW_BLACK, ANTIALIASED_QUALITY, VARIABLE_PITCH));
  ::ReleaseDC(nullptr, screen);
}

void InstallerWindow::SetDialogIcon() {
  HMODULE host = ::GetModuleHandleW(nullptr);
  auto load = [host](int metric_x, int metric_y) {
    return static_cast<HICON>(::LoadImageW(host, MAKEINTRESOURCEW(IDI_INSTALLER), IMAGE_ICON,
                                           ::GetSystemMetrics(metric_x),
                                           ::GetSystemMetrics(metric_y), LR_DEFAULTCOLOR));
  };
  HICON small_icon = load(SM_CXSMICON, SM_CYSMICON);
  HICON big_icon = load(SM_CXICON, SM_CYICON);
  if (!small_icon || !big_icon)
    PLOG(ERROR) << "Loading the window icon failed";
  // The icons these replace were the window's: they go with their holders.
  HWND dialog = main_dialog_.Get();
  ScopedIcon old_small(reinterpret_cast<HICON>(
      ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon))));
  ScopedIcon old_big(reinterpret_cast<HICON>(
      ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon))));
  if (old_small.Get() == small_icon_.Get())
    (void)old_small.Release();
  if (old_big.Get() == big_icon_.Get())
    (void)old_big.Release();
  small_icon_.Reset(small_icon);
  big_icon_.Reset(big_icon);
}

void InstallerWindow::RebuildBackground(bool force) {
  if (composed_background_.IsValid() && !force)
    return;
  HWND dialog = main_dialog_.Get();
  RECT client;
  if (!dialog || !::GetClientRect(dialog, &client) || client.right <= 0 || client.bottom <= 0)
    return;
  HDC window_dc = ::GetDC(dialog);
  ScopedBitmap composed(::CreateCompatibleBitmap(window_dc, client.right, client.bottom));
  ScopedMemoryDc target(::CreateCompatibleDC(window_dc));
  ScopedMemoryDc source(::CreateCompatibleDC(window_dc));
  ::ReleaseDC(dialog, window_dc);
  if (!composed.IsValid() || !target.IsValid() || !source.IsValid()) {
    LOG(ERROR) << "Composing the window background failed";
    return;
  }
  HGDIOBJ previous_target = ::SelectObject(target.Get(), composed.Get());
  ::FillRect(target.Get(), &client, ::GetSysColorBrush(COLOR_BTNFACE));
  if (background_.IsValid()) {
    const SIZE size = GetBitmapSize(background_.Get());
    HGDIOBJ previous_source = ::SelectObject(source.Get(), background_.Get());
    const RECT from = {0, 0, size.cx, size.cy};
    AlphaBlendBitmap(target.Get(), client, source.Get(), from);
    ::SelectObject(source.Get(), previous_source);
  }
  composed_background_ = std::move(composed);

  // Rich edits draw their own background; they get the colour the
  // background has under their middle.
  for (int id : kRichEditControls) {
    HWND control = ::GetDlgItem(dialog, id);
    if (!control)
      continue;
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const COLORREF colour =
        ::GetPixel(target.Get(), (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    if (colour != CLR_INVALID)
      ::SendMessageW(control, EM_SETBKGNDCOLOR, 0, colour);
  }

  if (::IsThemeActive()) {
    brushes_.clear();
    for (int id : kPatternBrushControls) {
      HWND control = FindControl(id);
      if (!control)
        continue;
      RECT rect;
      ::GetWindowRect(control, &rect);
      ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
      const int width = rect.right - rect.left;
      const int height = rect.bottom - rect.top;
      auto holder = std::make_unique<BrushHolder>();
      holder->bitmap.Reset(::CreateCompatibleBitmap(target.Get(), width, height));
      if (!holder->bitmap.IsValid())
        continue;
      HGDIOBJ previous_source = ::SelectObject(source.Get(), holder->bitmap.Get());
      ::BitBlt(source.Get(), 0, 0, width, height, target.Get(), rect.left, rect.top, SRCCOPY);
      ::SelectObject(source.Get(), previous_source);
      holder->brush.Reset(::CreatePatternBrush(holder->bitmap.Get()));
      if (!holder->brush.IsValid()) {
        PLOG(ERROR) << "Creating the brush of control " << id << " failed";
        continue;
      }
      brushes_[control] = std::move(holder);
    }
  }
  ::SelectObject(target.Get(), previous_target);
}

HBRUSH InstallerWindow::GetControlBrush(HWND control) const {
  auto it = brushes_.find(control);
  return it == brushes_.end() ? nullptr : it->second->brush.Get();
}

bool InstallerWindow::OnEraseBackground(HDC dc) {
  if (current_page_ == kPageOptions)
    return false;
  RebuildBackground(false);
  if (!composed_background_.IsValid())
    return false;
  RECT client;
  ::GetClientRect(main_dialog_.Get(), &client);
  ScopedMemoryDc source(::CreateCompatibleDC(dc));
  if (!source.IsValid())
    return false;
  HGDIOBJ previous = ::SelectObject(source.Get(), composed_background_.Get());
  ::BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), 0, 0, SRCCOPY);
  ::SelectObject(source.Get(), previous);
  return true;
}

INT_PTR InstallerWindow::OnControlColourStatic(HDC dc, HWND control) {
  if (::GetDlgCtrlID(control) == IDC_TERMS_TEXT)
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
  if (dc)
    ::SetTextColor(dc, ::GetDlgCtrlID(control) == IDC_MAIN_RED_TEXT ? kRed : kBlack);
  if (HBRUSH brush = GetControlBrush(control))
    return reinterpret_cast<INT_PTR>(brush);
  if (dc)
    ::SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
}

void InstallerWindow::PaintLogo(HWND control, HDC dc) {
  RECT client;
  ::GetClientRect(control, &client);
  // The control draws its own background, the dialog's under it: otherwise
  // a badge drawn on the error page would stay after leaving it.
  RebuildBackground(false);
  if (composed_background_.IsValid()) {
    POINT origin = {0, 0};
    ::MapWindowPoints(control, main_dialog_.Get(), &origin, 1);
    ScopedMemoryDc source(::CreateCompatibleDC(dc));
    if (source.IsValid()) {
      HGDIOBJ previous = ::SelectObject(source.Get(), composed_background_.Get());
      ::BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), origin.x, origin.y, SRCCOPY);
      ::SelectObject(source.Get(), previous);
    }
  }
  if (!logo_.IsValid())
    return;
  const SIZE logo = GetBitmapSize(logo_.Get());
  const int x = client.right / 2 - logo.cx / 2;
  const int y = client.bottom / 2 - logo.cy / 2;
  DrawImage(dc, logo_.Get(), x, y);
  if (error_page_ && error_badge_.IsValid()) {
    const SIZE badge = GetBitmapSize(error_badge_.Get());
    DrawImage(dc, error_badge_.Get(), x + logo.cx - badge.cx + kBadgeOverhang,
              y + logo.cy - badge.cy + kBadgeOverhang);
  }
}

// static
LRESULT CALLBACK InstallerWindow::LogoPainterProc(HWND control, UINT message, WPARAM wparam,
                                                  LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  if (message != WM_PAINT)
    return ::DefSubclassProc(control, message, wparam, lparam);
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(control, &paint);
  reinterpret_cast<InstallerWindow*>(data)->PaintLogo(control, dc);
  ::EndPaint(control, &paint);
  return 0;
}

// static
LRESULT CALLBACK InstallerWindow::CaretHiderProc(HWND control, UINT message, WPARAM wparam,
                                                 LPARAM lparam, UINT_PTR, DWORD_PTR) {
  if (message == WM_SETFOCUS) {
    ::HideCaret(control);
    return 0;
  }
  return ::DefSubclassProc(control, message, wparam, lparam);
}

}  // namespace installer
