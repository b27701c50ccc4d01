// The runner and its back end across real processes: the front end is the
// test (or a child of it), the back end a child of the test executable that
// runs the real InstallerRunnerBackend and Installer over a step list of the
// test's own, or the real installer.exe over a package fixture.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_test_support.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/demo_package_test_support.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/ui/scoped_gdi.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

using test::MessageRecordingDelegate;
using test::ScopedLogCapture;

// Switches of the test's child processes.
constexpr char kStepsSwitch[] = "runner-test-steps";  // ok, hang or junk
constexpr char kExeDirSwitch[] = "runner-test-exe-dir";
constexpr char kMarkerSwitch[] = "runner-test-marker";
constexpr char kRegKeySwitch[] = "runner-test-reg-key";
constexpr char kFolderSwitch[] = "runner-test-folder";
constexpr char kPackageSwitch[] = "runner-test-package";
constexpr char kPidFileSwitch[] = "runner-test-pid-file";
constexpr char kWindowSwitch[] = "runner-test-window";

constexpr int kBurstSteps = 500;
constexpr base::TimeSpan kRunTimeout = base::TimeSpan::FromSeconds(60);

base::FilePath BuildDir() { return test::TestBuildDir(); }

std::wstring BrowserExeName() { return test::TestBrowserExeName(); }

// Polls for |path| for up to |seconds|.
bool WaitForFile(const base::FilePath& path, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (base::PathExists(path))
      return true;
    Sleep(50);
  }
  return false;
}

bool RegistryKeyExists(const std::wstring& path) {
  base::win::RegistryKey key;
  return key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

// --- The back end's steps. ---

const base::CommandLine& ChildCommandLine() { return *base::CommandLine::ForCurrentProcess(); }

void NextStep(Installer* installer) { installer->ScheduleNextStep(); }

void LastStep(Installer* installer) {
  installer->NotifyStep();
  installer->Succeed();
}

// Changes the machine through the run's transaction, so that only a
// rollback takes the changes away.
void ChangeMachineStep(Installer* installer) {
  const base::FilePath source = installer->own_folder().Append(BrowserExeName());
  const base::FilePath target = installer->settings()->GetInstallFolder().Append(BrowserExeName());
  if (!installer->transaction()->Execute(std::make_unique<CopyFileOperation>(source, target)) ||
      !installer->transaction()->Execute(std::make_unique<CreateRegKeyOperation>(
          HKEY_CURRENT_USER, ChildCommandLine().GetSwitchValueNative(kRegKeySwitch), 0))) {
    installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "test change failed");
    return;
  }
  installer->ScheduleNextStep();
}

// Says that the run got here, then waits for whatever ends it.
void HangStep(Installer* /*installer*/) {
  base::WriteFileBytes(ChildCommandLine().GetSwitchValuePath(kMarkerSwitch), "1", 1);
}

// The front end's mailslot, opened the way any other process could; the
// run fails when it cannot be opened.
base::win::ScopedHandle OpenFrontEndMailslot(Installer* installer) {
  const std::wstring name =
      L"\\\\.\\mailslot\\" + GetInstallerMailslotName(installer->settings()->GetInstallFolder());
  base::win::ScopedHandle mailslot(::CreateFileW(name.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
  if (!mailslot.IsValid())
    installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "no mailslot", ::GetLastError());
  return mailslot;
}

// Writes datagrams that are no installer messages to the front end's
// mailslot, the way any other process could.
void JunkStep(Installer* installer) {
  base::win::ScopedHandle mailslot = OpenFrontEndMailslot(installer);
  if (!mailslot.IsValid())
    return;
  std::vector<std::unique_ptr<base::BinaryMessage>> junk;
  junk.push_back(std::make_unique<base::BinaryMessage>());  // Header only.
  auto bad_signature = std::make_unique<base::BinaryMessage>();
  bad_signature->WriteString(":Installer message");
  bad_signature->WriteInt(IPC_MESSAGE_STEP);
  junk.push_back(std::move(bad_signature));
  junk.push_back(CreateInstallerMessage(7));
  // An error message whose text claims more characters than it carries.
  auto long_text = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  long_text->WriteInt(IDS_ERROR_INSTALL_FAILED);
  long_text->WriteUInt32(5000);
  long_text->WriteUInt32(0x00410041);
  junk.push_back(std::move(long_text));
  // A total-steps message without its number.
  junk.push_back(CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS));
  auto write = [&](const void* data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(mailslot.Get(), data, size, &written, nullptr) && written == size;
  };
  bool ok = write("\x02\x00", 2);
  for (const auto& message : junk)
    ok = write(message->data(), static_cast<DWORD>(message->size())) && ok;
  if (!ok) {
    installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "junk not written");
    return;
  }
  installer->ScheduleNextStep();
}

// Many reports at once, then the end: the back end exits right behind its
// last writes.
void BurstStep(Installer* installer) {
  for (int i = 0; i < kBurstSteps; ++i)
    installer->NotifyStep();
  installer->Succeed();
}

// Fails the run with a cause, the way a real step reports one.
void FailStep(Installer* installer) {
  installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "the test step failed");
}

// Ends the process without a word, as a back end ended from outside does.
void VanishStep(Installer* /*installer*/) { ::TerminateProcess(::GetCurrentProcess(), 3); }

// Reports the run's success, as the installer from the package reports it,
// while this back end's own transaction is still open; false (the run
// failed) when it cannot.
bool ReportSuccessWithTransactionOpen(Installer* installer) {
  base::win::ScopedHandle mailslot = OpenFrontEndMailslot(installer);
  if (!mailslot.IsValid())
    return false;
  std::unique_ptr<base::BinaryMessage> success = CreateInstallerMessage(IPC_MESSAGE_SUCCESS);
  DWORD written = 0;
  if (!::WriteFile(mailslot.Get(), success->data(), static_cast<DWORD>(success->size()), &written,
                   nullptr)) {
    installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "success not written",
                    ::GetLastError());
    return false;
  }
  return true;
}

// The success is reported; then the process is ended from outside before it
// could settle its transaction.
void SuccessThenVanishStep(Installer* installer) {
  if (ReportSuccessWithTransactionOpen(installer))
    ::TerminateProcess(::GetCurrentProcess(), 3);
}

// The success is reported; then the back end waits, its transaction open,
// for whatever ends it.
void SuccessThenWaitStep(Installer* installer) { ReportSuccessWithTransactionOpen(installer); }

Installer::StepList BindTestSteps(Installer* installer, int32_t /*operation*/) {
  const std::string mode = ChildCommandLine().GetSwitchValueASCII(kStepsSwitch);
  auto step = [installer](void (*function)(Installer*)) { return base::Bind(function, installer); };
  if (mode == "hang")
    return {step(&ChangeMachineStep), step(&HangStep)};
  if (mode == "junk")
    return {step(&JunkStep), step(&LastStep)};
  if (mode == "burst")
    return {step(&BurstStep)};
  if (mode == "fail")
    return {step(&NextStep), step(&FailStep)};
  if (mode == "vanish")
    return {step(&NextStep), step(&VanishStep)};
  if (mode == "success-vanish")
    return {step(&ChangeMachineStep), step(&SuccessThenVanishStep)};
  if (mode == "success-wait")
    return {step(&ChangeMachineStep), step(&SuccessThenWaitStep)};
  return {step(&NextStep), step(&NextStep), step(&LastStep)};
}

