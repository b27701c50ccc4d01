// Interactive runs of the offline installer that a user gets
// (velmo_installer_full.exe, the demo package as its payload) that install
// for real into this machine's registry, shell folders and task scheduler,
// driven only from outside the process through the window's controls; and
// the runs that fail on the way there. Each test takes away what it
// installed (see the fixture), so the machine is left as it was.
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "crypto/secure_hash.h"
#include "desktop/windows/installer/cleanup_batch_test_support.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/user_name.h"
#include "desktop/windows/installer/ui/installer_resource_ids.h"
#include "desktop/windows/installer/ui/installer_ui_interactive_test_support.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"
#include "gtest/gtest.h"
#include "testing/http_server/test_server.h"

namespace installer {
namespace {

using test::InstallerBinFolder;
using test::InstallerUIDriver;

// How long an installation or an uninstallation may take under Wine.
constexpr DWORD kRunTimeoutMs = 180 * 1000;

// The switches of the runs that install: a current user's installation
// without the shortcuts Wine cannot make and without starting the browser at
// the end. Everything else is chosen in the window.
const std::vector<std::wstring> kInstallSwitches = {
    L"--v=1", L"--launchbrowser=0", L"--quicklaunchshortcut=0", L"--pintotaskbar=0"};

// The install folder that this product's Add/Remove Programs entry below
// |root| names; empty when there is no entry.
std::wstring UninstallEntryLocation(HKEY root) {
  base::win::RegistryKey entry;
  if (entry.Open(root, GetUninstallKeyName(L"").c_str(), KEY_READ | KEY_WOW64_32KEY) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  std::wstring location;
  entry.ReadValue(L"InstallLocation", &location);
  return location.empty() ? L"(an entry without a location)" : location;
}

// |markup| without its "<a ...>" and "</a>" tags: what a rich-edit control
// shows of it.
std::wstring WithoutAnchors(std::wstring markup) {
  for (size_t open; (open = markup.find(L"<a")) != std::wstring::npos;)
    markup.erase(open, markup.find(L'>', open) - open + 1);
  for (size_t close; (close = markup.find(L"</a>")) != std::wstring::npos;)
    markup.erase(close, 4);
  return markup;
}

std::wstring WithoutLineBreaks(std::wstring text) {
  std::erase(text, L'\r');
  std::erase(text, L'\n');
  return text;
}

// The recorder program (testing/command_line_recorder.cc) copied to |path|;
// what it writes down when started is read by RecordedCommandLines.
void PlaceRecorder(const base::FilePath& path) {
  ASSERT_TRUE(base::CreateDirectoryTree(path.DirName()));
  ASSERT_TRUE(
      base::CopySingleFile(InstallerBinFolder().Append(L"command_line_recorder.exe"), path));
}

std::wstring RecordedCommandLines(const base::FilePath& recorder) {
  const base::FilePath record(recorder.value() + L".txt");
  std::string bytes;
  if (!base::PathExists(record) || !base::ReadFileToString(record, &bytes))
    return std::wstring();
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

// Sets the program that opens |name| ("https", "http") below |root|'s
// Software\Classes for the test's duration; the key as it was comes back
// afterwards.
class ScopedOpenCommand {
 public:
  ScopedOpenCommand(HKEY root, const std::wstring& name, const std::wstring& command)
      : root_(root), name_(name), class_key_(std::wstring(kClassesKey) + L"\\" + name) {
    base::win::RegistryKey existing;
    existed_ = existing.Open(root_, class_key_.c_str(), KEY_READ) == ERROR_SUCCESS;
    had_command_ = existed_ &&
                   existing.OpenKey(L"shell\\open\\command", KEY_READ) == ERROR_SUCCESS &&
                   existing.ReadValue(L"", &previous_) == ERROR_SUCCESS;
    base::win::RegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS,
              key.Create(root_, (class_key_ + L"\\shell\\open\\command").c_str(), KEY_SET_VALUE));
    EXPECT_EQ(ERROR_SUCCESS, key.WriteValue(L"", command));
  }
  ~ScopedOpenCommand() {
    base::win::RegistryKey key;
    if (!existed_) {
      if (key.Open(root_, kClassesKey, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        key.DeleteKey(name_.c_str());
      return;
    }
    if (key.Open(root_, (class_key_ + L"\\shell\\open\\command").c_str(), KEY_SET_VALUE) !=
        ERROR_SUCCESS) {
      return;
    }
    if (had_command_)
      key.WriteValue(L"", previous_);
    else
      key.DeleteValue(L"");
  }

 private:
  static constexpr wchar_t kClassesKey[] = L"Software\\Classes";

  const HKEY root_;
  const std::wstring name_;
  const std::wstring class_key_;
  bool existed_ = false;
  bool had_command_ = false;
  std::wstring previous_;
};

class InteractiveInstallTest : public test::InteractiveInstallerTest {
 protected:
  base::FilePath FullInstaller() const {
    return InstallerBinFolder().Append(L"velmo_installer_full.exe");
  }

  // A copy of the offline installer (and the engine beside it) in the
  // test's folder, with bytes well inside its packed archive damaged: the
  // payload's trailer is intact, the unpacking finds the damage.
  base::FilePath CorruptedFullInstaller() {
    const base::FilePath folder = temp_.GetPath().Append(L"corrupted");
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    std::string image;
    EXPECT_TRUE(base::ReadFileToString(FullInstaller(), &image));
    const size_t magic = image.rfind("VLM7z");
    EXPECT_NE(std::string::npos, magic);
    if (magic == std::string::npos || magic + 8192 > image.size())
      return base::FilePath();
    for (size_t i = magic + 4096; i < magic + 8192; ++i)
      image[i] = static_cast<char>(image[i] ^ 0x5A);
    const base::FilePath copy = folder.Append(L"velmo_installer_full.exe");
    EXPECT_EQ(static_cast<int>(image.size()),
              base::WriteFileBytes(copy, image.data(), static_cast<int>(image.size())));
    EXPECT_TRUE(base::CopySingleFile(InstallerBinFolder().Append(L"installer_engine.dll"),
                                     folder.Append(L"installer_engine.dll")));
    return copy;
  }

  // Opens the options page from the welcome page.
  static void OpenOptions(InstallerUIDriver* driver) {
    driver->Click(IDC_OPTIONS_BUTTON);
    ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver->Visible(IDC_LANGUAGE_COMBO); }));
  }

  // On the options page: a current user's installation into |folder|,
  // typed, with none of the three options ticked (no statistics sent).
  void ChooseCurrentUserInstallInto(InstallerUIDriver* driver, const base::FilePath& folder) {
    driver->Choose(IDC_MODE_COMBO, 1);
    TypeFolder(driver, folder.value());
    for (int id : {IDC_DEFAULT_BROWSER_CHECK, IDC_IMPORT_DATA_CHECK, IDC_SHARE_USAGE_CHECK}) {
      if (driver->Visible(id) && driver->Ticked(id)) {
        driver->Click(id);
        EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] { return !driver->Ticked(id); }, 5000)) << id;
      }
    }
    // The typed folder has been taken: its status read, Accept usable.
    EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] {
      return driver->Enabled(IDC_ACCEPT_BUTTON) && !driver->Visible(IDC_INVALID_PATH_TEXT);
    })) << folder;
  }

  // Accept, then the error page with |error| and Try Again, without the
  // full installer; Try Again, then the same error with the full
  // installer offered too.
  // Waits until the error page of the run's |count|th error is complete.
  // The window shows the page first, then logs the error and sets its text:
  // a check made as soon as the page shows may still see the page before.
  // False, with what the window showed, after the usual wait.
  ::testing::AssertionResult WaitForErrorPage(InstallerUIDriver* driver, int count,
                                              const std::wstring& text) const {
    if (InstallerUIDriver::WaitUntil([&] {
          return driver->Visible(IDC_RETRY_BUTTON) && LogCount("Displaying error") >= count &&
                 driver->Text(IDC_STATUS_TEXT) == text;
        })) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "no error page #" << count << " with the expected text; it shows \""
           << base::WideToUTF8(driver->Text(IDC_STATUS_TEXT)) << "\"\n"
           << LogTails();
  }

  void AcceptAndExpectTheFullInstallerFromTheSecondError(InstallerUIDriver* driver,
                                                         const std::wstring& error) {
    driver->Click(IDC_ACCEPT_BUTTON);
    ASSERT_TRUE(WaitForErrorPage(driver, 1, error));
    EXPECT_TRUE(driver->Visible(IDC_INSTALL_FAILED));
    EXPECT_FALSE(driver->Visible(IDC_FULL_PACKAGE_BUTTON)) << LogTails();
    EXPECT_EQ(GetLocalizedString(IDS_BUTTON_TRY_AGAIN), driver->Text(IDC_RETRY_BUTTON));

    driver->Click(IDC_RETRY_BUTTON);
    ASSERT_TRUE(WaitForErrorPage(driver, 2, error));
    EXPECT_EQ(2, LogCount("Displaying error")) << LogTails();
    EXPECT_TRUE(driver->Visible(IDC_FULL_PACKAGE_BUTTON)) << LogTails();
    EXPECT_EQ(GetLocalizedString(IDS_BUTTON_GET_FULL_INSTALLER),
              driver->Text(IDC_FULL_PACKAGE_BUTTON));
  }

  // Waits for the end of |process| while it shows progress, collecting the
  // texts of every progress page seen on the way; its exit code, or -1 (it
  // is then ended) when it shows the error page or does not end in time.
  static int WaitWatchingProgress(const base::Process& process, InstallerUIDriver* driver,
                                  std::vector<std::map<int, std::wstring>>* progress_texts) {
    const ULONGLONG end = ::GetTickCount64() + kRunTimeoutMs;
    int exit_code = -1;
    while (!process.WaitForExitWithTimeout(20, &exit_code)) {
      if (::GetTickCount64() > end || driver->Visible(IDC_RETRY_BUTTON)) {
        ADD_FAILURE() << "no end without an error: "
                      << base::WideToUTF8(driver->Text(IDC_STATUS_TEXT));
        process.Terminate(1, true);
        return -1;
      }
      if (!driver->Visible(IDC_PROGRESS))
        continue;
      std::map<int, std::wstring> texts = driver->VisibleTexts();
      if (progress_texts->empty() || progress_texts->back() != texts)
        progress_texts->push_back(std::move(texts));
    }
    return exit_code;
  }

  // What the installation in the test's folder shows a user: its files,
  // the launcher and its Add/Remove Programs entry under |root|.
  InstallLog ExpectInstalled(HKEY root) {
    InstallLog log;
    EXPECT_TRUE(LoadInstallLog(&log)) << LogTails();
    EXPECT_EQ(root == HKEY_LOCAL_MACHINE, log.all_users);
    EXPECT_FALSE(log.subfolder.empty());
    EXPECT_GE(log.files.size(), 10u);
    for (const base::FilePath& file : log.files)
      EXPECT_TRUE(base::PathExists(install_folder_.Append(log.subfolder).Append(file))) << file;
    EXPECT_TRUE(base::PathExists(install_folder_.Append(L"launcher.exe")));
    EXPECT_EQ(install_folder_.value(), UninstallEntryLocation(root));
    EXPECT_EQ(L"", UninstallEntryLocation(root == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER
                                                                     : HKEY_LOCAL_MACHINE));
    return log;
  }

  // The clean-up batch file of an uninstallation waits for the installer
  // process through "tasklist" and "find", which Wine's cannot serve.
  test::ScopedBatchToolsPath batch_tools_;
};

