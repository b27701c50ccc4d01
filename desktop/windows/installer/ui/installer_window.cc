#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>

#include <unordered_set>
#include <vector>

#include "base/logging.h"
#include "base/trace_event/trace_site.h"
#include "base/lazy_instance.h"
#include "base/utf_string_conversions.h"
#include "base/win/crash_hook.h"
#include "base/win/windows_version.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/service/user_name.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/system_font_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

constexpr int kPageCount = 6;

// Which page shows which control: welcome, uninstall, terms, options,
// progress, error.
struct PageControl {
  int id;
  bool shown[kPageCount];
};

constexpr PageControl kPageControls[] = {
    {IDC_LOGO, {true, true, false, false, true, true}},
    {IDC_TERMS_TEXT, {false, false, true, false, false, false}},
    {IDC_BACK_BUTTON, {false, false, true, true, false, true}},
    {IDC_HEADLINE, {true, false, false, false, false, false}},
    {IDC_TOS_SENTENCE, {true, false, false, false, false, false}},
    {IDC_OPTIONS_BUTTON, {true, false, false, false, false, false}},
    {IDC_ACCEPT_BUTTON, {true, false, true, true, false, false}},
    {IDC_THANK_YOU, {false, false, false, false, true, false}},
    {IDC_STATUS_TEXT, {false, false, false, false, true, true}},
    {IDC_PROGRESS, {false, false, false, false, true, false}},
    {IDC_INSTALL_FAILED, {false, false, false, false, false, true}},
    {IDC_UNINSTALL_FAILED, {false, false, false, false, false, true}},
    {IDC_RETRY_BUTTON, {false, false, false, false, false, true}},
    {IDC_FULL_PACKAGE_BUTTON, {false, false, false, false, false, true}},
    {IDC_CANCEL_BUTTON, {false, true, false, false, false, false}},
    {IDC_UNINSTALL_BUTTON, {false, true, false, false, false, false}},
    {IDC_DELETE_USER_DATA, {false, true, false, false, false, false}},
    {IDC_UNINSTALL_QUESTION, {false, true, false, false, false, false}},
};

// The buttons that act only while their page shows them.
constexpr int kPageButtons[] = {IDC_OPTIONS_BUTTON,     IDC_BACK_BUTTON,      IDC_ACCEPT_BUTTON,
                                IDC_RETRY_BUTTON,       IDC_UNINSTALL_BUTTON, IDC_CANCEL_BUTTON,
                                IDC_FULL_PACKAGE_BUTTON};

// The control focused when a page appears; 0 for none.
constexpr int kPageFocus[kPageCount] = {
    IDC_ACCEPT_BUTTON, IDC_UNINSTALL_BUTTON, IDC_ACCEPT_BUTTON, IDC_ACCEPT_BUTTON, 0,
    IDC_RETRY_BUTTON};

constexpr const char* kPageNames[kPageCount] = {"WELCOME", "UNINSTALL", "TOS",
                                                "OPTIONS", "PROGRESS",  "ERROR"};

// Beyond this distance the bar jumps; closer it steps, so that small
// advances animate.
constexpr int kProgressJump = 10;

constexpr COLORREF kTosSentenceColour = 0x686868;