// The back end as RunInstaller runs it, over the test's step list; its
// own folder (where the engine reads "files_list") is the package fixture.
CHILD_PROCESS_MAIN(RunnerBackend) {
  const base::CommandLine& cl = ChildCommandLine();
  base::MessageLoop loop;
  test::ScopedSettingsSeams seams("RunnerBackend");
  base::PathRegistry::Override(base::kPathExeDirectory, cl.GetSwitchValuePath(kExeDirSwitch));
  Settings settings(cl.HasSwitch(kUninstallSwitch), cl.HasSwitch(kSilentSwitch),
                    cl.HasSwitch(kAutoupdateSwitch), cl.GetSwitchValuePath(kInstallFolderSwitch),
                    false, false);
  InstallerRunnerBackend backend;
  backend.installer()->SetStepListBinderForTesting(base::Bind(&BindTestSteps));
  const bool success = backend.Run(&settings);
  // A back end that has reported its result but takes a while to end, as
  // one does on a loaded machine.
  if (cl.GetSwitchValueASCII(kStepsSwitch) == "linger")
    ::Sleep(5000);
  // A back end that sends to the front end's window before it ends, as its
  // setting-change broadcast does: the send must be answered.
  if (cl.HasSwitch(kWindowSwitch)) {
    HWND window = ::FindWindowW(nullptr, cl.GetSwitchValueNative(kWindowSwitch).c_str());
    DWORD_PTR answer = 0;
    if (!window || !::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 20 * 1000, &answer)) {
      return 2;
    }
  }
  return success ? 0 : 1;
}

// --- The front end's side. ---

// A package fixture: "files_list" naming the browser executable, the
// browser executable and, as "installer.exe", a program that succeeds.
void MakeSeamPackage(const base::FilePath& folder) {
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  const base::FilePath tiny = BuildDir().Append(L"tiny_program.exe");
  ASSERT_TRUE(base::CopySingleFile(tiny, folder.Append(BrowserExeName())));
  ASSERT_TRUE(base::CopySingleFile(tiny, folder.Append(L"installer.exe")));
  const std::string list = base::WideToUTF8(BrowserExeName()) + "\r\n";
  ASSERT_TRUE(base::WriteFileBytes(folder.Append(L"files_list"), list.data(),
                                   static_cast<int>(list.size())));
}

// Front-end settings of a stand-alone installation into |folder|.
std::unique_ptr<Settings> MakeSettings(const base::FilePath& folder, bool uninstall = false) {
  base::CommandLine cl = base::CommandLine::FromArgv({L"installer.exe", L"--copyonly=1"});
  auto settings = std::make_unique<Settings>(cl, uninstall, false, false, folder, false, false);
  EXPECT_TRUE(test::WaitForSettingsObtained(settings.get()));
  return settings;
}

struct BackendOptions {
  std::string steps = "ok";
  base::FilePath package;
  base::FilePath marker;
  std::wstring reg_key;
  // The title of a window of the front end's that the back end sends to
  // before it ends.
  std::wstring window;
  // The command line the runner meant to launch.
  base::CommandLine* launched = nullptr;
};

// Keeps the runner's switches, but starts the test's back end.
void RedirectToChildBackend(const BackendOptions& options, base::CommandLine* command_line) {
  if (options.launched)
    *options.launched = *command_line;
  base::CommandLine child = testing::GetChildCommandLine("RunnerBackend");
  child.AppendArguments(*command_line, /*include_program=*/false);
  child.AppendSwitchASCII(kStepsSwitch, options.steps);
  child.AppendSwitchPath(kExeDirSwitch, options.package);
  if (!options.marker.empty())
    child.AppendSwitchPath(kMarkerSwitch, options.marker);
  if (!options.reg_key.empty())
    child.AppendSwitchNative(kRegKeySwitch, options.reg_key);
  if (!options.window.empty())
    child.AppendSwitchNative(kWindowSwitch, options.window);
  *command_line = child;
}

// Records the observer calls and ends a loop run on OnInstallerTerminated
// (or on |quit_on|).
class RecordingObserver : public MessageRecordingDelegate {
 public:
  void OnInstallFolderReady() override {
    MessageRecordingDelegate::OnInstallFolderReady();
    MaybeQuit("folder ready");
  }
  void OnSuccess() override {
    MessageRecordingDelegate::OnSuccess();
    MaybeQuit("success");
  }
  void OnInstallerTerminated(bool success) override {
    MessageRecordingDelegate::OnInstallerTerminated(success);
    MaybeQuit("terminated");
  }

  // Runs the loop until the awaited call; false on timeout.
  bool RunUntil(const std::string& call, base::TimeSpan timeout = kRunTimeout) {
    for (const std::string& seen : calls) {
      if (seen.rfind(call, 0) == 0)
        return true;
    }
    base::LoopRunner runner;
    runner_ = &runner;
    quit_on_ = call;
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(), timeout);
    runner.Run();
    runner_ = nullptr;
    return reached_;
  }

 private:
  void MaybeQuit(const std::string& call) {
    if (runner_ && call == quit_on_) {
      reached_ = true;
      runner_->Quit();
    }
  }

  base::LoopRunner* runner_ = nullptr;
  std::string quit_on_;
  bool reached_ = false;
};

// A front end of its own: runs a runner over the "hang" steps, writes the
// back end's pid and waits until it is killed.
CHILD_PROCESS_MAIN(RunnerFrontEnd) {
  const base::CommandLine& cl = ChildCommandLine();
  base::MessageLoop loop;
  test::ScopedSettingsSeams seams("RunnerFrontEnd");
  std::unique_ptr<Settings> settings = MakeSettings(cl.GetSwitchValuePath(kFolderSwitch));
  BackendOptions options;
  options.steps = "hang";
  options.package = cl.GetSwitchValuePath(kPackageSwitch);
  options.marker = cl.GetSwitchValuePath(kMarkerSwitch);
  options.reg_key = cl.GetSwitchValueNative(kRegKeySwitch);
  InstallerRunner runner(options.package, base::FilePath());
  runner.OnPackageReady();
  runner.SetCommandLineHookForTesting(base::Bind(&RedirectToChildBackend, options));
  RecordingObserver observer;
  runner.AddObserver(&observer);
  if (!runner.Start(settings.get()))
    return 2;
  const std::string pid =
      base::NumberToString(static_cast<unsigned>(runner.backend_process().Pid()));
  base::WriteFileBytes(cl.GetSwitchValuePath(kPidFileSwitch), pid.data(),
                       static_cast<int>(pid.size()));
  observer.RunUntil("terminated", base::TimeSpan::FromSeconds(120));
  return 3;
}

class InstallerRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    package_ = temp_.GetPath().Append(L"package");
    MakeSeamPackage(package_);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    // Named kernel objects follow the folder: unique per test and process.
    install_folder_ = temp_.GetPath().Append(base::UTF8ToWide(
        base::FormatString("Velmo %s %lu", info->name(), ::GetCurrentProcessId())));
    reg_key_ = L"Software\\VelmoRunnerTest_" + base::UTF8ToWide(info->name()) + L"_" +
               base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId()));
  }
  void TearDown() override {
    base::win::RegistryKey software;
    if (software.Open(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS) == ERROR_SUCCESS)
      software.DeleteKey(reg_key_.substr(wcslen(L"Software\\")).c_str());
  }

  std::unique_ptr<InstallerRunner> MakeRunner(const BackendOptions& options,
                                              const base::FilePath& components = {}) {
    auto runner = std::make_unique<InstallerRunner>(package_, components);
    runner->SetCommandLineHookForTesting(base::Bind(&RedirectToChildBackend, options));
    runner->AddObserver(&observer_);
    return runner;
  }

  // Starts |runner| with |settings| (the package present) and runs until
  // its back end reports success; |backend| then refers to the back end's
  // process, which the runner may still be watching.
  void RunUntilSuccess(InstallerRunner* runner, Settings* settings,
                       base::win::ScopedHandle* backend) {
    runner->OnPackageReady();
    ASSERT_TRUE(runner->Start(settings));
    ASSERT_TRUE(observer_.RunUntil("success"));
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), runner->backend_process().Handle(),
                                  ::GetCurrentProcess(), &duplicate,
                                  SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0));
    backend->Reset(duplicate);
  }

  BackendOptions Options(const std::string& steps) {
    BackendOptions options;
    options.steps = steps;
    options.package = package_;
    return options;
  }

  // Expects the changes of a "success-vanish" or "success-wait" back end
  // in place, and no journal left for the next run to replay.
  void ExpectTheCompletedRunKept() {
    EXPECT_TRUE(base::PathExists(install_folder_.Append(BrowserExeName())));
    EXPECT_TRUE(RegistryKeyExists(reg_key_));
    EXPECT_TRUE(RollBackInterruptedInstallations(install_folder_, 0));
    EXPECT_TRUE(base::PathExists(install_folder_.Append(BrowserExeName())));
    EXPECT_TRUE(RegistryKeyExists(reg_key_));
  }

  // Whether a thread other than this one can take the mutex of the folder
  // at once (an owned mutex always lets its owner in again).
  bool MutexFreeForOtherThread() {
    DWORD result = WAIT_FAILED;
    base::PlainThread thread("MutexProbe", base::Bind([&] {
                               base::win::ScopedHandle mutex(
                                   ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                                GetInstallerMutexName(install_folder_).c_str()));
                               if (!mutex.IsValid()) {
                                 result = WAIT_OBJECT_0;  // Nobody holds it: gone.
                                 return;
                               }
                               result = ::WaitForSingleObject(mutex.Get(), 0);
                               if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
                                 ::ReleaseMutex(mutex.Get());
                             }));
    EXPECT_TRUE(thread.Start());
    thread.Join();
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }

  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"InstallerRunner"};
  base::ScopedTempDir temp_;
  base::FilePath package_;
  base::FilePath install_folder_;
  std::wstring reg_key_;
  RecordingObserver observer_;
};

TEST_F(InstallerRunnerTest, InvalidSettingsFailWithoutTakingAnything) {
  // Uninstalling where nothing is installed: no operation.
  ASSERT_TRUE(base::CreateDirectoryTree(install_folder_));
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUnknown, settings->GetOperation());
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  EXPECT_FALSE(runner->Start(settings.get()));
  EXPECT_EQ(std::vector<std::string>{"error 37058"}, observer_.calls);
  EXPECT_EQ("Attempting to start installation with invalid settings", observer_.error_detail);
  EXPECT_TRUE(observer_.error_text.empty());
  EXPECT_TRUE(settings->IsModifiable());
  base::win::ScopedHandle mutex(
      ::OpenMutexW(SYNCHRONIZE, FALSE, GetInstallerMutexName(install_folder_).c_str()));
  EXPECT_FALSE(mutex.IsValid());
}

// Start failures after the settings were accepted: each is reported once,
// nothing is launched, and stopping lets the folder's mutex go.
TEST_F(InstallerRunnerTest, StartFailuresAfterTheSettingsAreAccepted) {
  struct Case {
    const char* name;
    const wchar_t* occupied;  // An object of another kind under this event's name.
    bool package_present;
    const char* detail;
  };
  const Case cases[] = {
      {"no back-end program", nullptr, true, "Could not launch installer backend process"},
      {"interruption event", kInstallationInterruptedEventName, true,
       "Could not create installation interruption event"},
      {"package-ready event", kPackageReadyEventName, false,
       "Could not create package ready event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    observer_.calls.clear();
    observer_.error_detail.clear();
    std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
    ASSERT_NE(Settings::kOperationUnknown, settings->GetOperation());
    // The real launch, from a package folder without the installer.
    const base::FilePath empty_package = temp_.GetPath().Append(L"empty package");
    ASSERT_TRUE(base::CreateDirectoryTree(empty_package));
    auto runner = std::make_unique<InstallerRunner>(empty_package, base::FilePath());
    runner->AddObserver(&observer_);
    if (c.package_present)
      runner->OnPackageReady();
    base::win::ScopedHandle occupied;
    if (c.occupied) {
      occupied.Reset(::CreateMutexW(
          nullptr, FALSE, GetKernelObjectName(install_folder_, c.occupied, true).c_str()));
      ASSERT_TRUE(occupied.IsValid());
    }
    EXPECT_FALSE(runner->Start(settings.get()));
    EXPECT_EQ(std::vector<std::string>{"error 37055"}, observer_.calls);
    EXPECT_EQ(c.detail, observer_.error_detail);
    EXPECT_FALSE(runner->backend_running());
    EXPECT_FALSE(runner->backend_process().IsValid());
    runner->Stop();
    EXPECT_TRUE(MutexFreeForOtherThread());
  }
}

// The whole road with the package present: the command line the runner
// writes, then every report of the back end in order, then its end.
TEST_F(InstallerRunnerTest, RunsTheBackEndAndDispatchesItsReportsInOrder) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  ASSERT_EQ(Settings::kOperationInstall, settings->GetOperation());
  base::CommandLine launched;
  BackendOptions options = Options("ok");
  options.launched = &launched;
  std::unique_ptr<InstallerRunner> runner =
      MakeRunner(options, temp_.GetPath().Append(L"extras").Append(L"components.json"));
  runner->OnPackageReady();
  ScopedLogCapture log;
  ASSERT_TRUE(runner->Start(settings.get()));
  EXPECT_FALSE(settings->IsModifiable());
  ASSERT_TRUE(observer_.RunUntil("terminated"));

  EXPECT_EQ(package_.Append(L"installer.exe"), launched.GetProgram());
  EXPECT_TRUE(launched.HasSwitch(kBackendSwitch));
  EXPECT_FALSE(launched.HasSwitch(kWaitForPackageSwitch));
  EXPECT_EQ(L"server_tracking_data", launched.GetSwitchValueNative(kServerTrackingDataSwitch));
  EXPECT_EQ(base::NumberToString(static_cast<unsigned>(::GetCurrentProcessId())),
            launched.GetSwitchValueASCII(kInitialPidSwitch));
  EXPECT_EQ("0", launched.GetSwitchValueASCII(kCrashReporterPidSwitch));
  EXPECT_EQ(L"suite:components.json", launched.GetSwitchValueNative(kComponentsSwitch));
  const std::string handle = launched.GetSwitchValueASCII(kInitialProcHandleSwitch);
  EXPECT_EQ(16u, handle.size());
  EXPECT_EQ(handle, base::ToUpperASCII(handle));
  // The package is present: no package-ready event was made.
  base::win::ScopedHandle ready(
      ::OpenEventW(SYNCHRONIZE, FALSE,
                   GetKernelObjectName(install_folder_, kPackageReadyEventName, true).c_str()));
  EXPECT_FALSE(ready.IsValid());

  ASSERT_GE(observer_.calls.size(), 5u);
  EXPECT_EQ("folder ready", observer_.calls[0]);
  EXPECT_EQ(0u, observer_.calls[1].rfind("total ", 0));
  size_t i = 2;
  int steps = 0;
  for (; i < observer_.calls.size() && observer_.calls[i] == "step"; ++i)
    ++steps;
  EXPECT_EQ(4, steps);  // Three scheduled steps and the last step's own.
  EXPECT_EQ((std::vector<std::string>{"success", "terminated true"}),
            std::vector<std::string>(observer_.calls.begin() + i, observer_.calls.end()));
  EXPECT_FALSE(runner->backend_running());
  EXPECT_EQ(1, log.Count("launching installer backend: "));
  EXPECT_EQ(1, log.Count("Installer backend process signaled"));

  // The back end has ended: stopping lets other threads take the mutex.
  runner->Stop();
  EXPECT_TRUE(MutexFreeForOtherThread());
  EXPECT_TRUE(base::PathExists(install_folder_));  // Committed.
}

