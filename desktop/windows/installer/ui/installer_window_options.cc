// The options page of the installer window (language, mode, install path
// and three options) and the localised texts of the controls of both
// dialogs. Every change goes straight into the Settings and is counted in
// the statistics; once the settings are frozen, a change is undone on
// screen by updating the controls again.
#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/win/crash_hook.h"
#include "base/win/scoped_co_task_mem.h"
#include "base/win/scoped_com.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/user_name.h"

#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/system_font_links.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

constexpr COLORREF kInvalidPathColour = 0x0000FF;
constexpr LPARAM kModeTooltipWidth = 300;
constexpr LONG kFullPackageButtonPadding = 30;

struct ControlText {
  int control_id;
  int string_id;
};

constexpr ControlText kInstallTexts[] = {
    {IDC_OPTIONS_BUTTON, IDS_BUTTON_OPTIONS},
    {IDC_BACK_BUTTON, IDS_BUTTON_BACK},
    {IDC_LANGUAGE_LABEL, IDS_LABEL_LANGUAGE},
    {IDC_MODE_LABEL, IDS_LABEL_INSTALL_FOR},
    {IDC_INSTALL_PATH_LABEL, IDS_LABEL_INSTALL_PATH},
    {IDC_BROWSE_BUTTON, IDS_BUTTON_CHANGE_PATH},
    {IDC_INVALID_PATH_TEXT, IDS_INVALID_INSTALL_PATH},
    {IDC_DEFAULT_BROWSER_CHECK, IDS_CHECKBOX_DEFAULT_BROWSER},
    {IDC_IMPORT_DATA_CHECK, IDS_CHECKBOX_IMPORT_DATA},
    {IDC_SHARE_USAGE_CHECK, IDS_CHECKBOX_SHARE_USAGE_DATA},
    {IDC_THANK_YOU, IDS_THANK_YOU},
    {IDC_INSTALL_FAILED, IDS_INSTALL_FAILED_TITLE},
    {IDC_RETRY_BUTTON, IDS_BUTTON_TRY_AGAIN},
    {IDC_FULL_PACKAGE_BUTTON, IDS_BUTTON_GET_FULL_INSTALLER},
    {IDC_CANCEL_BUTTON, IDS_BUTTON_CANCEL},
};

constexpr ControlText kUninstallTexts[] = {
    {IDC_BACK_BUTTON, IDS_BUTTON_BACK},
    {IDC_INSTALL_FAILED, IDS_UNINSTALL_FAILED_TITLE},
    {IDC_UNINSTALL_FAILED, IDS_UNINSTALL_FAILED_TITLE},
    {IDC_RETRY_BUTTON, IDS_BUTTON_TRY_AGAIN},
    {IDC_CANCEL_BUTTON, IDS_BUTTON_CANCEL},
    {IDC_UNINSTALL_BUTTON, IDS_BUTTON_UNINSTALL},
    {IDC_UNINSTALL_QUESTION, IDS_UNINSTALL_QUESTION},
    {IDC_DELETE_USER_DATA, IDS_CHECKBOX_DELETE_USER_DATA},
};

}  // namespace

void InstallerWindow::OnLanguageChanged() {
  ApplyTexts();
  // The accept button and the sentence that names it are in the language
  // too.
  UpdateControls(false);
}

void InstallerWindow::ApplyTexts() {
  const bool uninstall = settings_->IsFlagSet(Settings::UNINSTALL_FLAG);
  auto apply = [this](const ControlText& row) {
    HWND control = FindControl(row.control_id);
    std::wstring text = GetLocalizedString(row.string_id);
    if (control && !text.empty())
      ::SetWindowTextW(control, text.c_str());
  };
  if (uninstall) {
    for (const ControlText& row : kUninstallTexts)
      apply(row);
  } else {
    for (const ControlText& row : kInstallTexts)
      apply(row);
  }
  if (HWND headline = FindControl(IDC_HEADLINE)) {
    const std::wstring product = GetLocalizedString(IDS_HEADLINE_PRODUCT);
    const std::wstring text = GetLocalizedStringWithReplacement(IDS_HEADLINE, product);
    ::SetWindowTextW(headline, text.c_str());
    SetTextColour(headline, 0x2C1BFF);
    const size_t at = text.find(product);
    if (!product.empty() && at != std::wstring::npos) {
      CHARRANGE range = {static_cast<LONG>(at), static_cast<LONG>(at + product.size())};
      SetRangeColour(headline, 0, range);
    }
    BindRichEditFontsToLinkedFaces(headline);
  }
  ::SetWindowTextW(main_dialog_.Get(), GetLocalizedString(IDS_INSTALLER_CAPTION).c_str());
  ::InvalidateRect(main_dialog_.Get(), nullptr, TRUE);
  if (!uninstall)
    ApplyOptionsTexts();
}