// Message boxes take their button texts from the system's language; this
// hook gives them the installer's while the box is being activated.
LRESULT CALLBACK LocaliseMessageBoxButtons(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    const std::pair<int, int> buttons[] = {
        {IDYES, IDS_BUTTON_YES}, {IDNO, IDS_BUTTON_NO}, {IDOK, IDS_BUTTON_OK}};
    for (const auto& [button_id, string_id] : buttons) {
      if (HWND button = ::GetDlgItem(box, button_id)) {
        const std::wstring text = GetLocalizedString(string_id);
        if (!text.empty())
          ::SetWindowTextW(button, text.c_str());
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

// A message box with the installer's caption and localised buttons.
int ShowLocalisedMessageBox(HWND owner, const std::wstring& text, UINT type) {
  ScopedHook hook(::SetWindowsHookExW(WH_CBT,
                                      base::win::GuardedProcedure<&LocaliseMessageBoxButtons>,
                                      nullptr, ::GetCurrentThreadId()));
  if (!hook.IsValid())
    PLOG(ERROR) << "Installing the message box hook failed";
  const std::wstring caption = GetLocalizedString(IDS_INSTALLER_CAPTION);
  const int answer = ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  if (answer == 0)
    PLOG(ERROR) << "Showing the message box failed";
  return answer;
}

// The windows that exist. A message box runs its own message loop, in which
// the owner of the window may delete it: the caller checks afterwards.
base::LeakyLazyInstance<std::unordered_set<const InstallerWindow*>> g_live_windows;

std::unordered_set<const InstallerWindow*>& LiveWindows() { return g_live_windows.Get(); }

bool IsAlive(const InstallerWindow* window) { return LiveWindows().count(window) != 0; }

// A delegate may delete the window, and with it the list, from its call:
// the delegates are collected first and the list is not touched after.
void NotifyAll(base::ObserverList<InstallerWindowDelegate>& list,
               void (InstallerWindowDelegate::*method)()) {
  std::vector<InstallerWindowDelegate*> targets;
  for (InstallerWindowDelegate& delegate : list)
    targets.push_back(&delegate);
  for (InstallerWindowDelegate* delegate : targets)
    (delegate->*method)();
}

bool IsVistaOrLater() {
  return base::win::WindowsVersionInfo::GetInstance()->version() >= base::win::VERSION_VISTA;
}

}  // namespace

// static
std::unique_ptr<InstallerWindow> InstallerWindow::Create(Settings* settings, StatsNode* stats,
                                                         bool run_immediately) {
  TRACE_EVENT_SCOPE("toplevel", "InstallerWindow::Create");
  INITCOMMONCONTROLSEX classes = {sizeof(classes), 0xC2FF};
  if (!::InitCommonControlsEx(&classes))
    LOG(ERROR) << "InitCommonControlsEx failed.";
  // The rich-edit window class must stay registered for the process's
  // lifetime, so the library is never unloaded.
  static HMODULE rich_edit = ::LoadLibraryW(L"Msftedit.dll");
  if (!rich_edit)
    LOG(ERROR) << "Loading library Msftedit.dll failed.";

  std::unique_ptr<InstallerWindow> window(new InstallerWindow(settings, stats, run_immediately));
  HMODULE host = ::GetModuleHandleW(nullptr);
  HWND main_dialog = ::CreateDialogParamW(host, MAKEINTRESOURCEW(IDD_INSTALLER_MAIN), nullptr,
                                          base::win::GuardedProcedure<&MainDialogProc>,
                                          reinterpret_cast<LPARAM>(window.get()));
  if (!main_dialog) {
    // A dialog that failed after its first message is already destroyed.
    (void)window->main_dialog_.Release();
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }
  window->options_dialog_ = ::CreateDialogParamW(
      host, MAKEINTRESOURCEW(IDD_INSTALLER_OPTIONS), main_dialog,
      base::win::GuardedProcedure<&OptionsDialogProc>, reinterpret_cast<LPARAM>(window.get()));
  if (!window->options_dialog_) {
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }

  // A run that starts at once is already on the progress page: a start
  // page with an Accept button would let the user start it a second time.
  if (!run_immediately)
    window->SetPage(settings->IsFlagSet(Settings::UNINSTALL_FLAG) ? kPageUninstall : kPageWelcome);
  ::ShowWindow(main_dialog, SW_SHOW);
  // The texts, then the controls once: with the folder's status read, that
  // update refills the path list too.
  window->ApplyTexts();
  window->UpdateControls(!settings->IsFetchingStatus());
  return window;
}

InstallerWindow::InstallerWindow(Settings* settings, StatsNode* stats, bool run_immediately)
    : settings_(settings),
      run_immediately_(run_immediately),
      languages_(GetAvailableLanguages()),
      stats_(stats) {
  if (!run_immediately_)
    settings_->AddObserver(this);
  LiveWindows().insert(this);
}

InstallerWindow::~InstallerWindow() {
  LiveWindows().erase(this);
  tooltip_.Reset();
  if (!run_immediately_)
    settings_->RemoveObserver(this);
  Win32DialogDispatcher::GetInstance()->ClearActiveDialog(main_dialog_.Get());
  // The options dialog is a child and goes with its parent.
  main_dialog_.Reset();
  options_dialog_ = nullptr;
  page_entry_.reset();
  brushes_.clear();
}

void InstallerWindow::OnSettingsChanged() { UpdateControls(false); }

void InstallerWindow::OnSettingsObtained() {
  // A status that is not the chosen folder's (another one is being read)
  // must not put its folder back into the path box.
  UpdateControls(settings_->GetStatus().install_folder() == settings_->GetInstallFolder());
}

// static
const char* InstallerWindow::GetPageName(int32_t page) {
  if (page < 0 || page >= kPageCount)
    return "invalid";
  return kPageNames[page];
}

void InstallerWindow::SetPage(int32_t page) {
  if (page == current_page_)
    return;
  if (page < 0 || page >= kPageCount) {
    LOG(ERROR) << "Cannot show page " << page;
    return;
  }
  page_entry_ = stats_->AddListEntry("ui.page_sequence");
  page_entry_->SetString("page_type", std::string_view(GetPageName(page)));

  HWND dialog = main_dialog_.Get();
  for (const PageControl& row : kPageControls) {
    if (HWND control = ::GetDlgItem(dialog, row.id))
      ::ShowWindow(control, row.shown[page] ? SW_SHOW : SW_HIDE);
  }
  if (settings_->IsFlagSet(Settings::UNINSTALL_FLAG)) {
    ::ShowWindow(::GetDlgItem(dialog, IDC_THANK_YOU), SW_HIDE);
    ::ShowWindow(::GetDlgItem(dialog, IDC_INSTALL_FAILED), SW_HIDE);
  } else {
    ::ShowWindow(::GetDlgItem(dialog, IDC_UNINSTALL_FAILED), SW_HIDE);
  }
  // Focus after showing: a hidden control cannot take it.
  if (kPageFocus[page] != 0) {
    if (HWND focus = ::GetDlgItem(dialog, kPageFocus[page]))
      ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  }
  if (options_dialog_)
    ::ShowWindow(options_dialog_, page == kPageOptions ? SW_SHOW : SW_HIDE);
  error_page_ = page == kPageError;
  ::InvalidateRect(dialog, nullptr, TRUE);
  current_page_ = page;
}

void InstallerWindow::ShowProgress(uint32_t low, uint32_t high, bool marquee) {
  SetPage(kPageProgress);
  HWND bar = ::GetDlgItem(main_dialog_.Get(), IDC_PROGRESS);
  if (!bar)
    return;
  const LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
  if (marquee) {
    ::SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
    return;
  }
  if (style & PBS_MARQUEE) {
    ::SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    ::SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  }
  ::SendMessageW(bar, PBM_SETRANGE32, low, high);
  ::SendMessageW(bar, PBM_SETSTEP, 1, 0);
  ::SendMessageW(bar, PBM_SETPOS, 0, 0);
}

void InstallerWindow::SetProgressPos(uint32_t position) {
  HWND bar = ::GetDlgItem(main_dialog_.Get(), IDC_PROGRESS);
  if (!bar)
    return;
  const int64_t current = static_cast<int64_t>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  const int64_t target = position;
  if (target > current + kProgressJump) {
    ::SendMessageW(bar, PBM_SETPOS, position, 0);
  } else {
    for (int64_t i = current; i < target; ++i)
      ::SendMessageW(bar, PBM_STEPIT, 0, 0);
  }
}

void InstallerWindow::ShowPhaseText(int phase) {
  std::wstring text;
  if (phase <= 1) {
    text = GetLocalizedString(IDS_PROGRESS_DOWNLOADING);
  } else if (phase == kPhaseExtracting) {
    text = GetLocalizedString(IDS_PROGRESS_EXTRACTING);
  } else if (settings_->IsFlagSet(Settings::UNINSTALL_FLAG)) {
    text = GetLocalizedString(IDS_PROGRESS_UNINSTALLING);
  } else if (!settings_->IsFlagSet(Settings::COPY_ONLY) &&
             !settings_->IsFlagSet(Settings::ALL_USERS_FLAG)) {
    std::wstring name;
    if (!GetCurrentUserDisplayName(&name) || name.empty())
      GetCurrentUserName(&name);
    text = GetLocalizedStringWithReplacement(IDS_PROGRESS_INSTALLING_FOR_USER, name);
  } else {
    text = GetLocalizedString(IDS_PROGRESS_INSTALLING);
  }
  if (text.empty())
    return;
  HWND status = ::GetDlgItem(main_dialog_.Get(), IDC_STATUS_TEXT);
  ::SetWindowTextW(status, text.c_str());
  RepaintControl(status);
}

void InstallerWindow::ShowError(const std::wstring& text, bool offer_full_package,
                                const std::string& reason) {
  SetPage(kPageError);
  HWND dialog = main_dialog_.Get();
  ::ShowWindow(::GetDlgItem(dialog, IDC_FULL_PACKAGE_BUTTON),
               offer_full_package ? SW_SHOW : SW_HIDE);
  LOG(INFO) << "Displaying error: \"" << text << "\" and " << (offer_full_package ? "" : "don't ")
            << "offer full package";
  if (run_immediately_ || settings_->IsFlagSet(Settings::UNINSTALL_FLAG))
    ::ShowWindow(::GetDlgItem(dialog, IDC_BACK_BUTTON), SW_HIDE);
  HWND status = ::GetDlgItem(dialog, IDC_STATUS_TEXT);
  ::SetWindowTextW(status, text.c_str());
  RepaintControl(status);
  stats_->SetString("failure_reason", std::string_view(reason));
}

void InstallerWindow::ShowFatalMessage(const std::wstring& text) {
  ShowLocalisedMessageBox(main_dialog_.Get(), text, MB_OK | MB_ICONERROR);
  if (!IsAlive(this))
    return;
  stats_->SetString("error_displayed", std::wstring_view(text));
  NotifyAll(delegates_, &InstallerWindowDelegate::OnCancel);
}

void InstallerWindow::ShowCancelConfirmation() {
  const int question = settings_->IsFlagSet(Settings::UNINSTALL_FLAG)
                           ? IDS_CANCEL_UNINSTALL_QUESTION
                           : IDS_CANCEL_INSTALL_QUESTION;
  const int answer = ShowLocalisedMessageBox(main_dialog_.Get(), GetLocalizedString(question),
                                             MB_YESNO | MB_ICONQUESTION);
  if (answer != IDYES || !IsAlive(this))
    return;
  RecordNavigation("CANCEL");
  NotifyAll(delegates_, &InstallerWindowDelegate::OnCancel);
}

void InstallerWindow::RecordNavigation(const char* action) {
  if (!page_entry_)
    return;
  page_entry_->SetString("navigation_action", std::string_view(action));
  page_entry_->SetTimestampAndElapsed("navigation_time");
}

HWND InstallerWindow::FindControl(int id) const {
  if (HWND control = ::GetDlgItem(main_dialog_.Get(), id))
    return control;
  return options_dialog_ ? ::GetDlgItem(options_dialog_, id) : nullptr;
}

void InstallerWindow::RepaintControl(HWND control) {
  if (!control)
    return;
  // The controls draw over the dialog's background, so the dialog's part
  // under them is repainted too.
  RECT rect;
  ::GetWindowRect(control, &rect);
  HWND parent = ::GetParent(control);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  ::InvalidateRect(parent, &rect, TRUE);
  ::InvalidateRect(control, nullptr, TRUE);
}

bool InstallerWindow::NeedsElevationShield() const {
  const InstallerStatus& status = settings_->GetStatus();
  return status.valid_install_path() &&
         NeedsElevation(settings_->IsFlagSet(Settings::ALL_USERS_FLAG), status.has_write_access());
}

void InstallerWindow::UpdateControls(bool refill_path_list) {
  HWND dialog = main_dialog_.Get();
  const bool shield = NeedsElevationShield();
  const bool vista = IsVistaOrLater();
  if (settings_->IsFlagSet(Settings::UNINSTALL_FLAG)) {
    if (vista)
      Button_SetElevationRequiredState(::GetDlgItem(dialog, IDC_UNINSTALL_BUTTON), shield);
    HWND box = ::GetDlgItem(dialog, IDC_DELETE_USER_DATA);
    ::ShowWindow(box, settings_->IsProfileDeletionAllowed() ? SW_SHOW : SW_HIDE);
    ::CheckDlgButton(dialog, IDC_DELETE_USER_DATA,
                     settings_->IsFlagSet(Settings::DELETE_PROFILE) ? BST_CHECKED : BST_UNCHECKED);
    return;
  }
  const bool usable = settings_->GetStatus().valid_install_path();
  const std::wstring accept = GetLocalizedString(settings_->GetStatus().existing_installation()
                                                     ? IDS_BUTTON_ACCEPT_AND_UPGRADE
                                                     : IDS_BUTTON_ACCEPT_AND_INSTALL);
  HWND accept_button = ::GetDlgItem(dialog, IDC_ACCEPT_BUTTON);
  // A language without a table gives no text: the ones shown stay.
  if (!accept.empty()) {
    ::SetWindowTextW(accept_button, accept.c_str());
    const std::wstring sentence =
        GetLocalizedStringWithReplacement(IDS_TERMS_OF_SERVICE_SENTENCE, accept);
    if (!sentence.empty()) {
      HWND tos = ::GetDlgItem(dialog, IDC_TOS_SENTENCE);
      SetRichTextWithLinks(tos, sentence, kTosSentenceColour);
      BindRichEditFontsToLinkedFaces(tos);
    }
  }
  if (vista) {
    Button_SetElevationRequiredState(accept_button, shield);
    Button_SetElevationRequiredState(::GetDlgItem(dialog, IDC_RETRY_BUTTON), shield);
  }
  UpdateOptionsControls(refill_path_list);
  ::EnableWindow(accept_button, usable);
  ::EnableWindow(::GetDlgItem(dialog, IDC_BACK_BUTTON), usable);
  if (HWND invalid = FindControl(IDC_INVALID_PATH_TEXT)) {
    ::ShowWindow(invalid, usable ? SW_HIDE : SW_SHOW);
    RepaintControl(invalid);
  }
}

// static
INT_PTR CALLBACK InstallerWindow::MainDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  InstallerWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<InstallerWindow*>(lparam);
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    self->main_dialog_.Reset(dialog);
  } else {
    self = reinterpret_cast<InstallerWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  }
  if (!self || !self->main_dialog_.IsValid())
    return FALSE;
  return self->HandleMainMessage(message, wparam, lparam);
}