// A controller that stops the runner as soon as the back end has ended
// must leave the mutex free, not owned by a thread with nothing running.
TEST_F(InstallerRunnerTest, StoppingOnTerminationReleasesTheMutex) {
  class StopOnEnd : public InstallerDelegate {
   public:
    void OnInstallFolderReady() override {}
    void OnStartingNewMainProcess(bool) override {}
    void OnReturnedToPreviousMainProcess() override {}
    void OnTotalSteps(int) override {}
    void OnStep() override {}
    void OnError(int, const std::wstring&, const std::string&) override {}
    void OnSuccess() override {}
    void OnInstallerTerminated(bool) override { runner->Stop(); }
    InstallerRunner* runner = nullptr;
  } stop_on_end;
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  stop_on_end.runner = runner.get();
  runner->AddObserver(&stop_on_end);
  runner->OnPackageReady();
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  EXPECT_EQ("terminated true", observer_.calls.back());
  EXPECT_TRUE(MutexFreeForOtherThread());
}

// The owner of a runner deletes the package folder the back end runs from as
// soon as the runner has gone, often right after the back end's success:
// the runner must not go before the back end has ended.
TEST_F(InstallerRunnerTest, ARunnerThatGoesWaitsForItsBackEndToEnd) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("linger"));
  base::win::ScopedHandle backend;
  ASSERT_NO_FATAL_FAILURE(RunUntilSuccess(runner.get(), settings.get(), &backend));
  ASSERT_TRUE(runner->backend_running()) << "the back end ended before the test could see it run";
  runner.reset();
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(backend.Get(), 0))
      << "the runner went while its back end still ran";
  EXPECT_TRUE(base::PathExists(install_folder_));  // The run was not undone.
}

// While the runner waits for its back end's end, it answers what the back
// end sends to this thread's windows: a back end whose send went unanswered
// could not end, and the wait would last its whole bound.
TEST_F(InstallerRunnerTest, WaitingForTheBackEndAnswersItsSentMessages) {
  const std::wstring title = L"VelmoRunnerTest " + install_folder_.BaseName().value();
  ScopedWindow window(::CreateWindowExW(0, L"STATIC", title.c_str(), WS_POPUP, 0, 0, 1, 1, nullptr,
                                        nullptr, nullptr, nullptr));
  ASSERT_TRUE(window.IsValid());
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  BackendOptions options = Options("linger");
  options.window = title;
  std::unique_ptr<InstallerRunner> runner = MakeRunner(options);
  base::win::ScopedHandle backend;
  ASSERT_NO_FATAL_FAILURE(RunUntilSuccess(runner.get(), settings.get(), &backend));
  runner.reset();
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(backend.Get(), 0));
  DWORD exit_code = 0;
  ASSERT_TRUE(::GetExitCodeProcess(backend.Get(), &exit_code));
  EXPECT_EQ(0u, exit_code) << "the back end's send to the waiting front end went unanswered";
}

TEST_F(InstallerRunnerTest, WaitsForThePackageUntilTheEventIsSignalled) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  base::CommandLine launched;
  BackendOptions options = Options("ok");
  options.launched = &launched;
  std::unique_ptr<InstallerRunner> runner = MakeRunner(options);
  ASSERT_TRUE(runner->Start(settings.get()));
  base::FilePath own_exe;
  base::PathRegistry::Get(base::kPathExeFile, &own_exe);
  EXPECT_EQ(own_exe, launched.GetProgram());
  EXPECT_EQ(package_, launched.GetSwitchValuePath(kWaitForPackageSwitch));

  ASSERT_TRUE(observer_.RunUntil("folder ready"));
  base::LoopRunner().RunUntilIdle();
  EXPECT_EQ(std::vector<std::string>{"folder ready"}, observer_.calls);
  ScopedLogCapture log;
  runner->OnPackageReady();
  runner->OnPackageReady();  // Once only.
  EXPECT_EQ(1, log.Count("Informing the installer backend that the package is ready"));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  // The back end handed over to the package's own installer, which
  // succeeded.
  EXPECT_EQ((std::vector<std::string>{"folder ready", "starting false", "returned", "success",
                                      "terminated true"}),
            observer_.calls);
}

TEST_F(InstallerRunnerTest, StopWhileWaitingInterruptsTheBackEndCleanly) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("folder ready"));
  runner->Stop();
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  EXPECT_EQ((std::vector<std::string>{"folder ready", "terminated false"}), observer_.calls);
  int exit_code = 0;
  ASSERT_TRUE(runner->backend_process().WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(1, exit_code);
  // The install folder the run created was rolled back.
  EXPECT_FALSE(base::PathExists(install_folder_));
}

// Holds every datagram on the IPC thread until it is opened, so that the
// runner sees the end of the back end while the back end's reports are still
// on their way. It can open itself when the runner logs that it has seen the
// end: that line comes first in the runner's handling of the end, so every
// held report reaches the main thread only after that handling.
class HandOverGate {
 public:
  explicit HandOverGate(bool open_on_backend_end)
      : gate_(base::WaitableEvent::ResetPolicy::kManual,
              base::WaitableEvent::InitialState::kNotSignaled),
        open_on_backend_end_(open_on_backend_end),
        previous_handler_(logging::GetLogMessageHandler()) {
    active_ = this;
    logging::SetVlogLevels("1", "");
    logging::SetLogMessageHandler(&OnLogLine);
    IpcReceiver::SetHandOverHookForTesting(&WaitForOpening);
  }
  HandOverGate(const HandOverGate&) = delete;
  HandOverGate& operator=(const HandOverGate&) = delete;
  ~HandOverGate() {
    Open();
    IpcReceiver::SetHandOverHookForTesting(nullptr);
    logging::SetLogMessageHandler(previous_handler_);
    logging::SetVlogLevels("0", "");
    active_ = nullptr;
  }

  void Open() { gate_.Signal(); }