void InstallerWindow::InitOptionsDialog() {
  if (run_immediately_)
    return;
  HWND dialog = options_dialog_;
  // Windows 8 and later let no program make itself the default browser.
  if (base::win::GetWindowsVersion() >= base::win::VERSION_WIN8)
    ::ShowWindow(::GetDlgItem(dialog, IDC_DEFAULT_BROWSER_CHECK), SW_HIDE);

  if (HWND invalid = ::GetDlgItem(dialog, IDC_INVALID_PATH_TEXT))
    ::SendMessageW(invalid, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font()), TRUE);
  HWND path_combo = ::GetDlgItem(dialog, IDC_INSTALL_PATH_COMBO);
  HWND browse = ::GetDlgItem(dialog, IDC_BROWSE_BUTTON);
  if (path_combo && browse) {
    // The browse button lines up with the path box it belongs to.
    RECT combo_client = {};
    RECT button = {};
    ::GetClientRect(path_combo, &combo_client);
    ::GetWindowRect(browse, &button);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&button), 2);
    ::MoveWindow(browse, button.left, button.top, button.right - button.left,
                 combo_client.bottom - combo_client.top, TRUE);
  }

  HWND mode_combo = ::GetDlgItem(dialog, IDC_MODE_COMBO);
  tooltip_.Reset(::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_USEVISUALSTYLE,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   dialog, nullptr, nullptr, nullptr));
  if (!tooltip_.IsValid() || !mode_combo) {
    LOG(ERROR) << "Could not create the installation mode tooltip";
    return;
  }
  mode_tooltip_text_ = ComposeModeTooltipText();
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(mode_combo);
  tool.lpszText = mode_tooltip_text_.data();
  if (!::SendMessageW(tooltip_.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)))
    LOG(ERROR) << "Could not attach the installation mode tooltip";
  ::SendMessageW(tooltip_.Get(), TTM_SETMAXTIPWIDTH, 0, kModeTooltipWidth);
}

// static
std::wstring InstallerWindow::ComposeModeTooltipText() {
  std::vector<std::wstring> parts;
  for (int id = IDS_MODE_TIP_ALL_USERS_TITLE; id <= IDS_MODE_TIP_STANDALONE_TEXT; ++id)
    parts.push_back(GetLocalizedString(id));
  return base::SubstitutePlaceholders16(L"$1\n\t$2\n\n$3\n\t$4\n\n$5\n\t$6", parts, nullptr);
}

