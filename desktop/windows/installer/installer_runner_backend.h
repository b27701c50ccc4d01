// InstallerRunnerBackend: the back-end process's side of an installation.
// It watches the front-end process that launched it, waits until the
// settings are complete, runs the Installer and turns every InstallerDelegate
// call of the installer into one message on the front end's mailslot.
//
//   InstallerRunnerBackend backend;   // after the thread's MessageLoop
//   bool success = backend.Run(settings);
//
// Main thread only.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/binary_message.h"
#include "base/threading/loop_runner.h"
#include "base/threading/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/settings_observer.h"

namespace installer {

class Installer;
class Settings;

class InstallerRunnerBackend : public InstallerDelegate,
                               public SettingsObserver,
                               public base::ObjectWatcher::Delegate {
 public:
  // Needs the calling thread's MessageLoop.
  InstallerRunnerBackend();
  InstallerRunnerBackend(const InstallerRunnerBackend&) = delete;
  InstallerRunnerBackend& operator=(const InstallerRunnerBackend&) = delete;
  // Stops watching the front end, then destroys the installer (which rolls
  // back a run that did not end) and the sender (which writes what is
  // queued).
  ~InstallerRunnerBackend() override;

  // Runs the back end over |settings| (not owned) to its end on this thread
  // and returns the installer's success flag. False at once, before anything
  // is installed or sent, when the front-end process cannot be found from
  // the process command line. Once per object.
  bool Run(Settings* settings);

  // Tests: the installer, to bind a step list of their own.
  Installer* installer() { return installer_.get(); }

  // InstallerDelegate:
  void OnInstallFolderReady() override;
  void OnStartingNewMainProcess(bool value) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int total_steps) override;
  void OnStep() override;
  void OnError(int string_id, const std::wstring& text, const std::string& detail) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

 private:
  // SettingsObserver:
  void OnSettingsObtained() override;
  // base::ObjectWatcher::Delegate: the front-end process ended.
  void OnObjectSignaled(HANDLE object) override;

  // Finds the front-end process; false (logged) when it cannot be.
  bool OpenInitialProcess();
  void StartInstallation();
  void Send(std::unique_ptr<base::BinaryMessage> message);

  // Destroyed in reverse order: the installer first, the loop runner last.
  base::LoopRunner loop_runner_;
  base::ObjectWatcher initial_process_watcher_;
  IpcSender sender_;
  std::unique_ptr<Installer> installer_;
  base::win::ScopedHandle initial_process_;
  Settings* settings_ = nullptr;
  bool waiting_for_settings_ = false;
};

// The back-end role of RunInstaller: runs an InstallerRunnerBackend over
// |settings| and gives its result.
bool RunInstallerBackend(Settings* settings);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_BACKEND_H_