// The whole way of a user: welcome page, options in German (every text the
// window shows is then the German one), a current user's installation into
// a folder typed into the path box, Accept, the progress page, and the end:
// the demo package is installed and the installer exits with 0. The
// installation's own uninstaller then takes it away through its window.
TEST_F(InteractiveInstallTest, GermanInstallThroughTheWindowThenUninstallThroughTheWindow) {
  const base::Process& installer =
      Start(kInstallSwitches, {.host = FullInstaller(), .install_folder = false});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  EXPECT_TRUE(driver.Visible(IDC_ACCEPT_BUTTON));

  ASSERT_NO_FATAL_FAILURE(OpenOptions(&driver));
  const int german =
      driver.FindItem(IDC_LANGUAGE_COMBO, GetLocalizedStringForLanguage(L"de", IDS_LANGUAGE_NAME));
  ASSERT_GE(german, 0);
  driver.Choose(IDC_LANGUAGE_COMBO, german);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] {
    return driver.Text(IDC_BACK_BUTTON) == GetLocalizedStringForLanguage(L"de", IDS_BUTTON_BACK);
  }));
  ASSERT_NO_FATAL_FAILURE(ChooseCurrentUserInstallInto(&driver, install_folder_));

  const LANGID de = LanguageTagToLangId(L"de");
  auto german_text = [de](int id, std::vector<std::wstring> replacements = {}) {
    const std::wstring text = LoadLocalizedString(de, id, replacements);
    EXPECT_FALSE(text.empty()) << id;
    return text;
  };
  std::wstring logon;
  ASSERT_TRUE(GetCurrentUserName(&logon));
  const std::wstring accept = german_text(IDS_BUTTON_ACCEPT_AND_INSTALL);
  std::map<int, std::wstring> options_page = {
      {IDC_BACK_BUTTON, german_text(IDS_BUTTON_BACK)},
      {IDC_ACCEPT_BUTTON, accept},
      {IDC_LANGUAGE_LABEL, german_text(IDS_LABEL_LANGUAGE)},
      {IDC_LANGUAGE_COMBO, german_text(IDS_LANGUAGE_NAME)},
      {IDC_MODE_LABEL, german_text(IDS_LABEL_INSTALL_FOR)},
      {IDC_MODE_COMBO, german_text(IDS_MODE_CURRENT_USER) + L" (" + logon + L")"},
      {IDC_INSTALL_PATH_LABEL, german_text(IDS_LABEL_INSTALL_PATH)},
      {IDC_INSTALL_PATH_COMBO, install_folder_.value()},
      {IDC_BROWSE_BUTTON, german_text(IDS_BUTTON_CHANGE_PATH)},
      {IDC_IMPORT_DATA_CHECK, german_text(IDS_CHECKBOX_IMPORT_DATA)},
      {IDC_SHARE_USAGE_CHECK, german_text(IDS_CHECKBOX_SHARE_USAGE_DATA)},
  };
  // Shown only on the Windows versions before 8, which Wine reports.
  if (driver.Visible(IDC_DEFAULT_BROWSER_CHECK))
    options_page[IDC_DEFAULT_BROWSER_CHECK] = german_text(IDS_CHECKBOX_DEFAULT_BROWSER);
  EXPECT_EQ(options_page, driver.VisibleTexts());
  EXPECT_EQ(german_text(IDS_INSTALLER_CAPTION), InstallerUIDriver::WindowText(driver.window()));

  driver.Click(IDC_BACK_BUTTON);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_OPTIONS_BUTTON); }));
  const std::map<int, std::wstring> welcome_page = {
      {IDC_HEADLINE, german_text(IDS_HEADLINE, {german_text(IDS_HEADLINE_PRODUCT)})},
      {IDC_TOS_SENTENCE, WithoutAnchors(german_text(IDS_TERMS_OF_SERVICE_SENTENCE, {accept}))},
      {IDC_OPTIONS_BUTTON, german_text(IDS_BUTTON_OPTIONS)},
      {IDC_ACCEPT_BUTTON, accept},
  };
  std::map<int, std::wstring> shown = driver.VisibleTexts();
  // A rich-edit text may break its line before the link.
  for (int id : {IDC_HEADLINE, IDC_TOS_SENTENCE})
    shown[id] = WithoutLineBreaks(shown[id]);
  EXPECT_EQ(welcome_page, shown);

  driver.Click(IDC_ACCEPT_BUTTON);
  std::vector<std::map<int, std::wstring>> progress_pages;
  EXPECT_EQ(0, WaitWatchingProgress(installer, &driver, &progress_pages)) << LogTails();
  // The progress page in German: the thank-you title and a phase text.
  std::wstring name;
  if (!GetCurrentUserDisplayName(&name) || name.empty())
    name = logon;
  const std::vector<std::wstring> phase_texts = {
      german_text(IDS_PROGRESS_DOWNLOADING), german_text(IDS_PROGRESS_EXTRACTING),
      german_text(IDS_PROGRESS_INSTALLING_FOR_USER, {name})};
  // Every text seen while the progress page showed is a German one (a
  // page being switched may still show some of the page before it), and
  // the page itself showed its German title and a German phase text.
  std::set<std::wstring> german_texts(phase_texts.begin(), phase_texts.end());
  german_texts.insert(german_text(IDS_THANK_YOU));
  for (const std::map<int, std::wstring>* page : {&std::as_const(options_page), &welcome_page}) {
    for (const auto& [id, text] : *page)
      german_texts.insert(text);
  }
  bool progress_page_seen = false;
  for (const std::map<int, std::wstring>& page : progress_pages) {
    for (const auto& [id, text] : page)
      EXPECT_TRUE(german_texts.count(WithoutLineBreaks(text)))
          << id << ": " << base::WideToUTF8(text);
    progress_page_seen |= page.count(IDC_THANK_YOU) && page.count(IDC_STATUS_TEXT) &&
                          page.at(IDC_THANK_YOU) == german_text(IDS_THANK_YOU) &&
                          std::find(phase_texts.begin(), phase_texts.end(),
                                    page.at(IDC_STATUS_TEXT)) != phase_texts.end();
  }
  EXPECT_TRUE(progress_page_seen) << progress_pages.size();
  EXPECT_TRUE(LogsContain("Installer terminated successfully. Finishing."));
  EXPECT_FALSE(LogsContain("Displaying error"));
  const InstallLog log = ExpectInstalled(HKEY_CURRENT_USER);

  // The installation's own installer, as its Add/Remove Programs entry
  // starts it, through its uninstall page.
  const base::Process& uninstaller =
      Start({L"--uninstall", L"--v=1"},
            {.host = install_folder_.Append(log.subfolder).Append(kPackageInstallerFileName)});
  InstallerUIDriver uninstall_driver(uninstaller.Pid());
  ASSERT_TRUE(uninstall_driver.WaitForWindow()) << LogTails();
  ASSERT_TRUE(uninstall_driver.Visible(IDC_UNINSTALL_BUTTON));
  uninstall_driver.Click(IDC_UNINSTALL_BUTTON);
  EXPECT_EQ(0, WaitForExit(uninstaller, kRunTimeoutMs)) << LogTails();
  // The clean-up batch file takes the rest once the uninstaller has ended,
  // and itself last.
  EXPECT_TRUE(WaitForCleanupBatchFile());
  EXPECT_FALSE(base::PathExists(install_folder_.Append(L"launcher.exe")));
  for (const base::FilePath& file : log.files)
    EXPECT_FALSE(base::PathExists(install_folder_.Append(log.subfolder).Append(file))) << file;
  EXPECT_EQ(L"", UninstallEntryLocation(HKEY_CURRENT_USER));
  InstallLog gone;
  EXPECT_FALSE(LoadInstallLog(&gone));
}

