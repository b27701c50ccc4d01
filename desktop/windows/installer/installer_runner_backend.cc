#include "desktop/windows/installer/installer_runner_backend.h"

#include <utility>

#include "base/command_line.h"
#include "base/logging.h"
#include "desktop/windows/installer/association_change_notice.h"
#include "desktop/windows/installer/backend_command_line.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"

namespace installer {

namespace {

// Long enough for one window's answer to the broadcast; a broadcast that
// waits on more is not worth keeping the process for.
constexpr base::TimeSpan kBroadcastWait = base::TimeSpan::FromSeconds(2);

}  // namespace

InstallerRunnerBackend::InstallerRunnerBackend() : installer_(std::make_unique<Installer>()) {}

InstallerRunnerBackend::~InstallerRunnerBackend() {
  initial_process_watcher_.StopWatching();
  initial_process_.Reset();
  if (waiting_for_settings_ && settings_)
    settings_->RemoveObserver(this);
  // A run that has not ended is rolled back here, before the sender goes.
  installer_.reset();
}

bool InstallerRunnerBackend::OpenInitialProcess() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const BackendCommandLine own(command_line);
  if (own.initial_process_handle().given) {
    if (!own.initial_process_handle().readable) {
      LOG(ERROR) << "Failed parsing initial process handle";
      return false;
    }
    VLOG(1) << "Using initial process handle "
            << EncodeProcessHandleSwitch(own.initial_process_handle().value);
    initial_process_.Reset(own.initial_process_handle().value);
  } else if (own.initial_pid().given) {
    if (!own.initial_pid().readable) {
      LOG(ERROR) << "Failed parsing initial pid";
      return false;
    }
    VLOG(1) << "Using initial pid " << own.initial_pid().value;
    initial_process_.Reset(::OpenProcess(SYNCHRONIZE, FALSE, own.initial_pid().value));
    if (!initial_process_.IsValid()) {
      PLOG(ERROR) << "Failed opening initial process";
      return false;
    }
  } else if (command_line.HasSwitch(kRegisterAsProtocolHandlerSwitch)) {
    // Started on its own: there is no front end to follow.
    return true;
  } else {
    LOG(ERROR) << "Missing information about initial process";
    return false;
  }
  // A front end that ended before this process could watch it (killed
  // while it started this one) neither hands over a package nor takes a
  // report: nothing is started for it, and nothing waits for it.
  const DWORD wait = ::WaitForSingleObject(initial_process_.Get(), 0);
  if (wait != WAIT_TIMEOUT) {
    if (wait == WAIT_FAILED)
      PLOG(ERROR) << "Cannot watch the installer UI process";
    else
      LOG(ERROR) << "The installer UI process has already ended";
    return false;
  }
  if (!initial_process_watcher_.StartWatchingOnce(initial_process_.Get(), this)) {
    LOG(ERROR) << "Failed watching initial process";
    return false;
  }
  return true;
}

bool InstallerRunnerBackend::Run(Settings* settings) {
  CHECK(settings) << "Run without settings";
  CHECK(!settings_) << "The back end runs once";
  settings_ = settings;
  if (!OpenInitialProcess())
    return false;

  installer_->AddObserver(this);
  if (settings->IsFetchingStatus()) {
    VLOG(1) << "Waiting for settings to be ready";
    waiting_for_settings_ = true;
    settings->AddObserver(this);
  } else {
    VLOG(1) << "Settings already obtained. Running.";
    StartInstallation();
  }

  loop_runner_.Run();

  LOG(INFO) << "Installer backend exiting";
  if (waiting_for_settings_) {
    // The front end ended before the settings were complete.
    waiting_for_settings_ = false;
    settings->RemoveObserver(this);
  }
  installer_->RemoveObserver(this);
  // Other programs hear of a changed browser registration from a broadcast
  // on the thread pool; exiting would cut it short.
  WaitForAssociationChangeBroadcasts(kBroadcastWait);
  return installer_->success();
}

void InstallerRunnerBackend::OnSettingsObtained() {
  if (!waiting_for_settings_)
    return;
  VLOG(1) << "Settings obtained. Running.";
  waiting_for_settings_ = false;
  settings_->RemoveObserver(this);
  StartInstallation();
}

void InstallerRunnerBackend::StartInstallation() {
  VLOG(2) << "Starting installation";
  // A mailslot that cannot be opened is logged by the sender; the run goes
  // on, its reports are dropped.
  sender_.Connect(GetInstallerMailslotName(settings_->GetInstallFolder()));
  installer_->Run(settings_);
}

void InstallerRunnerBackend::OnObjectSignaled(HANDLE /*object*/) {
  VLOG(1) << "Installer UI process ended";
  loop_runner_.Quit();
}

void InstallerRunnerBackend::Send(std::unique_ptr<base::BinaryMessage> message) {
  sender_.Send(std::move(message));
}

void InstallerRunnerBackend::OnInstallFolderReady() {
  Send(CreateInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY));
}

void InstallerRunnerBackend::OnStartingNewMainProcess(bool value) {
  VLOG(1) << "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << value << ")";
  std::unique_ptr<base::BinaryMessage> message =
      CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteInt(value ? 1 : 0);
  Send(std::move(message));
}

void InstallerRunnerBackend::OnReturnedToPreviousMainProcess() {
  VLOG(1) << "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
  Send(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
}

void InstallerRunnerBackend::OnTotalSteps(int total_steps) {
  VLOG(1) << "Sending IPC_MESSAGE_TOTAL_STEPS(" << total_steps << ")";
  std::unique_ptr<base::BinaryMessage> message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(total_steps);
  Send(std::move(message));
}

void InstallerRunnerBackend::OnStep() {
  VLOG(1) << "Sending IPC_MESSAGE_STEP";
  Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
}

void InstallerRunnerBackend::OnError(int string_id, const std::wstring& text,
                                     const std::string& detail) {
  VLOG(1) << "Sending IPC_MESSAGE_ERROR(" << string_id << "," << text << "," << detail << ")";
  // Queued on the IPC thread ahead of the sender's closing.
  Send(CreateInstallerErrorMessage(string_id, text, detail));
  loop_runner_.Quit();
}

void InstallerRunnerBackend::OnSuccess() {
  VLOG(1) << "Sending IPC_MESSAGE_SUCCESS";
  Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  loop_runner_.Quit();
}

void InstallerRunnerBackend::OnInstallerTerminated(bool success) {
  VLOG(1) << "Installation is done: " << success;
  loop_runner_.Quit();
}

bool RunInstallerBackend(Settings* settings) {
  InstallerRunnerBackend backend;
  return backend.Run(settings);
}

}  // namespace installer