  // Runs the loop until the runner has handled the end of the back end.
  bool RunUntilBackendEndSeen() {
    if (backend_end_seen_)
      return true;
    base::LoopRunner runner;
    runner_ = &runner;
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(), kRunTimeout);
    runner.Run();
    runner_ = nullptr;
    return backend_end_seen_;
  }

 private:
  static void WaitForOpening() {
    // Bounded: a test that fails never leaves the IPC thread stuck.
    if (active_)
      active_->gate_.TimedWait(base::TimeSpan::FromSeconds(30));
  }

  static bool OnLogLine(int severity, const char* file, int line, size_t start,
                        const std::string& text) {
    HandOverGate* gate = active_;
    if (gate && text.find("Installer backend process signaled", start) != std::string::npos) {
      gate->backend_end_seen_ = true;
      if (gate->open_on_backend_end_)
        gate->Open();
      // The quit runs after the rest of the runner's handling of the end.
      if (gate->runner_)
        base::CurrentTaskRunner::Get()->PostTask(FROM_HERE, gate->runner_->QuitClosure());
    }
    return gate && gate->previous_handler_ &&
           gate->previous_handler_(severity, file, line, start, text);
  }

  static HandOverGate* active_;
  base::WaitableEvent gate_;
  const bool open_on_backend_end_;
  bool backend_end_seen_ = false;
  base::LoopRunner* runner_ = nullptr;
  logging::LogMessageHandlerFunction previous_handler_;
};

HandOverGate* HandOverGate::active_ = nullptr;

// The back end's end is seen while its last reports still wait to be handed
// over: the observers must hear of every report first.
TEST_F(InstallerRunnerTest, EndOfTheBackEndIsReportedAfterItsLastReports) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("burst"));
  runner->OnPackageReady();
  HandOverGate gate(/*open_on_backend_end=*/true);
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  ASSERT_GE(observer_.calls.size(), 4u);
  EXPECT_EQ("folder ready", observer_.calls[0]);
  EXPECT_EQ(0u, observer_.calls[1].rfind("total ", 0));
  EXPECT_EQ(std::vector<std::string>(kBurstSteps + 1, "step"),
            std::vector<std::string>(observer_.calls.begin() + 2, observer_.calls.end() - 2));
  EXPECT_EQ("success", observer_.calls[observer_.calls.size() - 2]);
  EXPECT_EQ("terminated true", observer_.calls.back());
}

// A failed back end leaves the front end's log naming the cause: the one it
// reported, once, or, when it reported none, how it ended.
TEST_F(InstallerRunnerTest, TheFrontEndLogsWhyItsBackEndFailed) {
  struct Case {
    const char* mode;
    const char* logged;
  } cases[] = {
      {"fail", "The installer back end failed: the test step failed"},
      {"vanish", "The installer back end ended with exit code 3 without reporting a cause"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
    std::unique_ptr<InstallerRunner> runner = MakeRunner(Options(c.mode));
    runner->OnPackageReady();
    ScopedLogCapture log;
    ASSERT_TRUE(runner->Start(settings.get()));
    ASSERT_TRUE(observer_.RunUntil("terminated"));
    EXPECT_EQ("terminated false", observer_.calls.back());
    EXPECT_EQ(1, log.Count(c.logged));
    EXPECT_EQ(1, log.Count("The installer back end "));
    runner->Stop();
    observer_.calls.clear();
  }
}

// A back end that changed the machine, saw its run reported successful and
// was then ended before it settled its own transaction: its journal is part
// of the completed installation. The runner sees the end before it reads the
// success report, and must still drop the journal rather than undo it.
TEST_F(InstallerRunnerTest, AnEndSeenBeforeTheSuccessReportKeepsTheCompletedRun) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  BackendOptions options = Options("success-vanish");
  options.reg_key = reg_key_;
  std::unique_ptr<InstallerRunner> runner = MakeRunner(options);
  runner->OnPackageReady();
  HandOverGate gate(/*open_on_backend_end=*/true);
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  // The back end's own step reports go through its sender thread and may
  // come after the success it wrote itself.
  EXPECT_NE(observer_.calls.end(),
            std::find(observer_.calls.begin(), observer_.calls.end(), "success"))
      << ::testing::PrintToString(observer_.calls);
  EXPECT_EQ("terminated false", observer_.calls.back());
  runner->Stop();
  ExpectTheCompletedRunKept();
}

// The same back end ended while the runner is going: the runner sees the
// end only in its own end-of-run wait, and drops the journal there too.
TEST_F(InstallerRunnerTest, ARunnerThatGoesDropsTheJournalOfACompletedRun) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  BackendOptions options = Options("success-wait");
  options.reg_key = reg_key_;
  std::unique_ptr<InstallerRunner> runner = MakeRunner(options);
  base::win::ScopedHandle backend;
  ASSERT_NO_FATAL_FAILURE(RunUntilSuccess(runner.get(), settings.get(), &backend));
  // Ended with no loop run after it: the runner's watcher cannot report it.
  ASSERT_TRUE(runner->backend_process().Terminate(3, /*wait=*/true));
  runner.reset();
  ExpectTheCompletedRunKept();
}

// A mailslot that is no longer read loses the marker: the end is reported
// all the same, after the marker's time-out.
TEST_F(InstallerRunnerTest, EndOfTheBackEndIsReportedWhenTheMarkerNeverComes) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  runner->OnPackageReady();
  HandOverGate gate(/*open_on_backend_end=*/false);
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(gate.RunUntilBackendEndSeen());
  EXPECT_TRUE(observer_.calls.empty());
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  // Nothing was handed over: the time-out, not the marker, ended the wait.
  EXPECT_EQ(std::vector<std::string>{"terminated true"}, observer_.calls);
  gate.Open();
  runner->Stop();
}

// Stopping a runner whose back end has ended reports the end from a task of
// its own: an observer that stops the runner in turn is never called inside
// the Stop of another.
TEST_F(InstallerRunnerTest, StopReportsAPendingEndFromATask) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  runner->OnPackageReady();
  HandOverGate gate(/*open_on_backend_end=*/false);
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(gate.RunUntilBackendEndSeen());
  // The held reports may follow once the mailslot is closed; they come
  // before the end all the same.
  gate.Open();
  runner->Stop();
  EXPECT_TRUE(observer_.calls.empty());
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  EXPECT_EQ("terminated true", observer_.calls.back());
  EXPECT_EQ(1, std::count(observer_.calls.begin(), observer_.calls.end(), "terminated true"));
}

// The user tries again soon after a back end ended: the time-out that was
// armed for the first end must not report the second before its reports.
TEST_F(InstallerRunnerTest, AnEarlierEndsTimeOutNeverReportsTheNextBackEnd) {
  constexpr base::TimeSpan kMarkerTimeout = base::TimeSpan::FromSeconds(20);
  InstallerRunner::SetTerminationMarkerTimeoutForTesting(kMarkerTimeout);
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("ok"));
  runner->OnPackageReady();
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  // The first end came with its marker; its time-out is still armed.
  runner->Stop();
  settings->SetModifiable(true);
  runner->RemoveObserver(&observer_);
  RecordingObserver second;
  runner->AddObserver(&second);

  // Try Again: the second back end's reports are held until the test lets
  // them go.
  HandOverGate gate(/*open_on_backend_end=*/false);
  // The first end was before this moment and the second comes after it: a
  // marker time-out from here lies after the first end's and before the
  // second's.
  const base::MonotonicTime between = base::MonotonicTime::Now() + kMarkerTimeout;
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(gate.RunUntilBackendEndSeen());
  const base::TimeSpan until_between = between - base::MonotonicTime::Now();
  if (until_between.InMilliseconds() > 0) {
    // Past the first end's time-out: nothing of the second may be reported
    // while its reports are held.
    EXPECT_FALSE(second.RunUntil("terminated", until_between))
        << ::testing::PrintToString(second.calls);
  } else {
    // A machine this slow cannot tell; the order below is still checked.
    GTEST_LOG_(WARNING) << "the second back end took longer than the marker's time-out";
  }
  gate.Open();
  ASSERT_TRUE(second.RunUntil("terminated"));
  ASSERT_GE(second.calls.size(), 3u) << ::testing::PrintToString(second.calls);
  EXPECT_EQ("folder ready", second.calls.front());
  EXPECT_EQ("success", second.calls[second.calls.size() - 2]);
  EXPECT_EQ("terminated true", second.calls.back());
  EXPECT_EQ(1, std::count(second.calls.begin(), second.calls.end(), "terminated true"));
  runner->Stop();
  runner->RemoveObserver(&second);
  InstallerRunner::SetTerminationMarkerTimeoutForTesting(base::TimeSpan());
}

