// Drives the window of an installer running in another process, only by
// messages to its controls, the way an accessibility client would: find the
// window, read and check what it shows, click buttons, pick list items and
// answer its message boxes.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_DRIVER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_DRIVER_TEST_SUPPORT_H_

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <string>

#include "base/process.h"

namespace installer {
namespace test {

class InstallerUIDriver {
 public:
  // How long a step waits for the other process before giving up.
  static constexpr DWORD kWaitMs = 60000;

  explicit InstallerUIDriver(DWORD pid) : pid_(pid) {}

  DWORD pid() const { return pid_; }
  HWND window() const { return window_; }

  // The installer's visible main dialog (the one with the logo area),
  // waiting for it to appear; null when it does not.
  HWND WaitForWindow(DWORD timeout_ms = kWaitMs) {
    WaitUntil([this] { return (window_ = FindMainWindow()) != nullptr; }, timeout_ms);
    return window_;
  }

  // A control of the main dialog, else of its options page.
  HWND Control(int id) const {
    if (!window_)
      return nullptr;
    if (HWND control = ::GetDlgItem(window_, id))
      return control;
    HWND options = ::FindWindowExW(window_, nullptr, L"#32770", nullptr);
    return options ? ::GetDlgItem(options, id) : nullptr;
  }

  std::wstring Text(int id) const { return WindowText(Control(id)); }
  bool Visible(int id) const { return ::IsWindowVisible(Control(id)) != FALSE; }
  bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
  bool Ticked(int id) const { return Send(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

  // Posted, so that a click that opens a modal box does not block us.
  void Click(int id) const { ::PostMessageW(Control(id), BM_CLICK, 0, 0); }
  // Posted to the window itself: its title-bar close button.
  void Close() const { ::PostMessageW(window_, WM_CLOSE, 0, 0); }

  // The index of the list item that reads |text|, or -1.
  int FindItem(int id, const std::wstring& text) const {
    HWND combo = Control(id);
    const LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      const LRESULT length = Send(combo, CB_GETLBTEXTLEN, i, 0);
      if (length < 0 || length > 1024)
        continue;
      std::wstring item(static_cast<size_t>(length) + 1, L'\0');
      Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      item.resize(static_cast<size_t>(length));
      if (item == text)
        return static_cast<int>(i);
    }
    return -1;
  }
  // A pick in a drop-down list: the selection, then the notice its dialog
  // gets from the list.
  void Choose(int id, int index) const {
    HWND combo = Control(id);
    Send(combo, CB_SETCURSEL, index, 0);
    ::PostMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  }

  // What typing |text| into the edit part of combo box |id| does: the new
  // text, then the notice its dialog gets from the box.
  void Type(int id, const std::wstring& text) const {
    HWND combo = Control(id);
    Send(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ::PostMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_EDITCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  }

  // The text of every visible control of the window and its options page
  // that shows one, by control id (a combo box shows its edit part or
  // selected item).
  std::map<int, std::wstring> VisibleTexts() const {
    std::map<int, std::wstring> texts;
    if (!window_)
      return texts;
    ::EnumChildWindows(
        window_,
        [](HWND child, LPARAM param) -> BOOL {
          wchar_t class_name[16] = {};
          ::GetClassNameW(child, class_name, 16);
          wchar_t parent_class[16] = {};
          ::GetClassNameW(::GetParent(child), parent_class, 16);
          // The options page itself is a dialog; its controls come next.
          // The edit part inside a combo box is the box's, not a control.
          if (std::wstring(class_name) == L"#32770" || std::wstring(parent_class) != L"#32770" ||
              !::IsWindowVisible(child)) {
            return TRUE;
          }
          const std::wstring text = WindowText(child);
          if (!text.empty())
            (*reinterpret_cast<std::map<int, std::wstring>*>(param))[::GetDlgCtrlID(child)] = text;
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
  }

  // A message box of the process (a dialog without the logo area).
  HWND WaitForMessageBox(DWORD timeout_ms = kWaitMs) const {
    HWND box = nullptr;
    WaitUntil([this, &box] { return (box = FindWindowOfProcess(false)) != nullptr; }, timeout_ms);
    return box;
  }
  static void Answer(HWND box, int button) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
  }

  static std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 5000, &ignored);
    return text;
  }

  static bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms = kWaitMs) {
    const ULONGLONG end = ::GetTickCount64() + timeout_ms;
    while (!condition()) {
      if (::GetTickCount64() > end)
        return false;
      ::Sleep(50);
    }
    return true;
  }

 private:
  struct Search {
    DWORD pid;
    bool main;
    HWND found;
  };

  static LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result))
      return -1;
    return static_cast<LRESULT>(result);
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    wchar_t class_name[16] = {};
    ::GetClassNameW(window, class_name, 16);
    if (pid != search->pid || !::IsWindowVisible(window) || std::wstring(class_name) != L"#32770") {
      return TRUE;
    }
    // The logo area (1000) is the main dialog's alone.
    if ((::GetDlgItem(window, 1000) != nullptr) == search->main) {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }

  HWND FindWindowOfProcess(bool main) const {
    Search search = {pid_, main, nullptr};
    ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND FindMainWindow() const { return FindWindowOfProcess(true); }

  const DWORD pid_;
  HWND window_ = nullptr;
};

// Waits for |process| to end and, meanwhile, ends an interactive run the
// way a user does who closes the window and confirms: the exit code, or -1
// when it did not end within |timeout_ms| (it is then terminated).
inline int WaitClosingInstallerWindow(const base::Process& process, DWORD timeout_ms = 120000) {
  InstallerUIDriver driver(process.Pid());
  bool closed = false;
  const ULONGLONG end = ::GetTickCount64() + timeout_ms;
  int exit_code = -1;
  while (!process.WaitForExitWithTimeout(50, &exit_code)) {
    if (::GetTickCount64() > end) {
      process.Terminate(1, true);
      return -1;
    }
    if (!closed && driver.WaitForWindow(0)) {
      driver.Close();
      closed = true;
    }
    if (closed) {
      if (HWND box = driver.WaitForMessageBox(0))
        InstallerUIDriver::Answer(box, IDYES);
    }
  }
  return exit_code;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_UI_DRIVER_TEST_SUPPORT_H_