void InstallerWindow::ApplyOptionsTexts() {
  HWND dialog = options_dialog_;
  if (!dialog)
    return;
  HWND languages = ::GetDlgItem(dialog, IDC_LANGUAGE_COMBO);
  if (languages) {
    ::SendMessageW(languages, CB_RESETCONTENT, 0, 0);
    int selected = 0;
    for (size_t i = 0; i < languages_.size(); ++i) {
      const std::wstring name = GetLocalizedStringForLanguage(languages_[i], IDS_LANGUAGE_NAME);
      const LRESULT index =
          ::SendMessageW(languages, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
      if (index < 0 || ::SendMessageW(languages, CB_SETITEMDATA, index,
                                      reinterpret_cast<LPARAM>(languages_[i].c_str())) == CB_ERR) {
        LOG(ERROR) << "Adding item #" << i << "to the language dropdown failed";
        continue;
      }
      if (languages_[i] == settings_->GetInstallLanguage())
        selected = static_cast<int>(index);
    }
    ::SendMessageW(languages, CB_SETCURSEL, selected, 0);
  }

  HWND modes = ::GetDlgItem(dialog, IDC_MODE_COMBO);
  if (modes) {
    const LRESULT previous = ::SendMessageW(modes, CB_GETCURSEL, 0, 0);
    ::SendMessageW(modes, CB_RESETCONTENT, 0, 0);
    std::wstring current_user = GetLocalizedString(IDS_MODE_CURRENT_USER);
    std::wstring logon_name;
    if (GetCurrentUserName(&logon_name) && !logon_name.empty())
      current_user += L" (" + logon_name + L")";
    for (const std::wstring& text : {GetLocalizedString(IDS_MODE_ALL_USERS), current_user,
                                     GetLocalizedString(IDS_MODE_STANDALONE)}) {
      ::SendMessageW(modes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    ::SendMessageW(modes, CB_SETCURSEL, previous == CB_ERR ? 0 : previous, 0);
    if (tooltip_.IsValid()) {
      mode_tooltip_text_ = ComposeModeTooltipText();
      TTTOOLINFOW tool = {};
      tool.cbSize = sizeof(tool);
      tool.hwnd = dialog;
      tool.uId = reinterpret_cast<UINT_PTR>(modes);
      tool.lpszText = mode_tooltip_text_.data();
      ::SendMessageW(tooltip_.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // The full-installer button grows to its text (translations are longer)
  // toward the left, never narrower than Try Again below it, right edges in line.
  HWND full = ::GetDlgItem(main_dialog_.Get(), IDC_FULL_PACKAGE_BUTTON);
  HWND retry = ::GetDlgItem(main_dialog_.Get(), IDC_RETRY_BUTTON);
  if (full && retry) {
    wchar_t text[256] = {};
    ::GetWindowTextW(full, text, 256);
    HDC dc = ::GetDC(full);
    HGDIOBJ old_font = ::SelectObject(dc, normal_font());
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    ::SelectObject(dc, old_font);
    ::ReleaseDC(full, dc);
    RECT full_rect = {};
    RECT retry_rect = {};
    ::GetWindowRect(full, &full_rect);
    ::GetWindowRect(retry, &retry_rect);
    ::MapWindowPoints(HWND_DESKTOP, main_dialog_.Get(), reinterpret_cast<POINT*>(&full_rect), 2);
    const LONG width =
        std::max<LONG>(size.cx + kFullPackageButtonPadding, retry_rect.right - retry_rect.left);
    ::MoveWindow(full, full_rect.right - width, full_rect.top, width,
                 full_rect.bottom - full_rect.top, TRUE);
  }
}

INT_PTR InstallerWindow::HandleOptionsMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORSTATIC: {
      HWND control = reinterpret_cast<HWND>(lparam);
      const int id = ::GetDlgCtrlID(control);
      if (id == IDC_DEFAULT_BROWSER_CHECK || id == IDC_IMPORT_DATA_CHECK ||
          id == IDC_SHARE_USAGE_CHECK) {
        return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
      }
      HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetTextColor(dc, id == IDC_INVALID_PATH_TEXT ? kInvalidPathColour : 0);
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
    }
    case WM_COMMAND:
      OnOptionsCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return TRUE;
  }
  return FALSE;
}

void InstallerWindow::OnOptionsCommand(int id, int notification, HWND control) {
  switch (id) {
    case IDC_LANGUAGE_COMBO: {
      if (notification != CBN_SELCHANGE)
        return;
      stats_->Increment("changed_language");
      const LRESULT index = ::SendMessageW(control, CB_GETCURSEL, 0, 0);
      if (settings_->IsModifiable() && index != CB_ERR) {
        const auto* tag =
            reinterpret_cast<const wchar_t*>(::SendMessageW(control, CB_GETITEMDATA, index, 0));
        if (tag && reinterpret_cast<LRESULT>(tag) != CB_ERR)
          settings_->SetInstallLanguage(tag);
      }
      UpdateControls(false);
      return;
    }
    case IDC_MODE_COMBO: {
      if (notification != CBN_SELCHANGE)
        return;
      stats_->Increment("changed_install_mode");
      if (!settings_->IsModifiable()) {
        UpdateControls(false);
        return;
      }
      const LRESULT index = ::SendMessageW(control, CB_GETCURSEL, 0, 0);
      if (index >= Settings::kModeAllUsers && index <= Settings::kModeStandalone)
        settings_->SetMode(static_cast<int>(index));
      return;
    }
    case IDC_INSTALL_PATH_COMBO:
      if (notification == CBN_SELCHANGE) {
        stats_->Increment("changed_install_path");
        // The edit part still shows the previous text: the picked item is
        // the new one.
        const LRESULT index = ::SendMessageW(control, CB_GETCURSEL, 0, 0);
        if (index != CB_ERR)
          ApplyInstallPath(GetComboItemText(control, index));
      } else if (notification == CBN_EDITCHANGE) {
        stats_->Increment("edited_install_path");
        OnInstallPathChanged(control);
      }
      return;
    case IDC_BROWSE_BUTTON:
      if (notification == BN_CLICKED)
        BrowseForFolder();
      return;
    case IDC_DEFAULT_BROWSER_CHECK:
    case IDC_IMPORT_DATA_CHECK:
    case IDC_SHARE_USAGE_CHECK:
      if (notification == BN_CLICKED) {
        OnCheckBoxClicked(id);
        RepaintControl(control);
      }
      return;
  }
}

void InstallerWindow::UpdateOptionsControls(bool refill_path_list) {
  HWND dialog = options_dialog_;
  if (!dialog)
    return;
  const bool installing = settings_->GetOperation() == Settings::kOperationInstall;
  HWND modes = ::GetDlgItem(dialog, IDC_MODE_COMBO);
  ::EnableWindow(modes, installing);
  int mode = Settings::kModeCurrentUser;
  if (settings_->IsFlagSet(Settings::COPY_ONLY))
    mode = Settings::kModeStandalone;
  else if (settings_->IsFlagSet(Settings::ALL_USERS_FLAG))
    mode = Settings::kModeAllUsers;
  ::SendMessageW(modes, CB_SETCURSEL, mode, 0);

  bool default_browser_enabled = !settings_->IsFlagSet(Settings::COPY_ONLY);
  if (default_browser_enabled && settings_->IsFlagSet(Settings::REPLACE_TARSEL_INSTALLATION) &&
      settings_->GetStatus().existing_installation()) {
    Installation installation(settings_->GetInstallFolder());
    default_browser_enabled = !installation.IsDefaultHandlerFor(L"http", true) &&
                              !installation.IsDefaultHandlerFor(L"http", false);
  }
  ::EnableWindow(::GetDlgItem(dialog, IDC_DEFAULT_BROWSER_CHECK), default_browser_enabled);
  auto tick = [dialog](int id, bool ticked) {
    ::CheckDlgButton(dialog, id, ticked ? BST_CHECKED : BST_UNCHECKED);
  };
  tick(IDC_DEFAULT_BROWSER_CHECK, settings_->IsFlagSet(Settings::DEFAULT_BROWSER));
  tick(IDC_IMPORT_DATA_CHECK, settings_->IsFlagSet(Settings::IMPORT_BROWSER_DATA));
  tick(IDC_SHARE_USAGE_CHECK, settings_->IsFlagSet(Settings::ENABLE_VELMO_STATS) ||
                                  settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
  if (refill_path_list)
    RefillPathList();
}

void InstallerWindow::RefillPathList() {
  HWND combo = FindControl(IDC_INSTALL_PATH_COMBO);
  if (!combo)
    return;
  // What the user typed stays, caret and all, when it names the chosen
  // folder: emptying the list empties the edit part too.
  const std::wstring typed = GetComboText(combo);
  DWORD edit_start = 0;
  DWORD edit_end = 0;
  ::SendMessageW(combo, CB_GETEDITSEL, reinterpret_cast<WPARAM>(&edit_start),
                 reinterpret_cast<LPARAM>(&edit_end));
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  const std::wstring current = settings_->GetInstallFolder().value();
  bool selected = false;
  for (const base::FilePath& folder : settings_->GetDefaultInstallFolders()) {
    const LRESULT index =
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.value().c_str()));
    if (!selected && index >= 0 &&
        base::FilePath::CompareEqualIgnoreCase(folder.value(), current)) {
      ::SendMessageW(combo, CB_SETCURSEL, index, 0);
      selected = true;
    }
  }
  if (selected)
    return;
  if (!typed.empty() && base::FilePath(typed) == settings_->GetInstallFolder()) {
    ::SetWindowTextW(combo, typed.c_str());
    ::SendMessageW(combo, CB_SETEDITSEL, 0, MAKELPARAM(edit_start, edit_end));
    return;
  }
  SelectOrSetComboText(combo, current);
}

// static
void InstallerWindow::SelectOrSetComboText(HWND combo, const std::wstring& text) {
  if (GetComboText(combo) == text)
    return;
  const LRESULT index = ::SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
  // The search ignores case; only an item that is the same text is taken.
  if (index != CB_ERR && GetComboItemText(combo, index) == text) {
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    return;
  }
  ::SetWindowTextW(combo, text.c_str());
}

// static
std::wstring InstallerWindow::GetComboItemText(HWND combo, LRESULT index) {
  const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR)
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied =
      ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
  return text;
}

// static
std::wstring InstallerWindow::GetComboText(HWND combo) {
  // Typing leaves the list's selection where it was: only the edit part
  // tells what the box shows.
  const int length = ::GetWindowTextLengthW(combo);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(combo, text.data(), length + 1)));
  return text;
}