// The address the full-installer button opens: the product's download page
// for Windows, naming product and stream unless the build is a stable one.
std::wstring FullInstallerAddress() {
  std::string url = GetProductUrl("download_full_windows");
  if (GetBuildStream() != 4)
    url += "&product=" + GetProductName() + "%20" + GetStreamName();
  return base::UTF8ToWide(url);
}

// A damaged package fails to unpack, before and after Accept: the error
// page offers Try Again, and the full installer only from the second error
// on. Its button opens the download page in the default browser (a recorder
// registered as the program for web addresses) and ends the run.
TEST_F(InteractiveInstallTest, CorruptedPayloadOffersTheFullInstallerSecondAndItsButtonOpensIt) {
  const base::FilePath host = CorruptedFullInstaller();
  ASSERT_FALSE(host.empty());
  const base::FilePath browser = temp_.GetPath().Append(L"browser").Append(L"browser.exe");
  ASSERT_NO_FATAL_FAILURE(PlaceRecorder(browser));
  // Wine opens a web address with the program of its scheme in the
  // machine's classes; the user's classes are not read there.
  ScopedOpenCommand https(HKEY_LOCAL_MACHINE, L"https", L"\"" + browser.value() + L"\" \"%1\"");

  const base::Process& installer = Start({L"--v=1"}, {.host = host});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] {
    return LogsContain("Exceeded maximum number of fetcher retries");
  })) << LogTails();

  ASSERT_NO_FATAL_FAILURE(AcceptAndExpectTheFullInstallerFromTheSecondError(
      &driver, GetLocalizedString(IDS_ERROR_PACKAGE_CORRUPTED)));

  driver.Click(IDC_FULL_PACKAGE_BUTTON);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
  EXPECT_TRUE(LogsContain("Downloading full package with default browser")) << LogTails();
  EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] { return !RecordedCommandLines(browser).empty(); }));
  EXPECT_EQ(L"\"" + browser.value() + L"\" \"" + FullInstallerAddress() + L"\"\n",
            RecordedCommandLines(browser));
  EXPECT_FALSE(base::PathExists(install_folder_)) << LogTails();
}

