// Every text of every interface language fits its control on every page of
// the main dialog and on the options page: each visible control's text is
// measured with the control's font and wrapping against its client
// rectangle, each list item against the part of its combo box that shows
// the selection. A text is measured only when the font (with the fonts
// linked to it) has a glyph for each of its letters: boxes are narrower
// than letters and would pass any width.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "desktop/windows/installer/ui/glyph_coverage_test_support.h"
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
    const bool rich_edit = class_name != L"Button" && class_name != L"Static";
    const std::wstring missing =
        rich_edit ? test::MissingRichEditGlyphs(control)
                  : test::MissingGlyphsWithSystemLinks(dc, font, text, check_drawing_);
    HGDIOBJ previous = ::SelectObject(dc, font);
    RECT needed = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), -1, &needed, flags);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    if (!missing.empty())
      return "no glyph for " + test::DescribeCharacters(missing);
    if (needed.right <= width && needed.bottom <= client.bottom)
      return {};
    std::ostringstream out;
    out << "needs " << needed.right << "x" << needed.bottom << ", has " << width << "x"
        << client.bottom;
    return out.str();
  }

  // Empty when every item of |combo| fits the part of the box that shows
  // the selected one (the drop-down list is as wide), else the first that
  // does not.
  std::string MeasureItems(HWND combo) {
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetComboBoxInfo(combo, &info))
      return "no combo box information";
    // The selected item is drawn inside a small margin of that part.
    const int width = info.rcItem.right - info.rcItem.left - 4;
    const int height = info.rcItem.bottom - info.rcItem.top;
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(combo, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(combo);
    HGDIOBJ previous = ::SelectObject(dc, font);
    std::string result;
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && result.empty(); ++i) {
      const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
      std::wstring item(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
      ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      item.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
      const std::wstring missing =
          test::MissingGlyphsWithSystemLinks(dc, font, item, check_drawing_);
      RECT needed = {0, 0, 0, 0};
      ::DrawTextW(dc, item.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      if (!missing.empty()) {
        result =
            "item " + std::to_string(i) + " has no glyph for " + test::DescribeCharacters(missing);
      } else if (item.empty() || needed.right > width || needed.bottom > height) {
        std::ostringstream out;
        out << "item " << i << " needs " << needed.right << "x" << needed.bottom << ", has "
            << width << "x" << height;
        result = out.str();
      }
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(combo, dc);
    return result;
  }

  // Empty when the mode tooltip's text, wrapped at the tooltip's width,
  // breaks no word and fits the screen's height, else what was measured.
  std::string MeasureTooltip(HWND tooltip, HWND tool_owner, HWND tool) {
    std::wstring text(4096, L'\0');
    TTTOOLINFOW info = {};
    info.cbSize = sizeof(info);
    info.hwnd = tool_owner;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = text.data();
    ::SendMessageW(tooltip, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&info));
    text.resize(wcslen(text.c_str()));
    if (text.empty())
      return "no text";
    const int width = static_cast<int>(::SendMessageW(tooltip, TTM_GETMAXTIPWIDTH, 0, 0));
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(tooltip, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(tooltip);
    const std::wstring missing = test::MissingGlyphsWithSystemLinks(dc, font, text, check_drawing_);
    HGDIOBJ previous = ::SelectObject(dc, font);
    RECT needed = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), -1, &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    ::SelectObject(dc, previous);
    ::ReleaseDC(tooltip, dc);
    if (!missing.empty())
      return "no glyph for " + test::DescribeCharacters(missing);
    RECT work_area = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_area, 0);
    if (width > 0 && needed.right <= width && needed.bottom <= work_area.bottom - work_area.top)
      return {};
    std::ostringstream out;
    out << "needs " << needed.right << "x" << needed.bottom << ", has " << width << "x"
        << (work_area.bottom - work_area.top);
    return out.str();
  }

  void ReportClipped(const std::wstring& tag, int id, const std::string& result) {
    ADD_FAILURE() << "clipped: language " << std::string(tag.begin(), tag.end()) << ", page "
                  << InstallerWindow::GetPageName(window_->current_page()) << ", control " << id
                  << ": " << result;
  }

  // Measures every visible control of the options page: the labels, the
  // buttons, the check boxes, the items of the language and mode lists and
  // the mode list's tooltip. The path box scrolls its text.
  void CheckOptionsPage(const std::wstring& tag) {
    HWND options = window_->GetOptionsHandle();
    ASSERT_TRUE(::IsWindowVisible(options));
    for (HWND control = ::GetWindow(options, GW_CHILD); control;
         control = ::GetWindow(control, GW_HWNDNEXT)) {
      const int id = ::GetDlgCtrlID(control);
      if (!::IsWindowVisible(control) || id == IDC_INSTALL_PATH_COMBO)
        continue;
      std::string result;
      if (ClassName(control) == L"ComboBox") {
        EXPECT_GT(::SendMessageW(control, CB_GETCOUNT, 0, 0), 0) << "control " << id;
        result = MeasureItems(control);
      } else {
        const std::wstring text = WindowText(control);
        EXPECT_FALSE(text.empty()) << "control " << id;
        result = Measure(control, text);
      }
      if (!result.empty())
        ReportClipped(tag, id, result);
    }
    HWND modes = ::GetDlgItem(options, IDC_MODE_COMBO);
    HWND tooltip = FindTooltip(::GetAncestor(options, GA_ROOT));
    ASSERT_TRUE(tooltip);
    const std::string result = MeasureTooltip(tooltip, options, modes);
    if (!result.empty())
      ReportClipped(tag, IDC_MODE_COMBO, "tooltip " + result);
  }

  // The tooltip window that |owner| owns: a pop-up made for a child window
  // belongs to that window's top-level dialog.
  static HWND FindTooltip(HWND owner) {
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
        if (!result.empty())
          ReportClipped(tag, id, result);
      }
    }
  }

  // Switches the language the way the options page does, which re-applies
  // every text of the window.
  void SetLanguage(const std::wstring& tag) {
    settings_->SetInstallLanguage(tag);
    ASSERT_EQ(LanguageTagToLangId(tag), *GetUILanguageId());
  }

  // The full-installer button has a row of its own above the page's
  // buttons, with its right edge under Try Again's, and stays inside the
  // dialog's margin whatever the length of its text.
  void CheckFullPackageButton(const std::wstring& tag) {
    HWND dialog = window_->GetHandle();
    auto rect_of = [dialog](int id) {
      RECT rect = {};
      ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
      ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
      return rect;
    };
    const RECT full = rect_of(IDC_FULL_PACKAGE_BUTTON);
    const RECT retry = rect_of(IDC_RETRY_BUTTON);
    const RECT status = rect_of(IDC_STATUS_TEXT);
    RECT margin = {10, 0, 10, 0};
    ::MapDialogRect(dialog, &margin);
    RECT client = {};
    ::GetClientRect(dialog, &client);
    const std::string language(tag.begin(), tag.end());
    EXPECT_EQ(retry.right, full.right) << "language " << language;
    EXPECT_LE(full.bottom, retry.top) << "language " << language;
    EXPECT_GE(full.top, status.bottom) << "language " << language;
    EXPECT_GE(full.left, margin.left) << "language " << language;
    EXPECT_GE(full.right - full.left, retry.right - retry.left) << "language " << language;
  }

  void CheckInstallPages() {
    MakeWindow(false, false, base::FilePath(), true);
    const std::vector<std::wstring> tags = GetAvailableLanguages();
    EXPECT_EQ(kLanguageCount, tags.size());
    for (const std::wstring& tag : tags) {
      SetLanguage(tag);
      window_->SetPage(InstallerWindow::kPageWelcome);
      CheckPage(tag, false);
      window_->SetPage(InstallerWindow::kPageTos);
      CheckPage(tag, false);
      window_->SetPage(InstallerWindow::kPageOptions);
      // The invalid-path text shows only for a folder that cannot be used;
      // its text must fit anyway.
      ::ShowWindow(::GetDlgItem(window_->GetOptionsHandle(), IDC_INVALID_PATH_TEXT), SW_SHOW);
      CheckPage(tag, false);
      CheckOptionsPage(tag);
      window_->ShowProgress(0, 10, false);
      CheckPage(tag, true);
      window_->ShowError(L"", true, "layout");
      CheckPage(tag, true);
      CheckFullPackageButton(tag);
    }
  }

  void CheckUninstallPages() {
    MakeWindow(true, false, base::FilePath(), true);
    // The delete-user-data box shows only where deleting is allowed; its
    // text must fit anyway.
    ::ShowWindow(::GetDlgItem(window_->GetHandle(), IDC_DELETE_USER_DATA), SW_SHOW);
    for (const std::wstring& tag : GetAvailableLanguages()) {
      SetLanguage(tag);
      window_->SetPage(InstallerWindow::kPageUninstall);
      ::ShowWindow(::GetDlgItem(window_->GetHandle(), IDC_DELETE_USER_DATA), SW_SHOW);
      CheckPage(tag, false);
      window_->ShowProgress(0, 10, false);
      CheckPage(tag, true);
      window_->ShowError(L"", false, "layout");
      CheckPage(tag, true);
    }
  }

  // Besides each letter's glyph in the font or its links, the drawn text is
  // searched for boxes.
  bool check_drawing_ = false;
  test::ScopedUILanguage language_{L"en"};
};

