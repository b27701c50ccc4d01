#include <windows.h>

#include <commctrl.h>

#include <string>

#include "base/threading/loop_runner.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/status_fetch.h"
#include "desktop/windows/installer/service/user_name.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/installer_window_test_support.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {
namespace {

// Holds back the status read of one folder until released (at most a
// minute, so that a failing test never leaves a pool thread stuck).
class ScopedHeldStatusRead {
 public:
  explicit ScopedHeldStatusRead(const base::FilePath& folder) {
    held_folder() = folder;
    release().Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    StatusFetch::SetReadHookForTesting(&Hook);
  }
  ~ScopedHeldStatusRead() {
    Release();
    StatusFetch::SetReadHookForTesting(nullptr);
  }
  void Release() { ::SetEvent(release().Get()); }

 private:
  static void Hook(const base::FilePath& folder) {
    if (folder == held_folder())
      ::WaitForSingleObject(release().Get(), 60000);
  }
  static base::FilePath& held_folder() {
    static base::FilePath folder;
    return folder;
  }
  static base::win::ScopedHandle& release() {
    static base::win::ScopedHandle event;
    return event;
  }
};

class InstallerOptionsPageTest : public test::InstallerWindowTestBase {
 protected:
  void OpenOptions() {
    MakeWindow(false);
    Click(IDC_OPTIONS_BUTTON);
    ASSERT_EQ(InstallerWindow::kPageOptions, window_->current_page());
  }

