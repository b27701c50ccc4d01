#include "desktop/windows/installer/installer_runner.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bind.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/rand_util.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/threading/current_task_runner.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/launch_lock.h"
#include "desktop/windows/installer/run_log.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"

namespace installer {

namespace {

constexpr wchar_t kServerTrackingDataFileName[] = L"server_tracking_data";
constexpr char kComponentsSuitePrefix[] = "suite:";
// The first field of the marker the runner writes behind the back end's last
// reports.
constexpr char kTerminationMarkerSignature[] = ":Installer runner marker:";
// How long the end of the back end waits for its marker: only a mailslot
// that is no longer read loses it.
constexpr base::TimeSpan kTerminationMarkerTimeout = base::TimeSpan::FromSeconds(5);
// How long an installer the ended back end started may take to stop.
constexpr DWORD kInterruptedRunWaitMs = 60 * 1000;
// How long a runner that goes while its back end still runs waits for the
// back end's end. A back end that has reported its result ends within
// moments; one told to stop rolls back first.
constexpr DWORD kBackendEndWaitMs = 30 * 1000;

std::atomic<int64_t> g_marker_timeout_for_testing_ms{0};

base::TimeSpan TerminationMarkerTimeout() {
  const int64_t ms = g_marker_timeout_for_testing_ms.load();
  return ms > 0 ? base::TimeSpan::FromMilliseconds(ms) : kTerminationMarkerTimeout;
}

}  // namespace

InstallerRunner::InstallerRunner(const base::FilePath& package_folder,
                                 const base::FilePath& components_file)
    : package_folder_(package_folder), components_file_(components_file), receiver_(this) {}

InstallerRunner::~InstallerRunner() {
  // Observers are not called from the destructor.
  termination_pending_ = false;
  const bool was_running = backend_running_;
  // Stop lets go of the settings; the folder is needed to settle below.
  const base::FilePath install_folder =
      settings_ ? settings_->GetInstallFolder() : base::FilePath();
  Stop();
  if (!backend_process_.IsValid())
    return;
  backend_watcher_.StopWatching();
  // The back end runs from the package folder, which its owner deletes once
  // the runner has gone: a program that still runs cannot be deleted, and
  // the package would stay behind in the download folder. A back end ends
  // soon after its last report, so the runner waits for that end.
  if (was_running &&
      !base::WaitForProcessAnsweringSentMessages(backend_process_.Handle(), kBackendEndWaitMs)) {
    LOG(WARNING) << "The installer back end (pid " << backend_process_.Pid()
                 << ") is still running after " << kBackendEndWaitMs / 1000
                 << " s; its package folder may stay behind";
    return;
  }
  // The back end settles its own part of the run (the folder it made, the
  // remembered path) only after the installer it started has reported the
  // success. Ended in between, it leaves a journal that the next run would
  // replay against a completed installation: it is dropped instead. One
  // that ended before the runner goes and whose end was not reported yet is
  // settled the same way, with the reports read so far.
  if (was_running && backend_reported_success_)
    ended_backend_folder_ = install_folder;
  SettleEndedBackEnd();
}

void InstallerRunner::AddObserver(InstallerDelegate* observer) { observers_.AddObserver(observer); }

void InstallerRunner::RemoveObserver(InstallerDelegate* observer) {
  observers_.RemoveObserver(observer);
}

bool InstallerRunner::ReportStartFailure(int string_id, const char* detail, DWORD error) {
  if (error != 0)
    ELOG(ERROR, error) << detail;
  else
    LOG(ERROR) << detail;
  observers_.Notify(&InstallerDelegate::OnError, string_id, std::wstring(), std::string(detail));
  return false;
}

bool InstallerRunner::CreateInstallationEvent(const wchar_t* name, const char* log_text,
                                              base::win::ScopedHandle* event) {
  const std::wstring event_name =
      GetKernelObjectName(settings_->GetInstallFolder(), name, /*global=*/true);
  VLOG(1) << log_text << event_name;
  event->Reset(
      ::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, event_name.c_str()));
  // The caller reports the failure, with the system's error.
  if (!event->IsValid())
    return false;
  return true;
}