// The package server answers 404 for every request: each fetch fails at
// once. Three failures before Accept restart the fetcher; after Accept the
// failure shows the error page with Try Again, and the full installer is
// offered only from the second error on. Its button opens the download
// page and ends the run.
TEST_F(InteractiveInstallTest, FailedFetchOffersTheFullInstallerSecondAndItOpensOutsideOurBrowser) {
  // Our own installation in the chosen folder is the default browser, and
  // it may be the broken one: the download page opens in the system's own
  // browser instead (Wine's, ended with the test).
  ScopedOpenCommand http(HKEY_CURRENT_USER, L"http",
                         L"\"" + install_folder_.Append(L"launcher.exe").value() + L"\" \"%1\"");
  base::FilePath program_files;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathProgramFiles, &program_files));
  const base::FilePath system_browser =
      program_files.Append(L"Internet Explorer").Append(L"iexplore.exe");

  const base::Process& installer =
      Start({L"--v=1", L"--internal-package-server=http://" +
                           base::UTF8ToWide(testing_http::ServerAddress()) + L"/no-such-folder/"});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow());
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] {
    return LogsContain("Exceeded maximum number of fetcher retries");
  })) << LogTails();
  EXPECT_TRUE(LogsContain("Restarting package fetching, 3 of 3"));
  EXPECT_FALSE(LogsContain("Restarting package fetching, 4 of 3"));

  ASSERT_NO_FATAL_FAILURE(AcceptAndExpectTheFullInstallerFromTheSecondError(
      &driver, GetLocalizedString(IDS_ERROR_DOWNLOAD_FAILED)));
  EXPECT_TRUE(LogsContain("Restarting fetching after background tries failed."));

  driver.Click(IDC_FULL_PACKAGE_BUTTON);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
  EXPECT_TRUE(LogsContain("Downloading full package with IE")) << LogTails();
  // Besides the back ends it ran.
  int browsers = 0;
  for (const std::wstring& program : ProgramsStartedBy(installer.Pid()))
    browsers += base::FilePath::CompareEqualIgnoreCase(system_browser.value(), program) ? 1 : 0;
  EXPECT_EQ(1, browsers);
}