void InstallerWindow::OnCheckBoxClicked(int id) {
  if (!settings_->IsModifiable()) {
    UpdateControls(false);
    return;
  }
  HWND parent = id == IDC_DELETE_USER_DATA ? main_dialog_.Get() : options_dialog_;
  const bool ticked = ::IsDlgButtonChecked(parent, id) == BST_CHECKED;
  switch (id) {
    case IDC_DEFAULT_BROWSER_CHECK:
      stats_->Increment("changed_make_default_browser");
      settings_->SetDefaultBrowser(ticked);
      break;
    case IDC_IMPORT_DATA_CHECK:
      stats_->Increment("changed_import_data");
      settings_->SetImportBrowserData(ticked);
      break;
    case IDC_SHARE_USAGE_CHECK:
      stats_->Increment("changed_enable_stats");
      settings_->SetEnableBrowserStats(ticked);
      settings_->SetEnableInstallerStats(ticked);
      break;
    case IDC_DELETE_USER_DATA:
      stats_->Increment("changed_delete_profile");
      settings_->SetDeleteProfile(ticked);
      break;
  }
}

void InstallerWindow::OnInstallPathChanged(HWND combo) { ApplyInstallPath(GetComboText(combo)); }

void InstallerWindow::ApplyInstallPath(const std::wstring& text) {
  if (!settings_->IsModifiable()) {
    UpdateControls(true);
    return;
  }
  settings_->SetInstallFolderFromString(text);
}

