// Writes a picture of every page of the installer window in every interface
// language, for a reviewer to look at them all:
//   installer_window_screenshots.exe <output folder>
// makes <output folder>\<PAGE>\<language tag>.bmp, where PAGE is a page's
// name or a state of it (PROGRESS_EXTRACTING, OPTIONS_INVALID_PATH,
// OPTIONS_MODE_TOOLTIP, CANCEL_QUESTION, ...). The program carries the
// host's manifest and switches languages as the options page does, so the
// pictures show what a user sees. tools/installer_screenshots.sh runs it
// under Wine and turns the pictures into PNG files and one contact sheet
// per page.
#include <windows.h>
#include <commctrl.h>

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
#include "desktop/windows/installer/ui/installer_resource_ids.h"
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

// A rectangle of the screen in a 24-bit BMP file.
bool SaveScreenRect(const RECT& area, const base::FilePath& path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
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
    copied = ::BitBlt(memory.Get(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
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

// The window's client area, as the screen shows it.
RECT ClientAreaOnScreen(HWND window) {
  RECT client;
  ::GetClientRect(window, &client);
  ::MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  return client;
}

base::FilePath PicturePath(const base::FilePath& folder, const std::string& state,
                           const std::wstring& tag) {
  const base::FilePath page_folder = folder.AppendASCII(state);
  base::CreateDirectoryTree(page_folder);
  return page_folder.Append(tag + L".bmp");
}

// The window as it is, under the name of its page or of |state|.
bool Shoot(InstallerWindow* window, const base::FilePath& folder, const std::wstring& tag,
           const std::string& state = std::string()) {
  Settle(window->GetHandle());
  return SaveScreenRect(
      ClientAreaOnScreen(window->GetHandle()),
      PicturePath(folder,
                  state.empty() ? InstallerWindow::GetPageName(window->current_page()) : state,
                  tag));
}

// The tooltip window that |owner| owns.
HWND FindTooltip(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search = {owner, nullptr};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[32] = {};
        ::GetClassNameW(window, name, 32);
        if (std::wstring(name) == TOOLTIPS_CLASSW && ::GetWindow(window, GW_OWNER) == s->owner) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The options page with the mode list's tooltip up, as hovering the list
// shows it: the pointer rests on the list until the tooltip appears.
bool ShootModeTooltip(InstallerWindow* window, const base::FilePath& folder,
                      const std::wstring& tag) {
  HWND modes = ::GetDlgItem(window->GetOptionsHandle(), IDC_MODE_COMBO);
  HWND tooltip = FindTooltip(window->GetHandle());
  if (!modes || !tooltip) {
    fwprintf(stderr, L"no mode tooltip (%ls)\n", tag.c_str());
    return false;
  }
  RECT list;
  ::GetWindowRect(modes, &list);
  // Away first, so that coming back is a new hover.
  ::SetCursorPos(0, 0);
  Settle(window->GetHandle());
  ::SetCursorPos((list.left + list.right) / 2, (list.top + list.bottom) / 2);
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (!::IsWindowVisible(tooltip) && ::GetTickCount64() < deadline) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::Sleep(20);
  }
  if (!::IsWindowVisible(tooltip)) {
    fwprintf(stderr, L"the mode tooltip did not show (%ls)\n", tag.c_str());
    return false;
  }
  Settle(window->GetHandle());
  RECT area = ClientAreaOnScreen(window->GetHandle());
  RECT tip;
  ::GetWindowRect(tooltip, &tip);
  ::UnionRect(&area, &area, &tip);
  const bool ok = SaveScreenRect(area, PicturePath(folder, "OPTIONS_MODE_TOOLTIP", tag));
  ::SetCursorPos(0, 0);
  ::SendMessageW(tooltip, TTM_POP, 0, 0);
  return ok;
}

// The cancel question's message box, taken from inside its own message
// loop and then answered No.
struct MessageBoxShot {
  base::FilePath path;
  bool ok = false;
  bool done = false;
};
MessageBoxShot* g_message_box_shot = nullptr;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM param) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window) && ::GetDlgItem(window, IDNO)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK ShootMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
  MessageBoxShot* shot = g_message_box_shot;
  HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
  if (!box || !shot || shot->done)
    return;
  shot->done = true;
  ::KillTimer(nullptr, timer);
  ::RedrawWindow(box, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT area;
  ::GetWindowRect(box, &area);
  shot->ok = SaveScreenRect(area, shot->path);
  ::PostMessageW(box, WM_COMMAND, IDNO, 0);
}

bool ShootCancelQuestion(InstallerWindow* window, const base::FilePath& folder,
                         const std::wstring& tag, const char* state) {
  MessageBoxShot shot;
  shot.path = PicturePath(folder, state, tag);
  g_message_box_shot = &shot;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, ShootMessageBox);
  // The Cancel button of the uninstall page and closing the window of any
  // other page ask the same way.
  ::SendMessageW(window->GetHandle(), WM_CLOSE, 0, 0);
  ::KillTimer(nullptr, timer);
  g_message_box_shot = nullptr;
  if (!shot.ok)
    fwprintf(stderr, L"no picture of the cancel question (%ls)\n", tag.c_str());
  return shot.ok;
}

