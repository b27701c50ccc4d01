#include "desktop/windows/installer/ui/installer_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include <vector>

#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window_test_support.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

using test::MessageBoxAnswerer;
using test::ScopedUILanguage;

class InstallerWindowTest : public test::InstallerWindowTestBase {
 protected:
  std::wstring Text(int id) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(Control(id), buffer, 512);
    return buffer;
  }
  int ProgressPos() {
    return static_cast<int>(::SendMessageW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0));
  }
  COLORREF LogoPixel(int x, int y) {
    HWND logo = Control(IDC_LOGO);
    ::RedrawWindow(logo, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    HDC dc = ::GetDC(logo);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::ReleaseDC(logo, dc);
    return colour;
  }

  ScopedUILanguage language_{L"en"};
};

TEST_F(InstallerWindowTest, PagesShowTheirControlsAndRecordTheNavigation) {
  MakeWindow(false);
  EXPECT_EQ(InstallerWindow::kPageWelcome, window_->current_page());
  for (int id : {IDC_LOGO, IDC_HEADLINE, IDC_TOS_SENTENCE, IDC_OPTIONS_BUTTON, IDC_ACCEPT_BUTTON})
    EXPECT_TRUE(Visible(id)) << id;
  for (int id : {IDC_TERMS_TEXT, IDC_BACK_BUTTON, IDC_THANK_YOU, IDC_PROGRESS, IDC_RETRY_BUTTON,
                 IDC_UNINSTALL_BUTTON, IDC_DELETE_USER_DATA})
    EXPECT_FALSE(Visible(id)) << id;
  EXPECT_FALSE(::IsWindowVisible(window_->GetOptionsHandle()));
  EXPECT_EQ(Control(IDC_ACCEPT_BUTTON), ::GetFocus());

  Click(IDC_OPTIONS_BUTTON);
  EXPECT_EQ(InstallerWindow::kPageOptions, window_->current_page());
  EXPECT_TRUE(::IsWindowVisible(window_->GetOptionsHandle()));
  EXPECT_TRUE(Visible(IDC_BACK_BUTTON));
  EXPECT_FALSE(Visible(IDC_OPTIONS_BUTTON));
  EXPECT_FALSE(Visible(IDC_LOGO));
  Click(IDC_BACK_BUTTON);
  EXPECT_EQ(InstallerWindow::kPageWelcome, window_->current_page());
  EXPECT_FALSE(::IsWindowVisible(window_->GetOptionsHandle()));

  // Showing the page already shown records nothing.
  window_->SetPage(InstallerWindow::kPageWelcome);
  window_->SetPage(42);
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "OPTIONS", "WELCOME"}), PageSequence());
  EXPECT_EQ("OPTIONS", StatString(0, "navigation_action"));
  EXPECT_EQ("BACK", StatString(1, "navigation_action"));
  EXPECT_EQ("<none>", StatString(2, "navigation_action"));
  {
    base::AutoLock hold(report_.lock());
    const base::ListValue* list = nullptr;
    ASSERT_TRUE(report_.root().GetListWithoutPathExpansion("ui.page_sequence", &list));
    const base::DictValue* entry = nullptr;
    ASSERT_TRUE(list->GetDictionary(0, &entry));
    EXPECT_TRUE(entry->HasKey("navigation_time.time"));
    EXPECT_TRUE(entry->HasKey("navigation_time.elapsed"));
  }
  EXPECT_STREQ("invalid", InstallerWindow::GetPageName(6));
  EXPECT_STREQ("ERROR", InstallerWindow::GetPageName(5));
}