// static
INT_PTR CALLBACK InstallerWindow::OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam,
                                                    LPARAM lparam) {
  InstallerWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<InstallerWindow*>(lparam);
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    self->options_dialog_ = dialog;
    self->InitOptionsDialog();
    return FALSE;
  }
  self = reinterpret_cast<InstallerWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self)
    return FALSE;
  return self->HandleOptionsMessage(message, wparam, lparam);
}

INT_PTR InstallerWindow::HandleMainMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND dialog = main_dialog_.Get();
  switch (message) {
    case WM_INITDIALOG:
      crash_reporter::MaybeTriggerTestCrash("window");
      InitialSetUp();
      // The page sets the focus itself.
      return FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == EN_LINK) {
        const ENLINK* link = reinterpret_cast<const ENLINK*>(lparam);
        if (link->msg == WM_LBUTTONUP)
          OnLinkNotification(*link);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE: ShowCancelConfirmation(); return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->SetActiveDialog(dialog);
      else
        Win32DialogDispatcher::GetInstance()->ClearActiveDialog(dialog);
      return FALSE;
    case WM_ERASEBKGND:
      if (!OnEraseBackground(reinterpret_cast<HDC>(wparam)))
        return FALSE;
      ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return OnControlColourStatic(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* position = reinterpret_cast<const WINDOWPOS*>(lparam);
      const bool unchanged =
          (position->flags & SWP_NOMOVE) != 0 && (position->flags & SWP_NOSIZE) != 0;
      RebuildBackground(!unchanged);
      return FALSE;
    }
    case WM_THEMECHANGED: RebuildBackground(true); return FALSE;
  }
  return FALSE;
}