// A folder that cannot be created fails in the back end: the error page
// with Try Again, again after trying again, and never the full installer
// (the package itself was fine). Back on the options page another folder
// is chosen, and that installation succeeds.
TEST_F(InteractiveInstallTest, FolderWithoutWriteAccessShowsTryAgainAndAnotherFolderInstalls) {
  // A folder nobody can create, not even root, whom Unix permissions do not
  // stop and for whom Wine enforces no access lists: one inside /proc, on
  // the drive Wine maps to the Unix root. Its parent exists, so the window
  // takes the path as valid and only the installation itself fails, as on
  // a folder without write access.
  ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), ::GetDriveTypeW(L"Z:\\")) << "no Unix root drive";
  const base::FilePath unwritable(L"Z:\\proc\\velmo-installer-test");
  ASSERT_FALSE(base::CreateDirectoryTree(unwritable));

  const base::Process& installer =
      Start(kInstallSwitches, {.host = FullInstaller(), .install_folder = false});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  ASSERT_NO_FATAL_FAILURE(OpenOptions(&driver));
  ASSERT_NO_FATAL_FAILURE(ChooseCurrentUserInstallInto(&driver, unwritable));

  driver.Click(IDC_ACCEPT_BUTTON);
  const std::wstring error = GetLocalizedString(IDS_ERROR_INSUFFICIENT_PRIVILEGES);
  ASSERT_TRUE(WaitForErrorPage(&driver, 1, error));
  EXPECT_FALSE(driver.Visible(IDC_FULL_PACKAGE_BUTTON));

  driver.Click(IDC_RETRY_BUTTON);
  ASSERT_TRUE(WaitForErrorPage(&driver, 2, error));
  EXPECT_EQ(2, LogCount("Displaying error"));
  EXPECT_FALSE(driver.Visible(IDC_FULL_PACKAGE_BUTTON));

  driver.Click(IDC_BACK_BUTTON);
  ASSERT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_OPTIONS_BUTTON); }));
  ASSERT_NO_FATAL_FAILURE(OpenOptions(&driver));
  ASSERT_NO_FATAL_FAILURE(ChooseCurrentUserInstallInto(&driver, install_folder_));
  driver.Click(IDC_ACCEPT_BUTTON);
  EXPECT_EQ(0, WaitForExit(installer, kRunTimeoutMs)) << LogTails();
  ExpectInstalled(HKEY_CURRENT_USER);
  EXPECT_FALSE(base::PathExists(unwritable));
}

