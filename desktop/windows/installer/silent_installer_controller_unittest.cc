// Silent runs of the installers a user gets (velmo_installer_full.exe with
// the demo package as its payload), as real processes under this machine's
// real registry, shell folders and task scheduler: what an installation
// leaves, what an uninstallation takes away, and that a failed run leaves
// nothing. The tests run alone (see CMakeLists.txt): they install for real.
#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "crypto/secure_hash.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_registry_steps.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "desktop/windows/installer/silent_installer_controller.h"
#include "desktop/windows/installer/silent_run_test_support.h"
#include "gtest/gtest.h"
#include "testing/http_server/test_server.h"

namespace installer {
namespace {

using test::BinFolder;
using test::SilentRunTest;

std::string Sha256Hex(const base::FilePath& file) {
  uint8_t digest[crypto::SecureHash::kSha256Length];
  EXPECT_TRUE(crypto::Sha256HashFile(file, digest)) << file;
  return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
}

// The net installer against the package server that CTest starts beside the
// suite (testing/package_server), whose files the tests lay out.
class NetInstallerTest : public SilentRunTest {
 protected:
  void SetUp() override {
    SilentRunTest::SetUp();
    wchar_t root[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"VELMO_PACKAGE_SERVER_ROOT", root, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << "not started beside a package server";
    // A folder of this run's own on the server.
    prefix_ =
        "net" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(::GetTickCount64());
    server_folder_ = base::FilePath(std::wstring(root, length)).Append(base::UTF8ToWide(prefix_));
    ASSERT_TRUE(base::CreateDirectoryTree(server_folder_));
  }

  std::string Url(const std::string& name) const {
    return "http://" + testing_http::ServerAddress() + "/" + prefix_ + "/" + name;
  }

  // Serves the offline installer as the package and the server's reply
  // naming it with |checksum| (its own when empty).
  void ServePackage(const std::string& checksum) {
    const base::FilePath package = server_folder_.Append(L"installer.exe");
    ASSERT_TRUE(base::CopySingleFile(BinFolder().Append(L"velmo_installer_full.exe"), package));
    Serve("reply", R"({"installer":")" + Url("installer.exe") + R"(","installer_checksum":")" +
                       (checksum.empty() ? Sha256Hex(package) : checksum) + "\"}");
  }

  void Serve(const std::string& name, const std::string& body) {
    ASSERT_EQ(static_cast<int>(body.size()),
              base::WriteFileBytes(server_folder_.Append(base::UTF8ToWide(name)), body.data(),
                                   static_cast<int>(body.size())));
  }

  int RunNetInstaller() {
    std::vector<std::wstring> switches = InstallSwitches(false);
    switches.push_back(L"--internal-package-server=" + base::UTF8ToWide(Url("reply")));
    return Run(BinFolder().Append(L"velmo_installer_net.exe"), switches);
  }

