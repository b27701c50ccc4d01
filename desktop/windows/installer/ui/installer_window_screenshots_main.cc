// Writes a picture of every page of the installer window in every interface
// language, for a reviewer to look at them all:
//   installer_window_screenshots.exe <output folder>
// makes <output folder>\<PAGE>\<language tag>.bmp. tools/installer_screenshots.sh
// runs it under Wine and turns the pictures into PNG files and one contact
// sheet per page.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

// Ends a run of the loop once the settings read their folder's status.
class StatusWaiter : public SettingsObserver {
 public:
  explicit StatusWaiter(Settings* settings) : settings_(settings) {
    settings_->AddObserver(this);
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner_.QuitClosure(),
                                                    base::TimeSpan::FromSeconds(30));
    if (settings_->IsFetchingStatus())
      runner_.Run();
  }
  ~StatusWaiter() override { settings_->RemoveObserver(this); }
  void OnSettingsObtained() override { runner_.Quit(); }

 private:
  Settings* settings_;
  base::LoopRunner runner_;
};

// Lets the window paint everything that is pending.
void Settle(HWND window) {
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  base::LoopRunner().RunUntilIdle();
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::Sleep(30);
}

// The window's client area, as the screen shows it, in a 24-bit BMP file.
bool SaveClientArea(HWND window, const base::FilePath& path) {
  RECT client;
  ::GetClientRect(window, &client);
  POINT origin = {0, 0};
  ::ClientToScreen(window, &origin);
  const int width = client.right;
  const int height = client.bottom;
  HDC screen = ::GetDC(nullptr);
  ScopedMemoryDc memory(::CreateCompatibleDC(screen));
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  ScopedBitmap bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bool copied = false;
  if (memory.IsValid() && bitmap.IsValid()) {
    HGDIOBJ previous = ::SelectObject(memory.Get(), bitmap.Get());
    copied = ::BitBlt(memory.Get(), 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    ::SelectObject(memory.Get(), previous);
  }
  ::ReleaseDC(nullptr, screen);
  if (!copied) {
    fwprintf(stderr, L"capturing %ls failed\n", path.value().c_str());
    return false;
  }
  const DWORD row = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD image_size = row * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + image_size;
  std::string file(reinterpret_cast<const char*>(&header), sizeof(header));
  file.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  file.append(static_cast<const char*>(bits), image_size);
  return base::WriteFileBytes(path, file.data(), static_cast<int>(file.size())) ==
         static_cast<int>(file.size());
}

bool Shoot(InstallerWindow* window, const base::FilePath& folder, const std::wstring& tag) {
  const base::FilePath page_folder =
      folder.AppendASCII(InstallerWindow::GetPageName(window->current_page()));
  base::CreateDirectoryTree(page_folder);
  Settle(window->GetHandle());
  return SaveClientArea(window->GetHandle(), page_folder.Append(tag + L".bmp"));
}

bool ShootAll(bool uninstall, const base::FilePath& folder) {
  Settings settings(uninstall, false, false, base::FilePath(), false, false);
  { StatusWaiter wait(&settings); }
  StatsReport report;
  StatsNode node = report.root_node();
  std::unique_ptr<InstallerWindow> window = InstallerWindow::Create(&settings, &node, false);
  if (!window)
    return false;
  bool ok = true;
  for (const std::wstring& tag : GetAvailableLanguages()) {
    *GetUILanguageId() = LanguageTagToLangId(tag);
    window->OnLanguageChanged();
    if (uninstall) {
      window->SetPage(InstallerWindow::kPageUninstall);
      ok &= Shoot(window.get(), folder, tag);
    } else {
      window->SetPage(InstallerWindow::kPageWelcome);
      ok &= Shoot(window.get(), folder, tag);
      window->SetPage(InstallerWindow::kPageTos);
      ok &= Shoot(window.get(), folder, tag);
      window->SetPage(InstallerWindow::kPageOptions);
      ok &= Shoot(window.get(), folder, tag);
      window->ShowProgress(0, 100, false);
      window->SetProgressPos(40);
      window->ShowPhaseText(3);
      ok &= Shoot(window.get(), folder, tag);
      window->ShowError(GetLocalizedString(IDS_ERROR_DOWNLOAD_FAILED), true, "screenshot");
      ok &= Shoot(window.get(), folder, tag);
    }
  }
  return ok;
}

}  // namespace
}  // namespace installer

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: installer_window_screenshots.exe <output folder>\n");
    return 2;
  }
  base::win::ScopedComInitializer com;
  base::MessageLoop loop;
  const base::FilePath folder(argv[1]);
  const bool install = installer::ShootAll(false, folder);
  const bool uninstall = installer::ShootAll(true, folder);
  return install && uninstall ? 0 : 1;
}