bool InstallerRunner::Start(Settings* settings) {
  if (settings == settings_)
    LOG(INFO) << "Duplicate installation attempt detected";
  LOG(INFO) << "Beginning installation";
  CHECK(settings) << "Start without settings";
  CHECK(!settings_) << "The runner already holds settings";
  CHECK(!settings->IsFetchingStatus()) << "The settings are still reading a folder status";
  CHECK(!backend_running_) << "The installer back end is already running";

  if (settings->GetOperation() == Settings::kOperationUnknown)
    return ReportStartFailure(IDS_ERROR_INVALID_LOCATION,
                              "Attempting to start installation with invalid settings");

  settings->SetModifiable(false);
  settings_ = settings;
  const base::FilePath& install_folder = settings->GetInstallFolder();

  // The mutex handle is inherited by the back end, which keeps the
  // object alive for as long as it runs.
  const std::wstring mutex_name = GetInstallerMutexName(install_folder);
  VLOG(1) << "Installer mutex name: " << mutex_name;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  mutex_.Reset(::CreateMutexW(&inheritable, FALSE, mutex_name.c_str()));
  if (!mutex_.IsValid()) {
    return ReportStartFailure(IDS_ERROR_INSTALLER_ALREADY_RUNNING,
                              "Could not create installer mutex", ::GetLastError());
  }
  // A front end that died while its back end ran leaves the mutex
  // abandoned: that counts as acquired.
  const DWORD wait = ::WaitForSingleObject(mutex_.Get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    mutex_.Reset();
    return ReportStartFailure(IDS_ERROR_INSTALLER_ALREADY_RUNNING,
                              "Could not acquire installer mutex");
  }
  if (wait == WAIT_ABANDONED)
    VLOG(1) << "The installer mutex was abandoned by a front end that ended; taken over";

  const std::wstring mailslot_name = GetInstallerMailslotName(install_folder);
  VLOG(1) << "Installer mailslot name: " << mailslot_name;
  mailslot_name_ = mailslot_name;
  if (!receiver_.Connect(mailslot_name))
    return ReportStartFailure(IDS_ERROR_INSTALL_FAILED, "Could not connect to mailslot");

  base::CommandLine command_line;
  settings->ToCommandLine(&command_line, /*suppress_launch=*/false);
  command_line.AppendSwitchPath(kServerTrackingDataSwitch,
                                base::FilePath(kServerTrackingDataFileName));
  command_line.AppendSwitchASCII(kInitialPidSwitch,
                                 base::FormatString("%lu", ::GetCurrentProcessId()));
  command_line.AppendSwitchASCII(kCrashReporterPidSwitch,
                                 base::FormatString("%u", crash_reporter::GetCrashReporterPid()));
  AppendRunLogSwitch(&command_line);

  if (!CreateInstallationEvent(kInstallationInterruptedEventName,
                               "Event name for interrupted installation: ", &interrupted_event_)) {
    return ReportStartFailure(IDS_ERROR_INSTALL_FAILED,
                              "Could not create installation interruption event", ::GetLastError());
  }

  if (package_present_) {
    VLOG(1) << "Package is already available";
    command_line.SetProgram(package_folder_.Append(kPackageInstallerFileName));
  } else {
    if (!CreateInstallationEvent(kPackageReadyEventName,
                                 "Event name for package_ready: ", &package_ready_event_)) {
      return ReportStartFailure(IDS_ERROR_INSTALL_FAILED, "Could not create package ready event",
                                ::GetLastError());
    }
    command_line.AppendSwitchPath(kWaitForPackageSwitch, package_folder_);
    base::FilePath exe;
    if (!base::PathRegistry::Get(base::kPathExeFile, &exe)) {
      LOG(ERROR) << "Cannot find own file path";
      return ReportStartFailure(IDS_ERROR_INSTALL_FAILED,
                                "Could not launch installer backend process");
    }
    command_line.SetProgram(exe);
  }

  if (!components_file_.empty()) {
    command_line.AppendSwitchNative(kComponentsSwitch, base::ASCIIToWide(kComponentsSuitePrefix) +
                                                           components_file_.BaseName().value());
  }

  return LaunchBackend(&command_line);
}