// The longest progress text names the user the installation is for.
constexpr wchar_t kLongUserName[] = L"Maximilian Alexander Featherstonehaugh-Wolfeschlegel";

bool ShootAll(bool uninstall, const base::FilePath& folder) {
  // The installer's own architecture: its default folder is the 64-bit one.
  Settings settings(uninstall, false, false, base::FilePath(), false, true);
  { StatusWaiter wait(&settings); }
  StatsReport report;
  StatsNode node = report.root_node();
  std::unique_ptr<InstallerWindow> window = InstallerWindow::Create(&settings, &node, false);
  if (!window)
    return false;
  bool ok = true;
  HWND status = ::GetDlgItem(window->GetHandle(), IDC_STATUS_TEXT);
  for (const std::wstring& tag : GetAvailableLanguages()) {
    // As the options page's language list does: the window hears of it and
    // applies every text again.
    settings.SetInstallLanguage(tag);
    if (uninstall) {
      window->SetPage(InstallerWindow::kPageUninstall);
      ok &= Shoot(window.get(), folder, tag);
      ok &= ShootCancelQuestion(window.get(), folder, tag, "UNINSTALL_CANCEL_QUESTION");
      window->ShowProgress(0, 100, false);
      window->SetProgressPos(40);
      window->ShowPhaseText(3);
      ok &= Shoot(window.get(), folder, tag, "PROGRESS_UNINSTALLING");
      window->ShowError(GetLocalizedString(IDS_ERROR_UNINSTALL_FAILED), false, "screenshot");
      ok &= Shoot(window.get(), folder, tag, "UNINSTALL_ERROR");
    } else {
      window->SetPage(InstallerWindow::kPageWelcome);
      ok &= Shoot(window.get(), folder, tag);
      ok &= ShootCancelQuestion(window.get(), folder, tag, "CANCEL_QUESTION");
      window->SetPage(InstallerWindow::kPageTos);
      ok &= Shoot(window.get(), folder, tag);
      window->SetPage(InstallerWindow::kPageOptions);
      ok &= Shoot(window.get(), folder, tag);
      ok &= ShootModeTooltip(window.get(), folder, tag);
      // The red text under the path box, as a folder that cannot be used
      // shows it.
      HWND invalid = ::GetDlgItem(window->GetOptionsHandle(), IDC_INVALID_PATH_TEXT);
      ::ShowWindow(invalid, SW_SHOW);
      ok &= Shoot(window.get(), folder, tag, "OPTIONS_INVALID_PATH");
      ::ShowWindow(invalid, SW_HIDE);
      window->ShowProgress(0, 100, false);
      window->SetProgressPos(40);
      window->ShowPhaseText(1);
      ok &= Shoot(window.get(), folder, tag, "PROGRESS_DOWNLOADING");
      window->ShowPhaseText(2);
      ok &= Shoot(window.get(), folder, tag, "PROGRESS_EXTRACTING");
      ::SetWindowTextW(
          status, GetLocalizedStringWithReplacement(IDS_PROGRESS_INSTALLING_FOR_USER, kLongUserName)
                      .c_str());
      ok &= Shoot(window.get(), folder, tag, "PROGRESS_INSTALLING_FOR_USER");
      ::SetWindowTextW(status, GetLocalizedString(IDS_PROGRESS_INSTALLING).c_str());
      ok &= Shoot(window.get(), folder, tag, "PROGRESS_INSTALLING");
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