  std::string prefix_;
  base::FilePath server_folder_;
};

TEST_F(SilentRunTest, OfflineInstallerInstallsAndUninstallsForTheCurrentUser) {
  const base::FilePath installer = BinFolder().Append(L"velmo_installer_full.exe");
  ASSERT_EQ(0, Run(installer, InstallSwitches(false)));
  std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Found full package")) << base::JoinString(lines, "\n");
  EXPECT_TRUE(HasLine(lines, "Initializing controller with fetcher."));
  EXPECT_TRUE(HasLine(lines, "Not sending stats"));
  EXPECT_TRUE(HasLine(lines, "Controller exiting"));
  const InstallLog log = ExpectInstalled(false);
  // Nothing of the package stays in the download folder.
  EXPECT_FALSE(base::PathExists(download_root_.Append(L"Velmo Installer")));

  EXPECT_EQ(0, Uninstall(log));
  lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Inside packagetrue")) << base::JoinString(lines, "\n");
  EXPECT_TRUE(HasLine(lines, "Initializing controller without fetcher."));
  ExpectUninstalled(log);
}

TEST_F(SilentRunTest, OfflineInstallerInstallsUpgradesAndUninstallsForAllUsers) {
  const base::FilePath installer = BinFolder().Append(L"velmo_installer_full.exe");
  ASSERT_EQ(0, Run(installer, InstallSwitches(true)));
  std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Controller exiting")) << base::JoinString(lines, "\n");
  const InstallLog first = ExpectInstalled(true);

  // Preferences of the installation survive its upgrades.
  const std::string prefs = R"({"kept": true})";
  const base::FilePath prefs_file = install_folder_.Append(L"user_prefs.json");
  ASSERT_EQ(static_cast<int>(prefs.size()),
            base::WriteFileBytes(prefs_file, prefs.data(), static_cast<int>(prefs.size())));

  // An upgrade keeps the version before it (a running browser may still use
  // it) and removes the older ones.
  ASSERT_EQ(0, Run(installer, InstallSwitches(true)));
  lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Controller exiting")) << base::JoinString(lines, "\n");
  const InstallLog second = ExpectInstalled(true);
  EXPECT_NE(first.subfolder, second.subfolder);
  EXPECT_EQ(first.app_id, second.app_id);
  ASSERT_EQ(0, Run(installer, InstallSwitches(true)));
  TakeLogLines();
  const InstallLog third = ExpectInstalled(true);
  EXPECT_NE(second.subfolder, third.subfolder);
  EXPECT_TRUE(WaitUntilGone(install_folder_.Append(first.subfolder)));
  EXPECT_TRUE(
      base::PathExists(install_folder_.Append(second.subfolder).Append(GetBrowserExeName())));
  std::string kept;
  EXPECT_TRUE(base::ReadFileToString(prefs_file, &kept));
  EXPECT_EQ(prefs, kept);

  // The uninstallation takes every generation away.
  EXPECT_EQ(0, Uninstall(third));
  lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Inside packagetrue")) << base::JoinString(lines, "\n");
  ExpectUninstalled(third);
  for (const base::FilePath& file : second.files)
    EXPECT_FALSE(base::PathExists(install_folder_.Append(second.subfolder).Append(file))) << file;
}

// A payload cut short has no valid trailer: the installer runs as one
// without a package, and the package server it then asks is unreachable.
// The run gives up after a few tries instead of waiting for the network.
TEST_F(SilentRunTest, TruncatedPayloadFailsAndLeavesNothing) {
  const base::FilePath installer =
      CopyOfFullInstaller([](std::string* image) { image->resize(image->size() - 4096); });
  std::vector<std::wstring> switches = InstallSwitches(false);
  // A port nobody listens on: the refusal comes at once.
  switches.push_back(L"--internal-package-server=http://127.0.0.1:9");
  // A failed run reports, to a statistics server of this machine (none
  // listens: the report too is given up after a few tries).
  switches.push_back(L"--enable-installer-stats=1");
  switches.push_back(L"--local-stats-server");
  EXPECT_EQ(1, Run(installer, switches));
  const std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Failed reading payload")) << base::JoinString(lines, "\n");
  EXPECT_TRUE(HasLine(lines, "Package fetcher failed."));
  EXPECT_TRUE(HasLine(lines, "Sending stats"));
  ExpectNothingInstalled();
}

// Damaged bytes inside the archive: the trailer is intact, the unpacking
// finds the damage.
TEST_F(SilentRunTest, CorruptedPackageFailsAndLeavesNothing) {
  const base::FilePath installer = CopyOfFullInstaller([](std::string* image) {
    const size_t magic = image->rfind("VLM7z");
    ASSERT_NE(std::string::npos, magic);
    // Well inside the packed streams, away from the headers at the end.
    for (size_t i = magic + 4096; i < magic + 8192; ++i)
      (*image)[i] = static_cast<char>((*image)[i] ^ 0x5A);
  });
  EXPECT_EQ(1, Run(installer, InstallSwitches(false)));
  const std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Found full package")) << base::JoinString(lines, "\n");
  EXPECT_TRUE(HasLine(lines, "Package fetcher failed."));
  ExpectNothingInstalled();
}

// Another installer working on the same folder holds its mutex: a second
// silent installer gets the single-installer error and changes nothing.
TEST_F(SilentRunTest, SecondInstallerOnTheSameFolderIsRefused) {
  base::win::ScopedHandle mutex(
      ::CreateMutexW(nullptr, TRUE, GetInstallerMutexName(install_folder_).c_str()));
  ASSERT_TRUE(mutex.IsValid());
  EXPECT_EQ(1, Run(BinFolder().Append(L"velmo_installer_full.exe"), InstallSwitches(false)));
  const std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLineStartingWith(lines, "Could not acquire installer mutex"))
      << base::JoinString(lines, "\n");
  ExpectNothingInstalled();
  ::ReleaseMutex(mutex.Get());
}

TEST_F(NetInstallerTest, WrongChecksumGarbageReplyAndMissingPackageFail) {
  ServePackage(std::string(64, '0'));
  EXPECT_EQ(1, RunNetInstaller());
  std::vector<std::string> lines = TakeLogLines();
  EXPECT_TRUE(HasLineStartingWith(lines, "Tracking data: ")) << base::JoinString(lines, "\n");
  EXPECT_TRUE(HasLineStartingWith(lines, "Checksum incorrect for the downloaded package"));
  EXPECT_TRUE(HasLine(lines, "Package fetcher failed."));
  ExpectNothingInstalled();

  // The server was asked with the installer's tracking data, then gave the
  // package.
  PayloadReader payload(BinFolder().Append(L"velmo_installer_net.exe"));
  const std::string tracking_data = payload.GetTrackingData();
  EXPECT_FALSE(tracking_data.empty());
  std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests("");
  ASSERT_TRUE(requests);
  bool asked = false;
  bool downloaded = false;
  for (size_t i = 0; i < requests->size(); ++i) {
    const base::DictValue* request = nullptr;
    ASSERT_TRUE(requests->GetDictionary(i, &request));
    std::string path, method, body;
    request->GetString("path", &path);
    request->GetString("method", &method);
    request->GetString("body", &body);
    if (path == "/" + prefix_ + "/reply") {
      asked = true;
      EXPECT_EQ("POST", method);
      EXPECT_EQ(tracking_data, body);
    }
    downloaded = downloaded || path == "/" + prefix_ + "/installer.exe";
  }
  EXPECT_TRUE(asked);
  EXPECT_TRUE(downloaded);

  Serve("reply", "<html>not the server's answer</html>");
  EXPECT_EQ(1, RunNetInstaller());
  lines = TakeLogLines();
  EXPECT_TRUE(HasLineStartingWith(lines, "Failed parsing json reply"))
      << base::JoinString(lines, "\n");
  ExpectNothingInstalled();

  Serve("reply", R"({"installer":")" + Url("gone.exe") + R"(","installer_checksum":"00"})");
  EXPECT_EQ(1, RunNetInstaller());
  lines = TakeLogLines();
  EXPECT_TRUE(HasLine(lines, "Package fetcher failed.")) << base::JoinString(lines, "\n");
  ExpectNothingInstalled();
}

// Nobody can answer a prompt in a silent run: the request is refused, and
// the requester still hears back so that it does not wait forever.
TEST(SilentInstallerControllerTest, RefusesUIRequestsButAlwaysReplies) {
  base::MessageLoop loop;
  SilentInstallerController controller;
  bool ui_ran = false;
  bool replied = false;
  base::LoopRunner runner;
  controller.RunUICallbackAndPostReply(
      base::Bind([](bool* ran, HWND) { *ran = true; }, base::Unretained(&ui_ran)),
      base::CurrentTaskRunner::Get(),
      base::Bind(
          [](bool* flag, base::Closure quit) {
            *flag = true;
            quit.Run();
          },
          base::Unretained(&replied), runner.QuitClosure()));
  EXPECT_FALSE(replied);  // Posted, not run inside the call.
  runner.Run();
  EXPECT_TRUE(replied);
  EXPECT_FALSE(ui_ran);
}

}  // namespace
}  // namespace installer