TEST_F(InstallerWindowTest, ButtonsNotifyTheDelegatesAndErrorsOfferTheFullPackage) {
  MakeWindow(false);
  Click(IDC_ACCEPT_BUTTON);
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ("ACCEPT", StatString(0, "navigation_action"));

  window_->ShowProgress(0, 100, false);
  EXPECT_TRUE(Visible(IDC_THANK_YOU));
  EXPECT_FALSE(Visible(IDC_UNINSTALL_FAILED));
  window_->ShowError(L"The download failed", false, "download_failed");
  EXPECT_EQ(InstallerWindow::kPageError, window_->current_page());
  EXPECT_TRUE(window_->is_error_page());
  EXPECT_FALSE(Visible(IDC_FULL_PACKAGE_BUTTON));
  EXPECT_TRUE(Visible(IDC_RETRY_BUTTON));
  EXPECT_TRUE(Visible(IDC_INSTALL_FAILED));
  EXPECT_FALSE(Visible(IDC_UNINSTALL_FAILED));
  EXPECT_TRUE(Visible(IDC_BACK_BUTTON));
  EXPECT_EQ(L"The download failed", Text(IDC_STATUS_TEXT));
  EXPECT_EQ("download_failed", StatString(-1, "failure_reason"));
  EXPECT_EQ(Control(IDC_RETRY_BUTTON), ::GetFocus());

  Click(IDC_RETRY_BUTTON);
  EXPECT_EQ(2, delegate_.accepts);
  EXPECT_EQ("RETRY", StatString(2, "navigation_action"));
  window_->ShowError(L"Again", true, "unpack_failed");
  EXPECT_TRUE(Visible(IDC_FULL_PACKAGE_BUTTON));
  EXPECT_EQ(L"Again", Text(IDC_STATUS_TEXT));
  Click(IDC_FULL_PACKAGE_BUTTON);
  EXPECT_EQ(1, delegate_.full_packages);
  EXPECT_EQ("FULL_PACKAGE", StatString(2, "navigation_action"));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS", "ERROR"}), PageSequence());
}

TEST_F(InstallerWindowTest, UninstallStartsOnItsPageAndNeverShowsTheInstallTitles) {
  MakeWindow(true);
  EXPECT_EQ(InstallerWindow::kPageUninstall, window_->current_page());
  for (int id : {IDC_LOGO, IDC_UNINSTALL_QUESTION, IDC_UNINSTALL_BUTTON, IDC_CANCEL_BUTTON})
    EXPECT_TRUE(Visible(id)) << id;
  EXPECT_FALSE(Visible(IDC_ACCEPT_BUTTON));
  EXPECT_EQ(GetLocalizedString(IDS_BUTTON_UNINSTALL), Text(IDC_UNINSTALL_BUTTON));
  EXPECT_EQ(Control(IDC_UNINSTALL_BUTTON), ::GetFocus());

  Click(IDC_UNINSTALL_BUTTON);
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ("UNINSTALL", StatString(0, "navigation_action"));
  window_->ShowProgress(0, 10, false);
  EXPECT_FALSE(Visible(IDC_THANK_YOU));
  window_->ShowError(L"Could not remove", false, "uninstall_failed");
  EXPECT_FALSE(Visible(IDC_INSTALL_FAILED));
  EXPECT_TRUE(Visible(IDC_UNINSTALL_FAILED));
  // There is no welcome page to go back to.
  EXPECT_FALSE(Visible(IDC_BACK_BUTTON));
}

TEST_F(InstallerWindowTest, UnusableFolderDisablesAcceptAndShowsTheInvalidPathText) {
  MakeWindow(false, false, base::FilePath(L"relative\\folder"));
  ASSERT_FALSE(settings_->GetStatus().valid_install_path());
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_ACCEPT_BUTTON)));
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_BACK_BUTTON)));
  Click(IDC_OPTIONS_BUTTON);
  EXPECT_TRUE(Visible(IDC_INVALID_PATH_TEXT));

  // A usable folder turns both back on and hides the text.
  ASSERT_TRUE(settings_->SetInstallFolder(temp_dir_.GetPath().Append(L"Velmo")));
  ASSERT_TRUE(test::WaitForSettingsObtained(settings_.get()));
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_ACCEPT_BUTTON)));
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_BACK_BUTTON)));
  EXPECT_FALSE(Visible(IDC_INVALID_PATH_TEXT));
  EXPECT_EQ(GetLocalizedString(IDS_BUTTON_ACCEPT_AND_INSTALL), Text(IDC_ACCEPT_BUTTON));
}

TEST_F(InstallerWindowTest, RunImmediatelyStartsOnTheProgressPageAlone) {
  MakeWindow(false, true);
  EXPECT_EQ(InstallerWindow::kPageProgress, window_->current_page());
  EXPECT_EQ((std::vector<std::string>{"PROGRESS"}), PageSequence());
  EXPECT_FALSE(Visible(IDC_ACCEPT_BUTTON));
  window_->ShowError(L"x", false, "r");
  EXPECT_FALSE(Visible(IDC_BACK_BUTTON));
}

// The owner ends the interface from these calls, deleting the window.
class DeletingDelegate : public InstallerWindowDelegate {
 public:
  explicit DeletingDelegate(std::unique_ptr<InstallerWindow>* window) : window_(window) {}
  void OnAccept() override { window_->reset(); }
  void OnCancel() override { window_->reset(); }
  void OnGetFullPackage() override {}