bool InstallerRunner::LaunchBackend(base::CommandLine* command_line) {
  base::Process process;
  {
    base::AutoLock launch_lock(GetLaunchLock());
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                           &duplicate, SYNCHRONIZE, /*bInheritHandle=*/TRUE, 0)) {
      return ReportStartFailure(IDS_ERROR_INSTALL_FAILED, "Could not duplicate own process handle",
                                ::GetLastError());
    }
    // Closed here once the back end has its inherited copy.
    base::win::ScopedHandle own_process(duplicate);
    command_line->AppendSwitchASCII(kInitialProcHandleSwitch,
                                    EncodeProcessHandleSwitch(own_process.Get()));
    if (command_line_hook_)
      command_line_hook_.Run(command_line);
    LOG(INFO) << "launching installer backend: " << command_line->GetCommandLineString();
    base::LaunchOptions options;
    options.inherit_handles = true;
    process = base::LaunchProcess(*command_line, options);
  }

  if (!process.IsValid())
    return ReportStartFailure(IDS_ERROR_INSTALL_FAILED,
                              "Could not launch installer backend process");
  backend_process_ = std::move(process);
  backend_running_ = true;
  backend_reported_failure_ = false;
  backend_reported_success_ = false;
  if (!::AllowSetForegroundWindow(backend_process_.Pid()))
    VLOG(1) << "AllowSetForegroundWindow failed: " << ::GetLastError();
  VLOG(2) << "Installer backend started.";
  if (!backend_watcher_.StartWatchingOnce(backend_process_.Handle(), this)) {
    ReportStartFailure(IDS_ERROR_INSTALL_FAILED, "Could not monitor the installer process handle");
    Stop();
    return false;
  }
  return true;
}

void InstallerRunner::OnPackageReady() {
  if (package_present_)
    return;
  VLOG(2) << "Recording that we have the package";
  package_present_ = true;
  if (!backend_running_)
    return;
  LOG(INFO) << "Informing the installer backend that the package is ready";
  // A back end launched with the package present never waits for it, and
  // has no such event.
  if (package_ready_event_.IsValid() && !::SetEvent(package_ready_event_.Get()))
    PLOG(ERROR) << "Could not signal the package ready event";
}

void InstallerRunner::Stop() {
  LOG(INFO) << "Stopping installer backend (if running)";
  if (backend_running_) {
    if (interrupted_event_.IsValid() && !::SetEvent(interrupted_event_.Get()))
      PLOG(ERROR) << "Could not signal the installation interrupted event";
    VLOG(1) << "Sending installation interrupted event";
  }
  if (mutex_.IsValid()) {
    VLOG(1) << "Letting go of the installer mutex";
    // A running back end holds its inherited handle; the mutex is abandoned
    // when this thread ends, which the next front end counts as acquired.
    if (!backend_running_ && !::ReleaseMutex(mutex_.Get()))
      PLOG(ERROR) << "Could not release the installer mutex";
    mutex_.Reset();
  }
  interrupted_event_.Reset();
  package_ready_event_.Reset();
  receiver_.Close();
  mailslot_name_.clear();
  settings_ = nullptr;
  // Nothing more arrives from the mailslot: an ended back end is reported
  // now rather than after the marker's time-out. Posted, not called: the
  // caller is often an observer, whose own Stop would run inside this one.
  if (termination_pending_) {
    base::CurrentTaskRunner::Get()->PostTask(
        FROM_HERE, base::Bind(&InstallerRunner::FinishTerminationOf, weak_factory_.GetWeakRef(),
                              termination_generation_));
  }
}

void InstallerRunner::OnMessageReceived(const base::BinaryMessage& message) {
  if (termination_pending_ && IsTerminationMarker(message)) {
    FinishTermination();
    return;
  }
  InstallerMessage decoded;
  // A message that does not read is logged and dropped; the run goes on.
  if (!ReadInstallerMessage(message, &decoded))
    return;
  if (decoded.type == IPC_MESSAGE_ERROR && !backend_reported_failure_) {
    // The back end logged the cause in its own log; the front end's log,
    // which a user reads first, names it too.
    backend_reported_failure_ = true;
    LOG(ERROR) << "The installer back end failed: " << decoded.detail;
  }
  if (decoded.type == IPC_MESSAGE_SUCCESS)
    backend_reported_success_ = true;
  for (InstallerDelegate& observer : observers_)
    decoded.DeliverTo(&observer);
}

void InstallerRunner::OnObjectSignaled(HANDLE object) {
  if (object == backend_process_.Handle())
    OnBackendProcessSignaled();
}

void InstallerRunner::SettleEndedBackEnd() {
  if (ended_backend_folder_.empty())
    return;
  const base::FilePath install_folder = std::move(ended_backend_folder_);
  ended_backend_folder_ = base::FilePath();
  // Ended after its run's success: its journal describes part of the
  // completed installation, not changes to undo.
  if (backend_reported_success_) {
    DropJournalOfCompletedRun(install_folder, backend_process_.Handle());
    return;
  }
  // A back end ended from outside ran no rollback of its own. The installer
  // from the package that it may have started ends with it, or was told to
  // stop when the end was seen (a failed back end never got that far); what
  // either left is undone from their journals once they have ended. This
  // process still holds the folder's installer mutex, so no other run can
  // be in the way.
  RollBackInterruptedInstallations(install_folder, kInterruptedRunWaitMs);
}