void InstallerWindow::NotifyAccept() { NotifyAll(delegates_, &InstallerWindowDelegate::OnAccept); }

void InstallerWindow::OnCommand(int id, int notification, HWND control) {
  // Enter presses the dialog's default button even while the page hides
  // it; a hidden button must not start the installation a second time.
  for (int button : kPageButtons) {
    if (id == button && !::IsWindowVisible(::GetDlgItem(main_dialog_.Get(), id)))
      return;
  }
  switch (id) {
    case IDC_OPTIONS_BUTTON:
      RecordNavigation("OPTIONS");
      SetPage(kPageOptions);
      return;
    case IDC_BACK_BUTTON:
      RecordNavigation("BACK");
      SetPage(kPageWelcome);
      return;
    case IDC_ACCEPT_BUTTON:
      RecordNavigation("ACCEPT");
      NotifyAccept();
      return;
    case IDC_RETRY_BUTTON:
      RecordNavigation("RETRY");
      NotifyAccept();
      return;
    case IDC_UNINSTALL_BUTTON:
      RecordNavigation("UNINSTALL");
      NotifyAccept();
      return;
    case IDC_FULL_PACKAGE_BUTTON:
      RecordNavigation("FULL_PACKAGE");
      NotifyAll(delegates_, &InstallerWindowDelegate::OnGetFullPackage);
      return;
    case IDC_CANCEL_BUTTON: ShowCancelConfirmation(); return;
    case IDC_TERMS_TEXT:
      if (notification == EN_SETFOCUS)
        ::SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(-1), 0);
      return;
    case IDC_MAIN_INSTALL_PATH_COMBO:
      if (notification == CBN_SELCHANGE)
        stats_->Increment("changed_install_path_from_main_screen");
      else if (notification == CBN_EDITCHANGE)
        stats_->Increment("edited_install_path_from_main_screen");
      else
        return;
      OnInstallPathChanged(control);
      return;
    case IDC_MAIN_BROWSE_BUTTON: BrowseForFolder(); return;
    case IDC_DELETE_USER_DATA:
      if (notification == BN_CLICKED) {
        OnCheckBoxClicked(id);
        RepaintControl(control);
      }
      return;
  }
}

void InstallerWindow::OnLinkNotification(const ENLINK& link) {
  const std::wstring address = GetLinkAddress(link.nmhdr.hwndFrom, link.chrg);
  RecordNavigation("TOS");
  if (address == L"tos")
    SetPage(kPageTos);
}

}  // namespace installer