void InstallerWindow::BrowseForFolder() {
  const std::wstring title = GetLocalizedString(IDS_BROWSE_FOR_FOLDER);
  HWND combo = FindControl(IDC_INSTALL_PATH_COMBO);
  const std::wstring start = combo ? GetComboText(combo) : std::wstring();
  BROWSEINFOW info = {};
  info.hwndOwner = main_dialog_.Get();
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
  if (!start.empty()) {
    info.lpfn = base::win::GuardedProcedure<&BrowseCallback>;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
  }
  base::win::ScopedCoTaskMem<PIDLIST_ABSOLUTE> chosen(::SHBrowseForFolderW(&info));
  if (!chosen.IsValid())
    return;
  const std::wstring path = GetParsingName(chosen.Get());
  if (path.empty() || !combo)
    return;
  SelectOrSetComboText(combo, path);
  OnInstallPathChanged(combo);
}

// static
int CALLBACK InstallerWindow::BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED)
    ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

// static
std::wstring InstallerWindow::GetParsingName(const ITEMIDLIST* item) {
  base::win::ComPtr<IShellFolder> desktop;
  if (SUCCEEDED(::SHGetDesktopFolder(desktop.Receive()))) {
    STRRET name = {};
    if (SUCCEEDED(desktop->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)) &&
        name.uType == STRRET_WSTR) {
      base::win::ScopedCoTaskMemString text(name.pOleStr);
      return std::wstring(text.Get());
    }
  }
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(item, path)) {
    LOG(ERROR) << "The chosen folder has no file system path";
    return std::wstring();
  }
  return path;
}

}  // namespace installer