 private:
  std::unique_ptr<InstallerWindow>* window_;
};

TEST_F(InstallerWindowTest, DelegateMayDeleteTheWindowFromItsCall) {
  MakeWindow(false);
  window_->RemoveDelegate(&delegate_);
  DeletingDelegate deleting(&window_);
  window_->AddDelegate(&deleting);
  window_->AddDelegate(&delegate_);
  HWND dialog = window_->GetHandle();
  Click(IDC_ACCEPT_BUTTON);
  EXPECT_FALSE(window_);
  EXPECT_FALSE(::IsWindow(dialog));
  // Every delegate was told, also after the window was gone.
  EXPECT_EQ(1, delegate_.accepts);

  MakeWindow(false);
  window_->RemoveDelegate(&delegate_);
  window_->AddDelegate(&deleting);
  MessageBoxAnswerer answer_ok(::GetCurrentThreadId(), IDOK);
  window_->ShowFatalMessage(L"fatal");
  answer_ok.Join();
  EXPECT_FALSE(window_);
}

// The window deleted by its owner while the confirmation box is open.
std::unique_ptr<InstallerWindow>* g_window_to_delete = nullptr;
void CALLBACK DeleteWindowOnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  g_window_to_delete->reset();
}

TEST_F(InstallerWindowTest, WindowDeletedWhileAMessageBoxIsOpen) {
  MakeWindow(false);
  g_window_to_delete = &window_;
  ::SetTimer(nullptr, 0, 200, DeleteWindowOnTimer);
  // The box goes with its owner; whatever it answers, the window is gone.
  ::SendMessageW(window_->GetHandle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(window_);
  EXPECT_EQ(0, delegate_.cancels);

  // Nothing of the deleted window is used once its fatal message closes.
  MakeWindow(false);
  ::SetTimer(nullptr, 0, 200, DeleteWindowOnTimer);
  window_->ShowFatalMessage(L"fatal");
  EXPECT_FALSE(window_);
  EXPECT_EQ(0, delegate_.cancels);
  EXPECT_EQ("<none>", StatString(-1, "error_displayed"));
  g_window_to_delete = nullptr;
}

TEST_F(InstallerWindowTest, HiddenButtonsDoNothing) {
  MakeWindow(false);
  window_->ShowProgress(0, 10, false);
  // Enter on the progress page reaches the hidden default button.
  Win32DialogDispatcher dispatcher;
  dispatcher.SetActiveDialog(window_->GetHandle());
  MSG enter = {window_->GetHandle(), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  dispatcher.Dispatch(enter);
  ::SendMessageW(window_->GetHandle(), WM_COMMAND, MAKEWPARAM(IDC_ACCEPT_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDC_ACCEPT_BUTTON)));
  ::SendMessageW(window_->GetHandle(), WM_COMMAND, MAKEWPARAM(IDC_OPTIONS_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDC_OPTIONS_BUTTON)));
  EXPECT_EQ(0, delegate_.accepts);
  EXPECT_EQ(InstallerWindow::kPageProgress, window_->current_page());
  dispatcher.ClearActiveDialog(window_->GetHandle());
}