  // What a user's pick in a list does: the selection, then its notice.
  void Choose(int id, int index) {
    HWND combo = Control(id);
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    ::SendMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  }
  // What typing into the path box does; a list item may still be selected.
  void TypePath(const std::wstring& text) {
    HWND combo = Control(IDC_INSTALL_PATH_COMBO);
    ::SetWindowTextW(combo, text.c_str());
    ::SendMessageW(::GetParent(combo), WM_COMMAND,
                   MAKEWPARAM(IDC_INSTALL_PATH_COMBO, CBN_EDITCHANGE),
                   reinterpret_cast<LPARAM>(combo));
  }
  bool Ticked(int id) { return ::SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  std::wstring ItemText(int id, int index) {
    HWND combo = Control(id);
    wchar_t text[MAX_PATH * 2] = {};
    if (::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= MAX_PATH * 2)
      return L"<too long>";
    ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
  }
  std::wstring Text(int id) {
    wchar_t text[512] = {};
    ::GetWindowTextW(Control(id), text, 512);
    return text;
  }
  int Counter(const char* key) {
    base::AutoLock hold(report_.lock());
    int value = 0;
    report_.root().GetIntegerWithoutPathExpansion(key, &value);
    return value;
  }

  test::ScopedUILanguage language_{L"en"};
};

TEST_F(InstallerOptionsPageTest, ModeAndOptionBoxesGoIntoTheSettingsAndAreCounted) {
  OpenOptions();
  ASSERT_EQ(3, ::SendMessageW(Control(IDC_MODE_COMBO), CB_GETCOUNT, 0, 0));
  std::wstring logon;
  if (GetCurrentUserName(&logon) && !logon.empty()) {
    EXPECT_EQ(GetLocalizedString(IDS_MODE_CURRENT_USER) + L" (" + logon + L")",
              ItemText(IDC_MODE_COMBO, 1));
  }

  Choose(IDC_MODE_COMBO, Settings::kModeStandalone);
  EXPECT_TRUE(settings_->IsFlagSet(Settings::COPY_ONLY));
  Choose(IDC_MODE_COMBO, Settings::kModeCurrentUser);
  EXPECT_FALSE(settings_->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_FALSE(settings_->IsFlagSet(Settings::ALL_USERS_FLAG));
  EXPECT_EQ(2, Counter("changed_install_mode"));

  // Unticking the share-usage box clears both statistics flags.
  if (!Ticked(IDC_SHARE_USAGE_CHECK))
    Click(IDC_SHARE_USAGE_CHECK);
  ASSERT_TRUE(Ticked(IDC_SHARE_USAGE_CHECK));
  EXPECT_TRUE(settings_->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_TRUE(settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
  Click(IDC_SHARE_USAGE_CHECK);
  EXPECT_FALSE(settings_->IsFlagSet(Settings::ENABLE_VELMO_STATS));
  EXPECT_FALSE(settings_->IsFlagSet(Settings::ENABLE_INSTALLER_STATS));
  EXPECT_FALSE(Ticked(IDC_SHARE_USAGE_CHECK));

  const bool import = settings_->IsFlagSet(Settings::IMPORT_BROWSER_DATA);
  Click(IDC_IMPORT_DATA_CHECK);
  EXPECT_NE(import, settings_->IsFlagSet(Settings::IMPORT_BROWSER_DATA));
  EXPECT_EQ(1, Counter("changed_import_data"));
  EXPECT_GE(Counter("changed_enable_stats"), 1);

  // Once the installation has started, a change is undone on screen.
  settings_->SetModifiable(false);
  const bool import_now = settings_->IsFlagSet(Settings::IMPORT_BROWSER_DATA);
  Click(IDC_IMPORT_DATA_CHECK);
  EXPECT_EQ(import_now, settings_->IsFlagSet(Settings::IMPORT_BROWSER_DATA));
  EXPECT_EQ(import_now, Ticked(IDC_IMPORT_DATA_CHECK));
  Choose(IDC_MODE_COMBO, Settings::kModeStandalone);
  EXPECT_FALSE(settings_->IsFlagSet(Settings::COPY_ONLY));
  EXPECT_EQ(Settings::kModeCurrentUser,
            ::SendMessageW(Control(IDC_MODE_COMBO), CB_GETCURSEL, 0, 0));
}

TEST_F(InstallerOptionsPageTest, LanguageChoiceRelabelsEveryControl) {
  OpenOptions();
  HWND languages = Control(IDC_LANGUAGE_COMBO);
  const int count = static_cast<int>(::SendMessageW(languages, CB_GETCOUNT, 0, 0));
  ASSERT_GT(count, 50);
  int german = -1;
  for (int i = 0; i < count; ++i) {
    const auto* tag =
        reinterpret_cast<const wchar_t*>(::SendMessageW(languages, CB_GETITEMDATA, i, 0));
    if (tag && std::wstring(tag) == L"de")
      german = i;
  }
  ASSERT_GE(german, 0);
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", IDS_LANGUAGE_NAME),
            ItemText(IDC_LANGUAGE_COMBO, german));

  Choose(IDC_LANGUAGE_COMBO, german);
  EXPECT_EQ(L"de", settings_->GetInstallLanguage());
  EXPECT_EQ(1, Counter("changed_language"));
  const std::pair<int, int> shown[] = {
      {IDC_BACK_BUTTON, IDS_BUTTON_BACK},
      {IDC_LANGUAGE_LABEL, IDS_LABEL_LANGUAGE},
      {IDC_MODE_LABEL, IDS_LABEL_INSTALL_FOR},
      {IDC_INSTALL_PATH_LABEL, IDS_LABEL_INSTALL_PATH},
      {IDC_BROWSE_BUTTON, IDS_BUTTON_CHANGE_PATH},
      {IDC_IMPORT_DATA_CHECK, IDS_CHECKBOX_IMPORT_DATA},
      {IDC_SHARE_USAGE_CHECK, IDS_CHECKBOX_SHARE_USAGE_DATA},
      {IDC_ACCEPT_BUTTON, IDS_BUTTON_ACCEPT_AND_INSTALL},
  };
  for (const auto& [control, string_id] : shown) {
    const std::wstring german_text = GetLocalizedStringForLanguage(L"de", string_id);
    ASSERT_FALSE(german_text.empty()) << string_id;
    EXPECT_EQ(german_text, Text(control)) << control;
  }
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", IDS_MODE_ALL_USERS), ItemText(IDC_MODE_COMBO, 0));
  // The list itself stays on the chosen language.
  EXPECT_EQ(german, ::SendMessageW(languages, CB_GETCURSEL, 0, 0));
  wchar_t caption[128] = {};
  ::GetWindowTextW(window_->GetHandle(), caption, 128);
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", IDS_INSTALLER_CAPTION), caption);
}

TEST_F(InstallerOptionsPageTest, TypedPathsPickListItemsOrShowTheInvalidState) {
  OpenOptions();
  const std::vector<base::FilePath> defaults = settings_->GetDefaultInstallFolders();
  ASSERT_FALSE(defaults.empty());
  HWND combo = Control(IDC_INSTALL_PATH_COMBO);
  EXPECT_EQ(static_cast<LRESULT>(defaults.size()), ::SendMessageW(combo, CB_GETCOUNT, 0, 0));

  // A default folder typed in another letter case selects its item.
  std::wstring upper = defaults[0].value();
  for (wchar_t& c : upper)
    c = static_cast<wchar_t>(::towupper(c));
  TypePath(upper);
  test::WaitForSettingsObtained(settings_.get());
  EXPECT_EQ(1, Counter("edited_install_path"));
  EXPECT_EQ(0, ::SendMessageW(combo, CB_GETCURSEL, 0, 0));
  EXPECT_TRUE(Visible(IDC_INVALID_PATH_TEXT) == !settings_->GetStatus().valid_install_path());

  // Picking a list item applies that item, not the text typed before.
  if (defaults.size() > 1) {
    ::SendMessageW(combo, CB_SETCURSEL, 1, 0);
    ::SendMessageW(window_->GetOptionsHandle(), WM_COMMAND,
                   MAKEWPARAM(IDC_INSTALL_PATH_COMBO, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
    test::WaitForSettingsObtained(settings_.get());
    EXPECT_EQ(defaults[1], settings_->GetInstallFolder());
    EXPECT_EQ(1, Counter("changed_install_path"));
  }

  // Paths that cannot be installed into: the invalid-path text, no Accept,
  // and the typed text stays as typed.
  for (const std::wstring& bad : {std::wstring(L"CON"), std::wstring(L"relative\\folder"),
                                  L"C:\\" + std::wstring(300, L'a'), std::wstring(L"C:\\a<b>|c")}) {
    TypePath(bad);
    test::WaitForSettingsObtained(settings_.get());
    EXPECT_FALSE(settings_->GetStatus().valid_install_path()) << bad;
    EXPECT_TRUE(Visible(IDC_INVALID_PATH_TEXT)) << bad;
    EXPECT_FALSE(::IsWindowEnabled(Control(IDC_ACCEPT_BUTTON))) << bad;
  }
  EXPECT_EQ(L"C:\\a<b>|c", Text(IDC_INSTALL_PATH_COMBO));
}

// A typed folder whose status has not arrived yet is the chosen one: a mode
// change meanwhile keeps it (it is no default folder), and its status, when
// it comes, leaves the typed text as it is.
TEST_F(InstallerOptionsPageTest, ATypedFolderWinsOverAModeChangeBeforeItsStatus) {
  OpenOptions();
  // Start from the default folder, as a user who has not touched the box.
  HWND combo = Control(IDC_INSTALL_PATH_COMBO);
  ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
  ::SendMessageW(window_->GetOptionsHandle(), WM_COMMAND,
                 MAKEWPARAM(IDC_INSTALL_PATH_COMBO, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
  test::WaitForSettingsObtained(settings_.get());
  ASSERT_EQ(settings_->GetDefaultInstallFolders()[0], settings_->GetInstallFolder());

  const base::FilePath typed = temp_dir_.GetPath().Append(L"Typed Folder");
  ScopedHeldStatusRead held(typed);
  TypePath(typed.value());
  ASSERT_TRUE(settings_->IsFetchingStatus());
  EXPECT_EQ(typed, settings_->GetInstallFolder());
  for (int mode : {Settings::kModeStandalone, Settings::kModeCurrentUser}) {
    Choose(IDC_MODE_COMBO, mode);
    EXPECT_EQ(typed, settings_->GetInstallFolder()) << mode;
    EXPECT_EQ(typed.value(), Text(IDC_INSTALL_PATH_COMBO)) << mode;
  }
  // Whatever else was read meanwhile has arrived; the typed folder's status
  // comes last.
  base::LoopRunner().RunUntilIdle();
  EXPECT_EQ(typed.value(), Text(IDC_INSTALL_PATH_COMBO));
  held.Release();
  ASSERT_TRUE(test::WaitForSettingsObtained(settings_.get()));
  EXPECT_EQ(typed, settings_->GetStatus().install_folder());
  EXPECT_EQ(typed, settings_->GetInstallFolder());
  EXPECT_EQ(typed.value(), Text(IDC_INSTALL_PATH_COMBO));
  EXPECT_FALSE(settings_->IsFlagSet(Settings::COPY_ONLY));
}

}  // namespace
}  // namespace installer
