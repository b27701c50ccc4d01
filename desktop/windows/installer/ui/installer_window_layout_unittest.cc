// Every text of every interface language fits its control on every page of
// the main dialog: each visible control's text is measured with the
// control's font and wrapping against its client rectangle.
#include <windows.h>
#include <commctrl.h>

#include <sstream>

#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/installer_window_test_support.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

constexpr size_t kLanguageCount = 56;

// The texts the progress and error pages show in their status line.
constexpr int kStatusTexts[] = {
    IDS_PROGRESS_DOWNLOADING,         IDS_PROGRESS_EXTRACTING,   IDS_PROGRESS_INSTALLING,
    IDS_PROGRESS_INSTALLING_FOR_USER, IDS_PROGRESS_UNINSTALLING, IDS_ERROR_DOWNLOAD_FAILED,
    IDS_ERROR_PACKAGE_CORRUPTED,      IDS_ERROR_INSTALL_FAILED,  IDS_ERROR_UNINSTALL_FAILED,
    IDS_ERROR_INVALID_LOCATION,       IDS_ERROR_CREATE_FOLDER,   IDS_ERROR_INSUFFICIENT_PRIVILEGES,
    IDS_ERROR_ELEVATION_FAILED,       IDS_ERROR_COPY_FILE,       IDS_ERROR_BROWSER_RUNNING,
};

class InstallerWindowLayoutTest : public test::InstallerWindowTestBase {
 protected:
  std::wstring ClassName(HWND control) {
    wchar_t name[64] = {};
    ::GetClassNameW(control, name, 64);
    return name;
  }

  std::wstring WindowText(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
    return text;
  }

  // Empty when |text| fits |control|, else what was measured.
  std::string Measure(HWND control, const std::wstring& text) {
    const std::wstring class_name = ClassName(control);
    const LONG_PTR style = ::GetWindowLongPtrW(control, GWL_STYLE);
    RECT client;
    ::GetClientRect(control, &client);
    int width = client.right;
    UINT flags = DT_CALCRECT;
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    if (class_name == L"Button") {
      const LONG_PTR type = style & BS_TYPEMASK;
      if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
        width -= ::GetSystemMetrics(SM_CXMENUCHECK) + 6;
        flags |= (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
      } else {
        // The push button's frame and focus rectangle.
        width -= 2 * (::GetSystemMetrics(SM_CXEDGE) + 4);
        flags |= DT_SINGLELINE;
      }
    } else if (class_name == L"Static") {
      flags |= DT_WORDBREAK;
      if (style & SS_NOPREFIX)
        flags |= DT_NOPREFIX;
    } else {
      // A rich edit wraps and shows "&" as it is, inside a small margin.
      width -= 4;
      flags |= DT_WORDBREAK | DT_NOPREFIX;
      if (::GetDlgCtrlID(control) == IDC_HEADLINE)
        font = window_->headline_font();
    }
    if (!font)
      font = reinterpret_cast<HFONT>(::SendMessageW(window_->GetHandle(), WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(control);
    HGDIOBJ previous = ::SelectObject(dc, font);
    RECT needed = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), -1, &needed, flags);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    if (needed.right <= width && needed.bottom <= client.bottom)
      return {};
    std::ostringstream out;
    out << "needs " << needed.right << "x" << needed.bottom << ", has " << width << "x"
        << client.bottom;
    return out.str();
  }

  // Measures every visible control of the current page; |status_texts| are
  // measured in the status line too.
  void CheckPage(const std::wstring& tag, bool status_texts) {
    HWND dialog = window_->GetHandle();
    for (HWND control = ::GetWindow(dialog, GW_CHILD); control;
         control = ::GetWindow(control, GW_HWNDNEXT)) {
      // A control that scrolls shows any length of text.
      if (!::IsWindowVisible(control) || control == window_->GetOptionsHandle() ||
          (::GetWindowLongPtrW(control, GWL_STYLE) & WS_VSCROLL))
        continue;
      const int id = ::GetDlgCtrlID(control);
      std::vector<std::wstring> texts = {WindowText(control)};
      if (status_texts && id == IDC_STATUS_TEXT) {
        for (int string_id : kStatusTexts) {
          texts.push_back(GetLocalizedStringWithReplacement(
              string_id, L"C:\\Users\\Administrator\\AppData\\Local\\Velmo"));
        }
      }
      for (const std::wstring& text : texts) {
        if (text.empty())
          continue;
        const std::string result = Measure(control, text);
        if (!result.empty()) {
          ADD_FAILURE() << "clipped: language " << std::string(tag.begin(), tag.end()) << ", page "
                        << InstallerWindow::GetPageName(window_->current_page()) << ", control "
                        << id << ": " << result;
        }
      }
    }
  }

  test::ScopedUILanguage language_{L"en"};
};

TEST_F(InstallerWindowLayoutTest, EveryTextOfEveryLanguageFitsTheInstallPages) {
  MakeWindow(false);
  const std::vector<std::wstring> tags = GetAvailableLanguages();
  EXPECT_EQ(kLanguageCount, tags.size());
  for (const std::wstring& tag : tags) {
    language_.Set(tag);
    window_->OnLanguageChanged();
    window_->SetPage(InstallerWindow::kPageWelcome);
    CheckPage(tag, false);
    window_->SetPage(InstallerWindow::kPageTos);
    CheckPage(tag, false);
    window_->ShowProgress(0, 10, false);
    CheckPage(tag, true);
    window_->ShowError(L"", true, "layout");
    CheckPage(tag, true);
  }
}

TEST_F(InstallerWindowLayoutTest, EveryTextOfEveryLanguageFitsTheUninstallPages) {
  MakeWindow(true);
  // The delete-user-data box shows only where deleting is allowed; its
  // text must fit anyway.
  ::ShowWindow(::GetDlgItem(window_->GetHandle(), IDC_DELETE_USER_DATA), SW_SHOW);
  for (const std::wstring& tag : GetAvailableLanguages()) {
    language_.Set(tag);
    window_->OnLanguageChanged();
    window_->SetPage(InstallerWindow::kPageUninstall);
    ::ShowWindow(::GetDlgItem(window_->GetHandle(), IDC_DELETE_USER_DATA), SW_SHOW);
    CheckPage(tag, false);
    window_->ShowProgress(0, 10, false);
    CheckPage(tag, true);
    window_->ShowError(L"", false, "layout");
    CheckPage(tag, true);
  }
}

}  // namespace
}  // namespace installer