// An all-users installation by a user who is no administrator needs
// elevation; with User Account Control off (as in Wine) none can be asked
// for, and the back end reports the refused elevation. The window then
// switches to a current user's installation into the same (writable)
// folder on its own, without showing an error, and that installation
// succeeds.
TEST_F(InteractiveInstallTest, RefusedElevationSwitchesToACurrentUserInstall) {
  base::win::RegistryKey policy;
  DWORD enable_lua = 1;
  ASSERT_EQ(ERROR_SUCCESS,
            policy.Open(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                        KEY_QUERY_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, policy.ReadValueDW(L"EnableLUA", &enable_lua));
  ASSERT_EQ(0u, enable_lua) << "with User Account Control on, elevation would be asked for";

  std::vector<std::wstring> switches = kInstallSwitches;
  switches.push_back(L"--allusers=1");
  // Not chosen in the window here: this run never opens the options.
  switches.push_back(L"--setdefaultbrowser=0");
  const base::Process& installer = Start(switches, {.host = FullInstaller(), .non_admin = true});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  driver.Click(IDC_ACCEPT_BUTTON);
  std::vector<std::map<int, std::wstring>> progress_pages;
  EXPECT_EQ(0, WaitWatchingProgress(installer, &driver, &progress_pages)) << LogTails();
  EXPECT_TRUE(LogsContain("Cannot elevate with UAC disabled")) << LogTails();
  EXPECT_TRUE(LogsContain("Offering the user to switch to a Current User install"));
  EXPECT_FALSE(LogsContain("Displaying error"));
  ExpectInstalled(HKEY_CURRENT_USER);
}

// The net installer, run with suite components asked for, against a package
// server that names one beside the package: the component's archive is
// unpacked into the suite folder, and the installation runs the component's
// installer from there and records it.
TEST_F(InteractiveInstallTest, SuiteComponentFromThePackageServerIsInstalled) {
  wchar_t root[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"VELMO_PACKAGE_SERVER_ROOT", root, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH) << "not started beside a package server";
  const std::string prefix = testing_http::UniqueKey("suite");
  const base::FilePath served = base::FilePath(std::wstring(root, length)).AppendASCII(prefix);
  ASSERT_TRUE(base::CreateDirectoryTree(served));
  auto url = [&](const char* name) {
    return "http://" + testing_http::ServerAddress() + "/" + prefix + "/" + name;
  };
  auto sha256 = [](const base::FilePath& file) {
    uint8_t digest[crypto::SecureHash::kSha256Length];
    EXPECT_TRUE(crypto::Sha256HashFile(file, digest)) << file;
    return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
  };
  ASSERT_TRUE(base::CopySingleFile(FullInstaller(), served.Append(L"installer.exe")));
  // The component's archive: it unpacks its installer beside itself, and
  // that installer answers the version query and records its run.
  ASSERT_TRUE(base::CopySingleFile(InstallerBinFolder().Append(L"fake_installer.exe"),
                                   served.Append(L"suite.exe")));
  const std::string reply =
      R"({"installer":")" + url("installer.exe") + R"(","installer_checksum":")" +
      sha256(served.Append(L"installer.exe")) + R"(","components":[{"type":"suite","location":")" +
      url("suite.exe") + R"(","archive":true,"checksum":")" + sha256(served.Append(L"suite.exe")) +
      R"("}]})";
  ASSERT_EQ(
      static_cast<int>(reply.size()),
      base::WriteFileBytes(served.Append(L"reply"), reply.data(), static_cast<int>(reply.size())));
  SetChildEnvironment(L"VELMO_FAKE_SFX_CREATES", L"suite_installer.exe");
  SetChildEnvironment(L"VELMO_FAKE_INTERNAL_VERSION", base::UTF8ToWide(GetInternalVersion()));

  std::vector<std::wstring> switches = kInstallSwitches;
  switches.push_back(L"--allusers=0");
  switches.push_back(L"--install-assistant");
  switches.push_back(L"--internal-package-server=" + base::UTF8ToWide(url("reply")));
  const base::Process& installer =
      Start(switches, {.host = InstallerBinFolder().Append(L"velmo_installer_net.exe")});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  driver.Click(IDC_ACCEPT_BUTTON);
  std::vector<std::map<int, std::wstring>> progress_pages;
  ASSERT_EQ(0, WaitWatchingProgress(installer, &driver, &progress_pages)) << LogTails();
  EXPECT_FALSE(LogsContain("Component installer does not exist")) << LogTails();
  const InstallLog log = ExpectInstalled(HKEY_CURRENT_USER);
  const std::vector<InstallLogComponent> expected = {{"suite", install_folder_.Append(L"suite")}};
  EXPECT_EQ(expected, log.components) << LogTails();
}