// The check finds the letters the dialog font lacks, and takes them from
// the linked fonts only while the link that has them is there: without the
// fonts the suite's prefix links, every text of these languages would show
// boxes and fail.
TEST_F(InstallerWindowLayoutTest, GlyphCheckNeedsTheLinkThatHasTheLetters) {
  ASSERT_FALSE(test::WineReplacedTheDialogFontLinks())
      << "Wine has replaced the dialog fonts' links with its own: a process with other code "
         "pages has run in this prefix since it was linked";
  MakeWindow(false, false, base::FilePath(), true);
  HWND dialog = window_->GetHandle();
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
  HDC dc = ::GetDC(dialog);
  const std::wstring face = test::FaceOf(dc, font);
  const std::vector<std::wstring> links = LinkedFacesOf(face);
  EXPECT_FALSE(links.empty()) << "no fonts linked to " << std::string(face.begin(), face.end());
  for (const wchar_t* tag :
       {L"ja", L"ko", L"zh-TW", L"zh-CN", L"th", L"hi", L"bn", L"pa", L"ta", L"te"}) {
    const std::wstring text = GetLocalizedStringForLanguage(tag, IDS_INSTALLER_CAPTION) +
                              GetLocalizedStringForLanguage(tag, IDS_HEADLINE);
    const std::string language(tag, tag + wcslen(tag));
    ASSERT_FALSE(text.empty()) << language;
    EXPECT_NE(L"", test::MissingGlyphs(dc, font, text, {})) << language << " needs no link";
    EXPECT_EQ("", test::DescribeCharacters(test::MissingGlyphs(dc, font, text, links))) << language;
    // Some link supplies the letters: without it they are missing again.
    bool some_link_needed = false;
    for (size_t i = 0; i < links.size() && !some_link_needed; ++i) {
      std::vector<std::wstring> fewer = links;
      fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
      some_link_needed = !test::MissingGlyphs(dc, font, text, fewer).empty();
    }
    EXPECT_TRUE(some_link_needed) << language;
  }
  ::ReleaseDC(dialog, dc);
}

TEST_F(InstallerWindowLayoutTest, EveryTextOfEveryLanguageFitsTheInstallPages) {
  CheckInstallPages();
}

TEST_F(InstallerWindowLayoutTest, EveryTextOfEveryLanguageFitsTheUninstallPages) {
  CheckUninstallPages();
}

// What text output really draws: no text of any language comes out as
// boxes. Under Wine 8 a Thai text and a bold text that needs a linked font
// draw as boxes whatever the prefix links (Windows draws them from the
// links); there those are held to the letter-by-letter check alone.
TEST_F(InstallerWindowLayoutTest, EveryTextOfEveryLanguageDrawsWithoutBoxes) {
  check_drawing_ = true;
  CheckInstallPages();
  window_.reset();
  CheckUninstallPages();
}

}  // namespace
}  // namespace installer
