#include "desktop/windows/installer/run_installer.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/exit_callback_manager.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/list_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/threading/message_loop.h"
#include "base/trace_event/trace_file_recording.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/early_download_folder_probe.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/folder_permission_helper.h"
#include "desktop/windows/installer/installer_options.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/interrupted_uninstallation.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/loggable_command_line.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/crash_reporter_server.h"
#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"
#include "desktop/windows/crash_reporter/self_report.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/run_log.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/silent_installer_controller.h"
#include "desktop/windows/installer/status_fetch.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/ui/installer_ui_controller.h"
#include "desktop/windows/installer/ui/window_resource_preloader.h"

namespace installer {
namespace {

// The modes read from the command line at start-up.
struct StartupModes {
  bool backend = false;
  bool uninstall = false;
  bool silent = false;
  bool run_immediately = false;
  bool autoupdate = false;
  bool replace_tarsel_installation = false;
};

// How long the end of a run waits for installation-status reads that are
// still running on the thread pool.
constexpr base::TimeSpan kStatusReadWait = base::TimeSpan::FromSeconds(10);

#if defined(VELMO_TEST_CRASH_TRIGGER)
// Test builds: a back end first waits until the manual-reset event that
// VELMO_TEST_BACKEND_GATE names is set (for at most kTestGateWaitMs), so
// that a test can hold a run while its front end holds the install folder's
// installer mutex, and start another run against it whatever the timing.
constexpr DWORD kTestGateWaitMs = 600 * 1000;

void WaitAtTestBackendGate() {
  wchar_t name[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"VELMO_TEST_BACKEND_GATE", name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;
  base::win::ScopedHandle gate(::OpenEventW(SYNCHRONIZE, FALSE, name));
  if (!gate.IsValid())
    return;
  LOG(INFO) << "Waiting at the test gate " << name;
  ::WaitForSingleObject(gate.Get(), kTestGateWaitMs);
}
#else
void WaitAtTestBackendGate() {}
#endif

// Initialises the experiment states from the "installer-experiments" list of
// the installation's "installer_prefs.json", when it has one.
void ReadExperimentsFromInstallation(const base::FilePath& install_folder,
                                     base::FeatureRegistry* features) {
  VLOG(1) << "Retrieving experiment states from installation folder...";
  base::SharedRef<prefs::JsonPrefStore> store = prefs::OpenJsonPrefStore(
      prefs::GetPrefsTaskPool(), install_folder.Append(Installation::kInstallerPrefsFileName));
  const base::Value* value = nullptr;
  const base::ListValue* list = nullptr;
  if (!store->GetValue("installer-experiments", &value) || !value->GetAsList(&list))
    return;
  std::vector<std::string> entries;
  for (size_t i = 0; i < list->size(); ++i) {
    std::string entry;
    if (list->GetString(i, &entry))
      entries.push_back(entry);
  }
  features->InitializeFromReader(base::ListFeatureReader(std::move(entries)));
  VLOG(1) << "Retrieved experiment states from installation folder";
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

// Where the front end of |command_line| downloads and unpacks, as
// FindDownloadFolder finds it first; empty when there is no such folder.
base::FilePath TemporaryInstallerFolder(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(kTempFolderSwitch))
    return command_line.GetSwitchValuePath(kTempFolderSwitch).Append(GetInstallerFolderName());
  base::FilePath folder;
  if (!base::PathRegistry::Get(base::kPathTempDirectory, &folder))
    return base::FilePath();
  return folder.Append(GetInstallerFolderName());
}

// Whether the run is an interactive front end's, the one role with a window.
bool WillShowWindow(const base::CommandLine& command_line) {
  for (const char* other_role : {kBackendSwitch, kRegisterAsProtocolHandlerSwitch, kSilentSwitch,
                                 kHelpSwitch, kHelpShortSwitch, kSetFolderPermissionSwitch}) {
    if (command_line.HasSwitch(other_role))
      return false;
  }
  return true;
}

// Whether the run is a front end's that searches for a folder to download
// into (it has no "temp-folder").
bool WillSearchDownloadFolder(const base::CommandLine& command_line) {
  for (const char* other_role : {kBackendSwitch, kRegisterAsProtocolHandlerSwitch, kHelpSwitch,
                                 kHelpShortSwitch, kSetFolderPermissionSwitch, kTempFolderSwitch}) {
    if (command_line.HasSwitch(other_role))
      return false;
  }
  return true;
}

// The folder the front end downloads into: "temp-folder" when given (made
// when missing), otherwise a folder from which a copy of the installer runs;
// the temporary directory's, when |early_probe| found that one runnable.
bool FindDownloadFolder(const base::CommandLine& command_line, const base::FilePath& exe_file,
                        EarlyDownloadFolderProbe* early_probe, base::FilePath* folder) {
  if (command_line.HasSwitch(kTempFolderSwitch)) {
    VLOG(1) << "Using download folder from command line";
    *folder = command_line.GetSwitchValuePath(kTempFolderSwitch).Append(GetInstallerFolderName());
    if (!base::DirectoryExists(*folder) && !base::CreateDirectoryTree(*folder)) {
      LOG(ERROR) << "Could not create temporary installer folder";
      return false;
    }
    return true;
  }
  if (early_probe) {
    *folder = early_probe->TakeRunnableFolder();
    if (!folder->empty())
      return true;
  }
  if (!FindRunnableDirectory(GetInstallerFolderName(), exe_file, folder)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  return true;
}

// Everything of a run after the modes that answer at once: the log, the
// settings and the one role.
bool RunLoggedInstaller(const base::CommandLine& command_line,
                        const base::FilePath& current_install_folder,
                        WindowResourcePreloader* window_preloader,
                        EarlyDownloadFolderProbe* early_probe) {
  // The front end makes a new log; its back end, and what that starts, add
  // to it (run_log.h).
  OpenRunLog(command_line);
  // Every front end adds a log: it keeps only the newest.
  if (!command_line.HasSwitch(kBackendSwitch))
    PruneInstallerLogs(logging::GetLogFilePath(), kKeptInstallerLogs);
  LOG(INFO) << FormatWithProductName("%s installer starting - version ", false)
            << GetVersionString() << " " << GetStreamName();
  LOG(INFO) << "Command line: " << LoggableCommandLine(command_line);
  if (window_preloader)
    window_preloader->DecodeImages();

  StartupModes modes;
  modes.backend = command_line.HasSwitch(kBackendSwitch);
  modes.uninstall = command_line.HasSwitch(kUninstallSwitch);
  modes.silent = command_line.HasSwitch(kSilentSwitch);
  modes.run_immediately = command_line.HasSwitch(kRunImmediatelySwitch);
  modes.autoupdate = command_line.HasSwitch(kAutoupdateSwitch);
  modes.replace_tarsel_installation = command_line.HasSwitch(kReplaceTarselInstallationSwitch);

  base::FilePath exe_dir;
  if (!base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir)) {
    LOG(ERROR) << "Cannot find own dir";
    return false;
  }
  base::FilePath exe_file;
  if (!base::PathRegistry::Get(base::kPathExeFile, &exe_file)) {
    LOG(ERROR) << "Cannot find own file path";
    return false;
  }

  // An uninstallation first undoes what interrupted runs left of the
  // installation: it may be handed to another installer by that.
  if (modes.uninstall && !modes.backend) {
    bool succeeded = false;
    if (StartUninstallation(command_line, current_install_folder, exe_file, &succeeded) ==
        UninstallStart::kDone) {
      // The rollback may have moved a killed run's files back into its
      // unpacked package.
      const base::FilePath download_folder = TemporaryInstallerFolder(command_line);
      if (!download_folder.empty())
        PackageFetcher::RemoveLeftoversOfEndedRuns(download_folder);
      return succeeded;
    }
  }

  base::FilePath browser_exe = exe_dir.Append(GetBrowserExeName());
  bool inside_package = false;
  if (modes.uninstall) {
    if (!base::PathExists(browser_exe)) {
      LOG(ERROR) << "Requested to uninstall, but we are not in a valid "
                 << "installation folder";
      return false;
    }
    inside_package = true;
  } else {
    inside_package = base::PathExists(browser_exe) &&
                     base::PathExists(exe_dir.Append(kFilesListFileName)) &&
                     exe_file.BaseName().value() == kPackageInstallerFileName;
  }

  base::FilePath install_folder;
  if (command_line.HasSwitch(kInstallFolderSwitch)) {
    install_folder = command_line.GetSwitchValuePath(kInstallFolderSwitch);
    LOG(INFO) << "Install folder from command line: " << install_folder;
    if (install_folder.empty() && modes.autoupdate) {
      LOG(INFO) << "It looks like we are autoupdating from V12.";
      install_folder = RecoverInstallFolderFromArgs(command_line);
      LOG(INFO) << "Recovered install folder from command line: " << install_folder;
      if (modes.silent && !install_folder.empty()) {
        LOG(INFO) << "Configuring for V12 autoupdate.";
        modes.silent = false;
        modes.run_immediately = true;
      }
    }
  }

  LOG(INFO) << "Uninstall:" << BoolText(modes.uninstall);
  LOG(INFO) << "Replace Tarsel installation:" << BoolText(modes.replace_tarsel_installation);
  LOG(INFO) << "Silent:" << BoolText(modes.silent);
  LOG(INFO) << "Run Immediately" << BoolText(modes.run_immediately);
  LOG(INFO) << "Backend" << BoolText(modes.backend);
  LOG(INFO) << "Inside package" << BoolText(inside_package);
  LOG(INFO) << "Autoupdate:" << BoolText(modes.autoupdate);
  crash_reporter::LogCrashReportingProblem();

  CHECK(!base::MessageLoop::Current()) << "A message loop already runs on this thread";
  std::unique_ptr<base::MessageLoop> message_loop;
  if (modes.backend || modes.silent) {
    message_loop = std::make_unique<base::MessageLoop>(base::MessageLoop::TYPE_DEFAULT);
    VLOG(1) << "Using default message loop";
  } else {
    message_loop = std::make_unique<base::MessageLoop>(base::MessageLoop::TYPE_UI);
    VLOG(1) << "Using UI message loop";
  }
  // Preference writes still pending when the run ends must reach the disk:
  // the pool's exit callback waits for them.
  prefs::GetPrefsTaskPool()->SetWaitAtExit(true);

  base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
  if (modes.uninstall) {
    ReadExperimentsFromInstallation(current_install_folder, features);
  } else {
    features->InitializeFromReader(base::CommandLineFeatureReader(command_line));
    VLOG(1) << "Obtained experiment states from command line";
  }
  if (features->IsEnabled("installer-experiment-test"))
    LOG(INFO) << "Test experiment is enabled";

  // A package inside an installation or an unpacked package is always the
  // 64-bit one; elsewhere the payload decides, or the system.
  bool x64 = true;
  std::unique_ptr<PayloadReader> payload;
  if (!inside_package) {
    x64 =
        base::win::WindowsVersionInfo::GetInstance()->architecture() == base::win::X64_ARCHITECTURE;
    payload = std::make_unique<PayloadReader>(exe_file);
    switch (payload->type()) {
      case kPayloadTrackingData:
        LOG(INFO) << "Tracking data: " << payload->GetTrackingData();
        break;
      case kPayloadExternalTrackingData:
        LOG(ERROR) << "External should only ever be reported after calling SetPayload";
        break;
      case kPayloadFullPackage:
        LOG(INFO) << "Found full package";
        x64 = true;
        break;
      case kPayloadCorrupted:
        // A damaged installer file runs on as one without a payload: the
        // package is then fetched.
        LOG(ERROR) << "Corrupted payload";
        [[fallthrough]];
      case kPayloadNone:
        LOG(WARNING) << "Failed reading payload";
        if (command_line.HasSwitch(kServerTrackingBlobSwitch)) {
          LOG(INFO) << "Using tracking data from command line";
          payload->SetPayload(command_line.GetSwitchValueASCII(kServerTrackingBlobSwitch));
        }
        break;
      default: break;
    }
  }
  x64 = x64 && features->IsEnabled("installer-support-x64-download");
  VLOG(1) << "Installer architecture: " << (x64 ? "X64" : "X86");

  std::unique_ptr<Settings> settings =
      CreateSettingsForRun(modes.uninstall, modes.silent, modes.autoupdate, install_folder,
                           modes.replace_tarsel_installation, x64);
  bool result = false;
  if (command_line.HasSwitch(kRegisterAsProtocolHandlerSwitch) || modes.backend) {
    VLOG(2) << "Running backend";
    WaitAtTestBackendGate();
    result = RunInstallerBackend(settings.get());
  } else {
    base::FilePath download_folder;
    if (FindDownloadFolder(command_line, exe_file, early_probe, &download_folder)) {
      LOG(INFO) << "Installer download folder: " << download_folder;
      if (modes.silent) {
        VLOG(2) << "Running silent controller";
        result = RunSilentInstaller(settings.get(), payload.get(), download_folder);
      } else {
        VLOG(2) << "Running UI controller";
        InstallerUIController controller;
        result =
            controller.RunUI(settings.get(), payload.get(), download_folder, modes.run_immediately);
      }
      // What runs ended from outside left (put back by a rollback of this
      // run, or never looked at by a run without a fetcher) goes; then only
      // an empty folder goes: whatever the role left there (a package kept
      // for later, another run's files) stays.
      PackageFetcher::RemoveLeftoversOfEndedRuns(download_folder);
      if (!::RemoveDirectoryW(download_folder.value().c_str())) {
        const DWORD error = ::GetLastError();
        VLOG(1) << "The download folder " << download_folder << " stays (error " << error << ")";
      }
    }
  }

  settings.reset();
  payload.reset();
  message_loop.reset();
  // Status reads on the thread pool hold on to the singletons that the exit
  // callbacks are about to destroy.
  WaitForStatusReadsInFlight(kStatusReadWait);
  return result;
}

}  // namespace

bool RunInstallerMain() {
  // Before anything else, so that the whole run is in the trace.
  base::trace_event::ScopedTraceFileRecording trace_recording;
  base::CommandLine::InitForCurrentProcess();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();

  // Answered before anything else is set up: no log file, no COM.
  if (command_line.HasSwitch(kVersionSwitch)) {
    PrintToStdout("%s", GetVersionString().c_str());
    return true;
  }
  if (command_line.HasSwitch(kInternalVersionSwitch)) {
    PrintToStdout("%s", GetInternalVersion().c_str());
    return true;
  }
  if (command_line.HasSwitch(kStreamSwitch)) {
    PrintToStdout("%s", GetStreamName().c_str());
    return true;
  }

  bool result = false;
  bool front_end_run = false;
  {
    base::ExitCallbackManager exit_manager;
    // Ends before the exit callbacks run, as it began after the manager.
    // A crash reporter makes no window and its main thread only waits, never
    // pumping messages, which a single-threaded apartment needs; its work is
    // on the pipe's threads. A multithreaded apartment also spares it the
    // apartment's hidden window, whose display connection under Wine costs
    // tens of milliseconds while the front end waits for the reporter.
    base::win::ScopedComInitializer com(
        command_line.HasSwitch(kCrashReporterParentIdSwitch)
            ? base::win::ScopedComInitializer::Apartment::kMultiThreaded
            : base::win::ScopedComInitializer::Apartment::kSingleThreaded);

    if (!IsProductConfigValid()) {
      // Every name the installer uses comes from the configuration, the
      // log's too: the reason goes to standard error.
      logging::LoggingSettings stderr_only;
      stderr_only.logging_dest = logging::LOG_TO_STDERR | logging::LOG_TO_SYSTEM_DEBUG_LOG;
      logging::InitLogging(stderr_only);
      LOG(ERROR) << "The product configuration is unusable; the installer cannot run";
    } else if (command_line.HasSwitch(kCrashReporterParentIdSwitch)) {
      crash_reporter::InstallReporterCrashHandlers();
      if (command_line.HasSwitch(kCrashReporterExceptionInfoSwitch))
        crash_reporter::RunCrashReporterSelfReport();
      else
        crash_reporter::RunCrashReporterServer();
      // What the reporter achieved is in its logs; the run itself succeeded.
      result = true;
    } else {
      // Crash reporting comes first, so that it covers everything after.
      crash_reporter::DisableExceptionCallbackFilter();
      // A run that will show the window has the window's libraries loaded
      // while the crash reporter starts, and its images decoded once the log
      // is open, beside the rest of the start-up (which waits for a probe
      // process too).
      std::unique_ptr<WindowResourcePreloader> window_preloader;
      if (WillShowWindow(command_line))
        window_preloader = std::make_unique<WindowResourcePreloader>();
      // The download folder's probe starts a process of its own, and so
      // does the crash reporter: both start at once.
      std::unique_ptr<EarlyDownloadFolderProbe> early_probe;
      base::FilePath exe_file;
      if (WillSearchDownloadFolder(command_line) &&
          base::PathRegistry::Get(base::kPathExeFile, &exe_file)) {
        early_probe =
            std::make_unique<EarlyDownloadFolderProbe>(GetInstallerFolderName(), exe_file);
      }
      if (crash_reporter::EnsureCrashReporterProcess())
        crash_reporter::ConnectCrashReporterClient();
      crash_reporter::InitializeCrashKeys();
      crash_reporter::MaybeTriggerTestCrash(
          command_line.HasSwitch(kBackendSwitch) ||
                  command_line.HasSwitch(kRegisterAsProtocolHandlerSwitch)
              ? "backend"
              : "frontend");

      RegisterInstallerExperiments(*base::FeatureRegistry::GetInstance());
      const base::FilePath current_install_folder = Installation::GetCurrent()->folder();
      if (command_line.HasSwitch(kHelpSwitch) || command_line.HasSwitch(kHelpShortSwitch)) {
        PrintUsage();
        result = true;
      } else if (command_line.HasSwitch(kSetFolderPermissionSwitch)) {
        // Started by a back end, for its run: its lines go to the run's log.
        AddToNamedRunLog(command_line);
        RunFolderPermissionHelper();
        if (command_line.HasSwitch(kRunUninstallBatSwitch))
          RunUninstallBat(current_install_folder);
        result = true;
      } else {
        result = RunLoggedInstaller(command_line, current_install_folder, window_preloader.get(),
                                    early_probe.get());
        front_end_run = !command_line.HasSwitch(kBackendSwitch);
      }
    }
  }
  if (front_end_run && !result) {
    // The front end's log ends with what its exit code stands for: the
    // first error the run met. Written once the exit callbacks have ended
    // the run's threads, and after the back end, which adds to the same
    // file, has ended (the controllers wait for it).
    const std::string cause = logging::GetFirstErrorMessage();
    LOG(INFO) << "The run failed (exit code 1): "
              << (cause.empty() ? std::string("no error was logged") : cause);
  }
  return result;
}

}  // namespace installer