TEST_F(InstallerWindowTest, ProgressStepsForwardAndNeverBack) {
  MakeWindow(false);
  window_->ShowProgress(0, 200, false);
  EXPECT_EQ(0, ProgressPos());
  window_->SetProgressPos(7);
  EXPECT_EQ(7, ProgressPos());
  window_->SetProgressPos(150);
  EXPECT_EQ(150, ProgressPos());
  window_->SetProgressPos(20);
  EXPECT_EQ(150, ProgressPos());
  window_->SetProgressPos(500);
  EXPECT_EQ(200, ProgressPos());

  window_->ShowProgress(0, 0, true);
  EXPECT_TRUE(::GetWindowLongPtrW(Control(IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE);
  window_->ShowProgress(10, 20, false);
  EXPECT_FALSE(::GetWindowLongPtrW(Control(IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE);
  EXPECT_EQ(10, ProgressPos());
}

TEST_F(InstallerWindowTest, PhaseTextsFollowThePhase) {
  MakeWindow(false);
  ASSERT_TRUE(settings_->SetMode(Settings::kModeAllUsers) ||
              settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
  test::WaitForSettingsObtained(settings_.get());
  window_->ShowPhaseText(3);
  EXPECT_EQ(GetLocalizedString(IDS_PROGRESS_INSTALLING), Text(IDC_STATUS_TEXT));
  ASSERT_TRUE(settings_->SetMode(Settings::kModeCurrentUser));
  test::WaitForSettingsObtained(settings_.get());
  window_->ShowProgress(0, 10, false);
  window_->ShowPhaseText(1);
  EXPECT_EQ(GetLocalizedString(IDS_PROGRESS_DOWNLOADING), Text(IDC_STATUS_TEXT));
  window_->ShowPhaseText(InstallerWindow::kPhaseExtracting);
  EXPECT_EQ(GetLocalizedString(IDS_PROGRESS_EXTRACTING), Text(IDC_STATUS_TEXT));
  // A current-user install names the user.
  window_->ShowPhaseText(3);
  wchar_t user[256] = {};
  DWORD size = 256;
  ASSERT_TRUE(::GetUserNameW(user, &size));
  EXPECT_NE(std::wstring::npos, Text(IDC_STATUS_TEXT).find(user)) << Text(IDC_STATUS_TEXT);
}

TEST_F(InstallerWindowTest, CancelAsksFirstWithButtonsInTheInterfaceLanguage) {
  MakeWindow(false);
  // The settings chose the language from the system's; the test's comes
  // after.
  language_.Set(L"de");
  const DWORD thread = ::GetCurrentThreadId();
  {
    MessageBoxAnswerer answer_no(thread, IDNO);
    ::SendMessageW(window_->GetHandle(), WM_CLOSE, 0, 0);
    answer_no.Join();
    ASSERT_TRUE(answer_no.found());
    ASSERT_EQ(3u, answer_no.texts.size());
    EXPECT_EQ(GetLocalizedString(IDS_BUTTON_YES), answer_no.texts[0]);
    EXPECT_EQ(GetLocalizedString(IDS_BUTTON_NO), answer_no.texts[1]);
    EXPECT_NE(L"&Yes", answer_no.texts[0]);
  }
  EXPECT_EQ(0, delegate_.cancels);
  EXPECT_EQ("<none>", StatString(0, "navigation_action"));
  {
    MessageBoxAnswerer answer_yes(thread, IDYES);
    ::SendMessageW(window_->GetHandle(), WM_CLOSE, 0, 0);
    answer_yes.Join();
    ASSERT_TRUE(answer_yes.found());
  }
  EXPECT_EQ(1, delegate_.cancels);
  EXPECT_EQ("CANCEL", StatString(0, "navigation_action"));

  {
    MessageBoxAnswerer answer_ok(thread, IDOK);
    window_->ShowFatalMessage(L"Kaputt \u00e4");
    answer_ok.Join();
    ASSERT_TRUE(answer_ok.found());
    EXPECT_EQ(GetLocalizedString(IDS_BUTTON_OK), answer_ok.texts[2]);
  }
  EXPECT_EQ(2, delegate_.cancels);
  EXPECT_EQ("Kaputt \xc3\xa4", StatString(-1, "error_displayed"));
}

TEST_F(InstallerWindowTest, UninstallCancelButtonAsksWithTheUninstallQuestion) {
  MakeWindow(true);
  MessageBoxAnswerer answer_yes(::GetCurrentThreadId(), IDYES);
  Click(IDC_CANCEL_BUTTON);
  answer_yes.Join();
  ASSERT_TRUE(answer_yes.found());
  EXPECT_EQ(1, delegate_.cancels);
}

TEST_F(InstallerWindowTest, TermsLinkOpensTheTermsPage) {
  MakeWindow(false);
  HWND sentence = Control(IDC_TOS_SENTENCE);
  const std::wstring link_text = L"Terms of Service";
  FINDTEXTEXW find = {{0, -1}, link_text.c_str(), {0, 0}};
  const LRESULT at = ::SendMessageW(sentence, EM_FINDTEXTEXW, FR_DOWN | FR_MATCHCASE,
                                    reinterpret_cast<LPARAM>(&find));
  ASSERT_GE(at, 0);
  POINTL point = {};
  ::SendMessageW(sentence, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), at + 3);
  const LPARAM where = MAKELPARAM(point.x + 2, point.y + 4);
  ::SendMessageW(sentence, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::SendMessageW(sentence, WM_LBUTTONUP, 0, where);
  EXPECT_EQ(InstallerWindow::kPageTos, window_->current_page());
  EXPECT_EQ("TOS", StatString(0, "navigation_action"));
  EXPECT_TRUE(Visible(IDC_TERMS_TEXT));
  wchar_t terms[64] = {};
  ::GetWindowTextW(Control(IDC_TERMS_TEXT), terms, 64);
  EXPECT_GT(wcslen(terms), 10u);
}

TEST_F(InstallerWindowTest, ImagesFontsIconAndTheBadgeOnlyOnTheErrorPage) {
  MakeWindow(false);
  EXPECT_TRUE(window_->has_logo());
  EXPECT_TRUE(window_->has_error_badge());
  EXPECT_TRUE(window_->has_background());
  EXPECT_TRUE(window_->has_composed_background());
  for (HFONT font : {window_->normal_font(), window_->bold_font(), window_->large_font(),
                     window_->headline_font()})
    EXPECT_TRUE(font);
  EXPECT_TRUE(::SendMessageW(window_->GetHandle(), WM_GETICON, ICON_BIG, 0));
  EXPECT_TRUE(::SendMessageW(window_->GetHandle(), WM_GETICON, ICON_SMALL, 0));
  EXPECT_EQ(window_->large_font(),
            reinterpret_cast<HFONT>(::SendMessageW(Control(IDC_THANK_YOU), WM_GETFONT, 0, 0)));

  // Without visual themes the check box has no pattern brush.
  HWND box = Control(IDC_DELETE_USER_DATA);
  if (::IsThemeActive())
    EXPECT_TRUE(window_->GetControlBrush(box));
  else
    EXPECT_FALSE(window_->GetControlBrush(box));

  // The badge (a red disc, 32 pixels) sits over the logo's (96 pixels)
  // lower right corner and reaches 10 pixels beyond it. The point probed is
  // on the disc left of its white mark, beyond the logo's corner.
  RECT client;
  ::GetClientRect(Control(IDC_LOGO), &client);
  const int logo_x = client.right / 2 - 48;
  const int logo_y = client.bottom / 2 - 48;
  const int badge_x = logo_x + 96 - 32 + 10 + 6;
  const int badge_y = logo_y + 96 - 32 + 10 + 16;
  window_->ShowError(L"x", false, "r");
  const COLORREF on_error = LogoPixel(badge_x, badge_y);
  EXPECT_GT(GetRValue(on_error), 0xC0) << std::hex << on_error;
  EXPECT_LT(GetGValue(on_error), 0x60) << std::hex << on_error;
  // The logo's centre is its blue disc.
  const COLORREF centre = LogoPixel(logo_x + 48, logo_y + 20);
  EXPECT_GT(GetBValue(centre), 0xA0) << std::hex << centre;
  window_->ShowProgress(0, 1, false);
  const COLORREF elsewhere = LogoPixel(badge_x, badge_y);
  EXPECT_FALSE(GetRValue(elsewhere) > 0xC0 && GetGValue(elsewhere) < 0x60) << std::hex << elsewhere;
}

TEST_F(InstallerWindowTest, StaticsShowTheBackgroundThroughAndButtonsAreWhite) {
  MakeWindow(false);
  HWND dialog = window_->GetHandle();
  HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetBkMode(dc, OPAQUE);
  ::SetTextColor(dc, RGB(1, 2, 3));
  const LRESULT status_brush =
      ::SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(Control(IDC_STATUS_TEXT)));
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH)), status_brush);
  EXPECT_EQ(TRANSPARENT, ::GetBkMode(dc));
  EXPECT_EQ(RGB(0, 0, 0), ::GetTextColor(dc));
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW)),
            ::SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(Control(IDC_TERMS_TEXT))));
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH)),
            ::SendMessageW(dialog, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(Control(IDC_ACCEPT_BUTTON))));
  ::DeleteDC(dc);
}