void InstallerRunner::OnBackendProcessSignaled() {
  VLOG(1) << "Installer backend process signaled";
  DWORD exit_code = 1;
  bool success = false;
  if (!::GetExitCodeProcess(backend_process_.Handle(), &exit_code))
    PLOG(ERROR) << "Could not read the installer backend's exit code";
  else
    success = exit_code == 0;
  // Cleared at once: one that stops the runner before the termination is
  // reported must see the back end gone, or the mutex would stay owned by
  // this thread with nothing running.
  backend_running_ = false;
  if (!success && settings_) {
    // The installer from the package that the back end may have started is
    // told at once to stop; one that has reported its success already is
    // past stopping and ignores it.
    if (interrupted_event_.IsValid() && !::SetEvent(interrupted_event_.Get()))
      PLOG(ERROR) << "Could not signal the installation interrupted event";
    // Whether its journal is undone or dropped depends on whether the run
    // reported success, and that report may still be in the mailslot: the
    // journal is settled once the reports written before the end are read.
    ended_backend_folder_ = settings_->GetInstallFolder();
  }
  termination_pending_ = true;
  termination_success_ = success;
  termination_unasked_failure_ = !success && settings_;
  backend_exit_code_ = exit_code;
  // Each end has its own generation: a time-out left over from an earlier
  // back end (the user tried again within it) must not report this one.
  ++termination_generation_;
  // The back end wrote its last reports before it ended, but the IPC thread
  // may not have read them yet: the observers hear of the end after them.
  if (!SendTerminationMarker()) {
    FinishTermination();
    return;
  }
  base::CurrentTaskRunner::Get()->PostDelayedTask(
      FROM_HERE,
      base::Bind(&InstallerRunner::FinishTerminationOf, weak_factory_.GetWeakRef(),
                 termination_generation_),
      TerminationMarkerTimeout());
}

bool InstallerRunner::SendTerminationMarker() {
  if (mailslot_name_.empty())
    return false;
  const std::wstring name = L"\\\\.\\mailslot\\" + mailslot_name_;
  base::win::ScopedHandle mailslot(::CreateFileW(name.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot.IsValid()) {
    VLOG(1) << "The mailslot is gone (" << ::GetLastError()
            << "); reporting the end of the back end at once";
    return false;
  }
  termination_marker_ = base::RandUint64();
  base::BinaryMessage marker;
  marker.WriteString(kTerminationMarkerSignature);
  marker.WriteUInt64(termination_marker_);
  DWORD written = 0;
  if (!::WriteFile(mailslot.Get(), marker.data(), static_cast<DWORD>(marker.size()), &written,
                   nullptr) ||
      written != marker.size()) {
    PLOG(WARNING) << "Could not write the termination marker to the mailslot";
    return false;
  }
  return true;
}

bool InstallerRunner::IsTerminationMarker(const base::BinaryMessage& message) const {
  base::BinaryMessageReader reader(message);
  std::string signature;
  uint64_t value = 0;
  return reader.ReadString(&signature) && signature == kTerminationMarkerSignature &&
         reader.ReadUInt64(&value) && value == termination_marker_;
}

void InstallerRunner::FinishTerminationOf(uint64_t generation) {
  if (generation != termination_generation_) {
    VLOG(1) << "A report for an earlier back end's end is dropped";
    return;
  }
  FinishTermination();
}

// static
void InstallerRunner::SetTerminationMarkerTimeoutForTesting(base::TimeSpan timeout) {
  g_marker_timeout_for_testing_ms.store(timeout.InMilliseconds());
}

void InstallerRunner::FinishTermination() {
  if (!termination_pending_)
    return;
  termination_pending_ = false;
  // Every report of the back end has been read by now: one that ended
  // (or was ended from outside) without saying why is named by its exit
  // code, so that no failed run's log is without a cause.
  if (termination_unasked_failure_ && !backend_reported_failure_) {
    LOG(ERROR) << "The installer back end ended with exit code " << backend_exit_code_
               << " without reporting a cause";
  }
  SettleEndedBackEnd();
  observers_.Notify(&InstallerDelegate::OnInstallerTerminated, termination_success_);
}

}  // namespace installer