TEST_F(InstallerRunnerTest, MalformedDatagramsAreDroppedAndTheRunGoesOn) {
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> runner = MakeRunner(Options("junk"));
  runner->OnPackageReady();
  ScopedLogCapture log;
  ASSERT_TRUE(runner->Start(settings.get()));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  EXPECT_EQ("success", observer_.calls[observer_.calls.size() - 2]);
  EXPECT_EQ("terminated true", observer_.calls.back());
  for (const std::string& call : observer_.calls)
    EXPECT_EQ(std::string::npos, call.find("error")) << call;
  // The two-byte datagram, the header-only one and the bad signature.
  EXPECT_EQ(3, log.Count("Received a message without installer signature"));
  EXPECT_EQ(1, log.Count("Received installer message with invalid type"));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_ERROR message"));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_TOTAL_STEPS message"));
}

// A front end in another process runs a back end that has changed the
// machine and waits. A second front end for the folder is refused; once the
// first front end dies, its back end rolls back and quits, and the next
// front end takes the abandoned mutex.
TEST_F(InstallerRunnerTest, FrontEndDeathRollsBackAndAbandonsTheMutex) {
  const base::FilePath marker = temp_.GetPath().Append(L"hang_reached");
  const base::FilePath pid_file = temp_.GetPath().Append(L"backend_pid");
  base::CommandLine front_end = testing::GetChildCommandLine("RunnerFrontEnd");
  front_end.AppendSwitchPath(kFolderSwitch, install_folder_);
  front_end.AppendSwitchPath(kPackageSwitch, package_);
  front_end.AppendSwitchPath(kMarkerSwitch, marker);
  front_end.AppendSwitchPath(kPidFileSwitch, pid_file);
  front_end.AppendSwitchNative(kRegKeySwitch, reg_key_);
  base::Process front_end_process = base::LaunchProcess(front_end, base::LaunchOptions());
  ASSERT_TRUE(front_end_process.IsValid());
  if (!WaitForFile(marker, 120)) {
    int exit_code = -1;
    const bool ended = front_end_process.WaitForExitWithTimeout(0, &exit_code);
    front_end_process.Terminate(1, true);
    FAIL() << "the back end never reached its hang; the front end "
           << (ended ? "ended with " + std::to_string(exit_code) : std::string("still ran"));
  }
  std::string pid_text;
  ASSERT_TRUE(base::ReadFileToString(pid_file, &pid_text));
  uint32_t pid = 0;
  ASSERT_TRUE(base::StringToUint(pid_text, &pid));
  base::Process backend = base::Process::Open(pid);
  ASSERT_TRUE(backend.IsValid());
  EXPECT_TRUE(base::PathExists(install_folder_.Append(BrowserExeName())));
  EXPECT_TRUE(RegistryKeyExists(reg_key_));

  {
    std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
    std::unique_ptr<InstallerRunner> second = MakeRunner(Options("ok"));
    EXPECT_FALSE(second->Start(settings.get()));
    EXPECT_EQ(std::vector<std::string>{"error 37057"}, observer_.calls);
    EXPECT_EQ("Could not acquire installer mutex", observer_.error_detail);
    observer_.calls.clear();
  }

  // Kept open so that the mutex outlives both processes of the first run.
  base::win::ScopedHandle mutex(
      ::OpenMutexW(SYNCHRONIZE, FALSE, GetInstallerMutexName(install_folder_).c_str()));
  ASSERT_TRUE(mutex.IsValid());
  ASSERT_TRUE(front_end_process.Terminate(9, /*wait=*/true));
  {
    // The killed front end could not delete its settings' test key.
    base::win::RegistryKey software;
    if (software.Open(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      software.DeleteKey((L"VelmoSettingsTest_" +
                          base::NumberToString16(static_cast<unsigned>(front_end_process.Pid())) +
                          L"_RunnerFrontEnd")
                             .c_str());
    }
  }
  int exit_code = 0;
  ASSERT_TRUE(backend.WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(1, exit_code);
  EXPECT_FALSE(base::PathExists(install_folder_.Append(BrowserExeName())));
  EXPECT_FALSE(RegistryKeyExists(reg_key_));

  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  std::unique_ptr<InstallerRunner> next = MakeRunner(Options("ok"));
  next->OnPackageReady();
  ScopedLogCapture log;
  ASSERT_TRUE(next->Start(settings.get()));
  EXPECT_EQ(1, log.Count("abandoned"));
  ASSERT_TRUE(observer_.RunUntil("terminated"));
  EXPECT_EQ("terminated true", observer_.calls.back());
}

// The real host and back end over a package fixture.
class RealInstallerRunTest : public InstallerRunnerTest {
 protected:
  // Runs the real host over a demo package into |install_folder|; the
  // reports land in |observer_|, the host's log in |log_text|. False when the
  // runner could not start the back end.
  // A package of the real host and engine with a stand-in browser, made once
  // per test.
  base::FilePath DemoPackage() {
    const base::FilePath demo = temp_.GetPath().Append(L"demo_package");
    test::MakeDemoPackage(demo);
    return demo;
  }

  bool RunDemoPackage(const base::FilePath& install_folder, std::string* log_text) {
    const base::FilePath demo = DemoPackage();
    // The host writes its log below the temporary folder (TMP, then TEMP),
    // which the back end inherits.
    const base::FilePath log_folder =
        install_folder.DirName().Append(install_folder.BaseName().value() + L" logs");
    EXPECT_TRUE(base::CreateDirectoryTree(log_folder));
    wchar_t saved[2][MAX_PATH];
    const wchar_t* const kTempVariables[] = {L"TMP", L"TEMP"};
    std::wstring saved_temp[2];
    for (int i = 0; i < 2; ++i) {
      DWORD length = GetEnvironmentVariableW(kTempVariables[i], saved[i], MAX_PATH);
      saved_temp[i].assign(saved[i], length < MAX_PATH ? length : 0);
      EXPECT_TRUE(SetEnvironmentVariableW(kTempVariables[i], log_folder.value().c_str()));
    }

    std::unique_ptr<Settings> settings = MakeSettings(install_folder);
    InstallerRunner runner(demo, base::FilePath());
    runner.AddObserver(&observer_);
    runner.OnPackageReady();
    const bool started = runner.Start(settings.get());
    for (int i = 0; i < 2; ++i)
      SetEnvironmentVariableW(kTempVariables[i], saved_temp[i].c_str());
    EXPECT_TRUE(started);
    if (!started)
      return false;
    backend_pid_ = runner.backend_process().Pid();
    EXPECT_TRUE(observer_.RunUntil("terminated", base::TimeSpan::FromSeconds(120)));

    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(
        log_folder.Append(L"Velmo Installer").Append(L"velmo_installer_*.log").value().c_str(),
        &found);
    if (find != INVALID_HANDLE_VALUE) {
      ::FindClose(find);
      base::ReadFileToString(log_folder.Append(L"Velmo Installer").Append(found.cFileName),
                             log_text);
    }
    return true;
  }

  // The back end of the last RunDemoPackage.
  DWORD backend_pid_ = 0;

  // Expects the reports of a successful installation.
  void ExpectInstalled(const base::FilePath& install_folder, const std::string& log_text) {
    ASSERT_GE(observer_.calls.size(), 5u) << log_text;
    EXPECT_EQ("folder ready", observer_.calls[0]);
    EXPECT_EQ(0u, observer_.calls[1].rfind("total ", 0));
    size_t i = 2;
    while (i < observer_.calls.size() && observer_.calls[i] == "step")
      ++i;
    EXPECT_GT(i, 2u);
    EXPECT_EQ((std::vector<std::string>{"success", "terminated true"}),
              std::vector<std::string>(observer_.calls.begin() + i, observer_.calls.end()))
        << observer_.error_detail;
    EXPECT_TRUE(base::PathExists(install_folder));
  }
};

#if defined(VELMO_TEST_CRASH_TRIGGER)
// The real back end crashes right after its crash reporting started: the
// crash reaches the reporter that the front end named (this test), and the
// front end sees a failed run.
TEST_F(RealInstallerRunTest, RealBackEndCrashReachesTheReporter) {
  const base::FilePath demo = DemoPackage();
  crash_reporter::RecordingCrashServer reporter;
  ASSERT_TRUE(reporter.Start());
  crash_reporter::SetCrashReporterPid(::GetCurrentProcessId());
  ::SetEnvironmentVariableW(crash_reporter::kTestCrashVariable, L"backend:access-violation");
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  InstallerRunner runner(demo, base::FilePath());
  runner.AddObserver(&observer_);
  runner.OnPackageReady();
  const bool started = runner.Start(settings.get());
  ::SetEnvironmentVariableW(crash_reporter::kTestCrashVariable, nullptr);
  crash_reporter::SetCrashReporterPid(0);
  ASSERT_TRUE(started);
  const DWORD backend_pid = runner.backend_process().Pid();
  ASSERT_TRUE(observer_.RunUntil("terminated", base::TimeSpan::FromSeconds(120)));
  EXPECT_EQ("terminated false", observer_.calls.back());

  ASSERT_EQ(1u, reporter.dumps().size());
  const crash_reporter::RecordedDump dump = reporter.dumps()[0];
  EXPECT_EQ(backend_pid, dump.pid);
  EXPECT_EQ(0xC0000005, dump.exception_code);
  EXPECT_EQ(L"installer", dump.Value(L"process_type"));
}

// The same crash served by a real reporter, started as this test's own: it
// writes the back end's crash log and its minidump into its crash-log folder.
TEST_F(RealInstallerRunTest, RealBackEndCrashIsLoggedByARealReporter) {
  const base::FilePath demo = DemoPackage();
  const base::FilePath logs = temp_.GetPath().Append(L"crash logs");
  const std::wstring init_name =
      crash_reporter::kCrashReporterInitEventPrefix + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle init_event(::CreateEventW(nullptr, TRUE, FALSE, init_name.c_str()));
  ASSERT_TRUE(init_event.IsValid());
  const std::pair<const wchar_t*, std::wstring> environment[] = {
      {L"VELMO_CRASH_LOG_DIR", logs.value()},
      {L"VELMO_CRASH_KEEP_LOGS", L"1"},
      // Nothing listens there: the pre-flight and the uploads fail at once.
      {L"VELMO_CRASH_SERVER_URL", L"http://127.0.0.1:1/crash"},
      {L"VELMO_ALTERNATIVE_CRASH_SERVER_URL", L"http://127.0.0.1:1/collector"}};
  for (const auto& [name, value] : environment)
    ::SetEnvironmentVariableW(name, value.c_str());
  base::CommandLine reporter_command(BuildDir().Append(L"installer.exe"));
  reporter_command.AppendSwitchASCII(kCrashReporterParentIdSwitch,
                                     std::to_string(::GetCurrentProcessId()));
  reporter_command.AppendSwitchASCII("with-feature:alternative-crash-logging", "on");
  base::Process reporter = base::LaunchProcess(reporter_command, base::LaunchOptions());
  ASSERT_TRUE(reporter.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event.Get(), 120000));

  crash_reporter::SetCrashReporterPid(reporter.Pid());
  ::SetEnvironmentVariableW(crash_reporter::kTestCrashVariable, L"backend:breakpoint");
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  InstallerRunner runner(demo, base::FilePath());
  runner.AddObserver(&observer_);
  runner.OnPackageReady();
  const bool started = runner.Start(settings.get());
  ::SetEnvironmentVariableW(crash_reporter::kTestCrashVariable, nullptr);
  for (const auto& [name, value] : environment)
    ::SetEnvironmentVariableW(name, nullptr);
  crash_reporter::SetCrashReporterPid(0);
  ASSERT_TRUE(started);
  ASSERT_TRUE(observer_.RunUntil("terminated", base::TimeSpan::FromSeconds(120)));
  EXPECT_EQ("terminated false", observer_.calls.back());
  int exit_code = 0;
  ASSERT_TRUE(runner.backend_process().WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(0x80000003u, static_cast<DWORD>(exit_code));

  // The reporter serves this test as long as it lives: both files exist
  // once the back end has ended.
  const std::wstring prefix = L"velmo-crashlog-" + std::to_wstring(reporter.Pid()) + L"-1";
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(logs.Append(prefix + L".txt"), &text));
  EXPECT_NE(std::string::npos, text.find("caused exception 80000003 at")) << text.substr(0, 300);
  EXPECT_NE(std::string::npos, text.find("process_type=\"installer\""));
  int64_t dump_size = 0;
  EXPECT_TRUE(base::GetFileSize(logs.Append(prefix + L".dmp"), &dump_size));
  EXPECT_GT(dump_size, 0);
  reporter.Terminate(0, true);
}
#endif  // defined(VELMO_TEST_CRASH_TRIGGER)

TEST_F(RealInstallerRunTest, RealInstallerInstallsTheDemoPackage) {
  std::string log_text;
  ASSERT_TRUE(RunDemoPackage(install_folder_, &log_text));
  ExpectInstalled(install_folder_, log_text);
}

// Checks one process's trace file: every event carries the process's id
// and the fields trace viewers need, arguments have the types the sites
// write, complete events nest per thread, and every flow that ends somewhere
// started somewhere. Returns the names of the threads.
std::set<std::string> CheckTrace(const std::string& json, int pid) {
  std::set<std::string> thread_names;
  std::unique_ptr<base::Value> parsed = base::JsonReader::Read(json);
  base::DictValue* root = nullptr;
  base::ListValue* events = nullptr;
  EXPECT_TRUE(parsed && parsed->GetAsDictionary(&root) && root->GetList("traceEvents", &events))
      << json.substr(0, 200);
  if (!events)
    return thread_names;
  struct Interval {
    double begin;
    double end;
    std::string name;
  };
  std::map<int, std::vector<Interval>> complete_by_thread;
  std::map<int, int> begin_end_balance;
  std::set<std::string> flow_outs;
  std::vector<std::string> flow_ins;
  constexpr double kOpen = 1e300;
  for (size_t i = 0; i < events->size(); ++i) {
    base::DictValue* event = nullptr;
    if (!events->GetDictionary(i, &event)) {
      ADD_FAILURE() << "event " << i << " is no dictionary";
      continue;
    }
    int event_pid = 0, tid = 0;
    double ts = -1;
    std::string phase, category, name;
    base::DictValue* args = nullptr;
    EXPECT_TRUE(event->GetInteger("pid", &event_pid));
    EXPECT_EQ(pid, event_pid);
    EXPECT_TRUE(event->GetInteger("tid", &tid));
    EXPECT_TRUE(event->GetDouble("ts", &ts));
    EXPECT_EQ(std::floor(ts), ts) << "ts is not an integer";
    EXPECT_TRUE(event->GetString("ph", &phase));
    EXPECT_TRUE(event->GetString("cat", &category));
    EXPECT_TRUE(event->GetString("name", &name));
    EXPECT_TRUE(event->GetDictionary("args", &args)) << name;
    if (!args)
      continue;
    // The types the sites write.
    std::string text;
    int number = 0;
    for (const char* string_arg : {"src_file", "src_func"}) {
      if (args->HasKey(string_arg)) {
        EXPECT_TRUE(args->GetString(string_arg, &text)) << name << " " << string_arg;
      }
    }
    for (const char* integer_arg : {"queue_duration", "message"}) {
      if (args->HasKey(integer_arg)) {
        EXPECT_TRUE(args->GetInteger(integer_arg, &number)) << name << " " << integer_arg;
      }
    }
    if (name == "MessageLoop::RunTask") {
      EXPECT_TRUE(args->GetString("src_file", &text));
      EXPECT_TRUE(args->GetString("src_func", &text));
    }
    if (phase == "M" && name == "thread_name") {
      EXPECT_TRUE(args->GetString("name", &text));
      for (const std::string& part :
           base::SplitString(text, ",", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
        thread_names.insert(part);
      }
    }
    if (phase == "X") {
      double duration = -1;
      double end = kOpen;
      if (event->GetDouble("dur", &duration)) {
        EXPECT_GE(duration, 0) << name;
        end = ts + duration;
      }
      complete_by_thread[tid].push_back({ts, end, name});
    } else if (phase == "B") {
      ++begin_end_balance[tid];
    } else if (phase == "E") {
      --begin_end_balance[tid];
    }
    bool flag = false;
    std::string bind_id;
    if (event->GetBoolean("flow_out", &flag) && flag) {
      EXPECT_TRUE(event->GetString("bind_id", &bind_id)) << name;
      flow_outs.insert(bind_id);
    }
    if (event->GetBoolean("flow_in", &flag) && flag) {
      EXPECT_TRUE(event->GetString("bind_id", &bind_id)) << name;
      flow_ins.push_back(bind_id);
    }
  }
  size_t task_runs = 0;
  for (const auto& [tid, intervals] : complete_by_thread) {
    for (const Interval& interval : intervals)
      task_runs += interval.name == "MessageLoop::RunTask" ? 1 : 0;
  }
  EXPECT_GT(task_runs, 0u);
  for (auto& [tid, intervals] : complete_by_thread) {
    // Outer scopes first: earlier begin, then the longer one.
    std::sort(intervals.begin(), intervals.end(), [](const Interval& a, const Interval& b) {
      return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    std::vector<const Interval*> open;
    for (const Interval& interval : intervals) {
      while (!open.empty() && open.back()->end <= interval.begin)
        open.pop_back();
      if (!open.empty()) {
        EXPECT_LE(interval.end, open.back()->end)
            << interval.name << " overlaps " << open.back()->name << " on thread " << tid;
      }
      open.push_back(&interval);
    }
  }
  for (const auto& [tid, balance] : begin_end_balance)
    EXPECT_EQ(0, balance) << "thread " << tid;
  EXPECT_FALSE(flow_ins.empty());
  for (const std::string& bind_id : flow_ins)
    EXPECT_EQ(1u, flow_outs.count(bind_id)) << "flow " << bind_id << " never started";
  return thread_names;
}

// With VELMO_TRACE_FILE set, the back end records its whole run; the
// installation itself is the same as without tracing.
TEST_F(RealInstallerRunTest, TracedRunRecordsTheBackEnd) {
  std::string log_text;
  const base::FilePath plain_folder =
      install_folder_.DirName().Append(install_folder_.BaseName().value() + L" plain");
  ASSERT_TRUE(RunDemoPackage(plain_folder, &log_text));
  ExpectInstalled(plain_folder, log_text);
  const std::vector<std::string> plain_calls = observer_.calls;
  observer_.calls.clear();
  observer_.error_detail.clear();

  const base::FilePath trace_base = temp_.GetPath().Append(L"trace");
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELMO_TRACE_FILE", trace_base.value().c_str()));
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELMO_TRACE_CATEGORIES",
                                      L"toplevel,base,disabled-by-default-toplevel.flow"));
  const bool ran = RunDemoPackage(install_folder_, &log_text);
  SetEnvironmentVariableW(L"VELMO_TRACE_FILE", nullptr);
  SetEnvironmentVariableW(L"VELMO_TRACE_CATEGORIES", nullptr);
  ASSERT_TRUE(ran);
  ExpectInstalled(install_folder_, log_text);
  EXPECT_EQ(plain_calls, observer_.calls);

  // The test is the front end and records nothing. The back end writes its
  // trace; the crash reporter it starts (none is named to it here) may write
  // one of its own, which is not looked at.
  EXPECT_FALSE(base::PathExists(base::FilePath(
      trace_base.value() + L"." + std::to_wstring(::GetCurrentProcessId()) + L".json")));
  const int pid = static_cast<int>(backend_pid_);
  ASSERT_NE(0, pid);
  const std::wstring file_name =
      trace_base.BaseName().value() + L"." + std::to_wstring(pid) + L".json";
  ASSERT_TRUE(base::PathExists(temp_.GetPath().Append(file_name))) << "no trace of the back end";
  std::string json;
  ASSERT_TRUE(base::ReadFileToString(temp_.GetPath().Append(file_name), &json));
  const std::set<std::string> thread_names = CheckTrace(json, pid);
  EXPECT_EQ(1u, thread_names.count("Installer IPC thread"));
}

TEST_F(InstallerRunnerTest, BackEndWithoutAFrontEndDescriptionFails) {
  // This process's command line has neither switch.
  ASSERT_FALSE(base::CommandLine::ForCurrentProcess()->HasSwitch(kInitialProcHandleSwitch));
  ASSERT_FALSE(base::CommandLine::ForCurrentProcess()->HasSwitch(kInitialPidSwitch));
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  ScopedLogCapture log;
  EXPECT_FALSE(RunInstallerBackend(settings.get()));
  EXPECT_EQ(1, log.Count("Missing information about initial process"));
  EXPECT_TRUE(settings->IsModifiable());  // Nothing was run.
}

}  // namespace
}  // namespace installer