// The delete-user-data box sits on the page's shaded background. Its label is
// painted again whenever the box changes (nothing under it is erased then):
// it must come out exactly as first drawn, never darker with every repaint,
// with or without visual themes.
TEST_F(InstallerWindowTest, UserDataBoxRepaintsOverThePageBackground) {
  MakeWindow(true);
  HWND box = Control(IDC_DELETE_USER_DATA);
  ::ShowWindow(box, SW_SHOW);
  ::RedrawWindow(window_->GetHandle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  auto pixels = [box] {
    RECT client = {};
    ::GetClientRect(box, &client);
    std::vector<COLORREF> seen;
    HDC dc = ::GetDC(box);
    for (LONG y = 0; y < client.bottom; ++y) {
      for (LONG x = 0; x < client.right; ++x)
        seen.push_back(::GetPixel(dc, x, y));
    }
    ::ReleaseDC(box, dc);
    return seen;
  };
  const std::vector<COLORREF> first = pixels();
  ASSERT_FALSE(first.empty());
  // Clicked as a user clicks it, back to unticked, and the focus back where
  // it was.
  for (int i = 0; i < 4; ++i) {
    ::SendMessageW(box, BM_CLICK, 0, 0);
    ::UpdateWindow(box);
  }
  ::SetFocus(Control(IDC_UNINSTALL_BUTTON));
  ::UpdateWindow(box);
  const std::vector<COLORREF> again = pixels();
  size_t differing = 0;
  for (size_t i = 0; i < first.size() && i < again.size(); ++i)
    differing += first[i] != again[i];
  EXPECT_EQ(first.size(), again.size());
  EXPECT_EQ(0u, differing) << "of " << first.size() << " pixels";
}

TEST_F(InstallerWindowTest, ReadOnlySentencesShowNoCaret) {
  MakeWindow(false);
  GUITHREADINFO info = {sizeof(info)};
  // The terms text is an ordinary rich edit: focused, it has the caret.
  window_->SetPage(InstallerWindow::kPageTos);
  ::SetFocus(Control(IDC_TERMS_TEXT));
  ASSERT_TRUE(::GetGUIThreadInfo(::GetCurrentThreadId(), &info));
  EXPECT_EQ(Control(IDC_TERMS_TEXT), info.hwndCaret);
  window_->SetPage(InstallerWindow::kPageWelcome);
  for (int id : {IDC_HEADLINE, IDC_TOS_SENTENCE}) {
    ::SetFocus(Control(id));
    ASSERT_TRUE(::GetGUIThreadInfo(::GetCurrentThreadId(), &info));
    EXPECT_NE(Control(id), info.hwndCaret) << id;
  }
}

TEST_F(InstallerWindowTest, LanguageWithoutATableKeepsTheTextsShown) {
  MakeWindow(false);
  const std::wstring options = Text(IDC_OPTIONS_BUTTON);
  ASSERT_FALSE(options.empty());
  // Klingon has no table and no fallback of its own.
  *GetUILanguageId() = 0x0C7F;
  window_->OnLanguageChanged();
  EXPECT_FALSE(Text(IDC_OPTIONS_BUTTON).empty());
  EXPECT_FALSE(Text(IDC_ACCEPT_BUTTON).empty());
}

TEST_F(InstallerWindowTest, DispatcherGivesTheActiveDialogItsKeys) {
  MakeWindow(false);
  Win32DialogDispatcher dispatcher;
  MSG tab = {Control(IDC_ACCEPT_BUTTON), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
  EXPECT_EQ(Win32DialogDispatcher::kTranslateAndDispatch, dispatcher.Dispatch(tab));
  dispatcher.SetActiveDialog(window_->GetHandle());
  EXPECT_EQ(Win32DialogDispatcher::kConsumed, dispatcher.Dispatch(tab));
  // Keyboard navigation moved the focus on from the Accept button.
  EXPECT_NE(Control(IDC_ACCEPT_BUTTON), ::GetFocus());
  MSG other = {nullptr, WM_USER + 5, 0, 0, 0, {0, 0}};
  EXPECT_EQ(Win32DialogDispatcher::kTranslateAndDispatch, dispatcher.Dispatch(other));

  dispatcher.ClearActiveDialog(window_->GetOptionsHandle());
  EXPECT_EQ(window_->GetHandle(), dispatcher.active_dialog());
  dispatcher.ClearActiveDialog(window_->GetHandle());
  EXPECT_EQ(nullptr, dispatcher.active_dialog());

  // The window makes itself the process's active dialog while it is active.
  Win32DialogDispatcher* process_dispatcher = Win32DialogDispatcher::GetInstance();
  ASSERT_TRUE(process_dispatcher);
  EXPECT_EQ(process_dispatcher, Win32DialogDispatcher::GetInstance());
  ::SendMessageW(window_->GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(window_->GetHandle(), process_dispatcher->active_dialog());
  ::SendMessageW(window_->GetHandle(), WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_EQ(nullptr, process_dispatcher->active_dialog());
}

}  // namespace
}  // namespace installer