// Input the window must survive, typed and chosen from outside: a language
// tag that no string table holds falls back to a language the system
// prefers; paths that cannot be installed into show the invalid-path text
// and disable Accept; a good path afterwards enables it again, and every
// click still arrives.
TEST_F(InteractiveInstallTest, BadInputShowsTheInvalidStateAndNeverLosesAClick) {
  const base::Process& installer = Start({L"--v=1", L"--language=qx-Unheard"});
  InstallerUIDriver driver(installer.Pid());
  ASSERT_TRUE(driver.WaitForWindow()) << LogTails();
  EXPECT_TRUE(LogsContain("Language not in the available languages list: qx-Unheard"));
  std::wstring fallback = L"qx-Unheard";
  LANGID fallback_id = 0;
  SelectUILanguage(&fallback_id, &fallback);
  EXPECT_EQ(LoadLocalizedString(fallback_id, IDS_BUTTON_OPTIONS, {}),
            driver.Text(IDC_OPTIONS_BUTTON));

  ASSERT_NO_FATAL_FAILURE(OpenOptions(&driver));
  EXPECT_EQ(LoadLocalizedString(fallback_id, IDS_LANGUAGE_NAME, {}),
            driver.Text(IDC_LANGUAGE_COMBO));
  // A folder below a file can never be made: the window says so at once,
  // unlike a folder without write access, which only the installation finds.
  const base::FilePath file = temp_.GetPath().Append(L"a file");
  ASSERT_EQ(1, base::WriteFileBytes(file, "x", 1));
  const std::wstring bad_paths[] = {L"C:\\" + std::wstring(300, L'a'),
                                    L"CON",
                                    L"relative\\folder",
                                    L"C:\\a<b>|c",
                                    L"C:\\tab\there?",
                                    file.Append(L"Velmo").value()};
  for (const std::wstring& bad : bad_paths) {
    TypeFolder(&driver, bad);
    EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] {
      return driver.Visible(IDC_INVALID_PATH_TEXT) && !driver.Enabled(IDC_ACCEPT_BUTTON);
    })) << base::WideToUTF8(bad);
    EXPECT_EQ(bad, driver.Text(IDC_INSTALL_PATH_COMBO));
  }
  TypeFolder(&driver, install_folder_.value());
  EXPECT_TRUE(InstallerUIDriver::WaitUntil(
      [&] { return !driver.Visible(IDC_INVALID_PATH_TEXT) && driver.Enabled(IDC_ACCEPT_BUTTON); }));

  // The window still answers: No keeps it, Yes ends the run.
  CloseAndAnswer(&driver, IDNO);
  int exit_code = 0;
  EXPECT_FALSE(installer.WaitForExitWithTimeout(1000, &exit_code));
  driver.Click(IDC_BACK_BUTTON);
  EXPECT_TRUE(InstallerUIDriver::WaitUntil([&] { return driver.Visible(IDC_OPTIONS_BUTTON); }));
  CloseAndAnswer(&driver, IDYES);
  EXPECT_EQ(1, WaitForExit(installer)) << LogTails();
  EXPECT_FALSE(base::PathExists(install_folder_));
}

}  // namespace
}  // namespace installer
