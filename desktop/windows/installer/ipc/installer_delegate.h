// InstallerDelegate: how an installation reports its progress. The engine
// calls it in the back-end process, which forwards every call over the
// installer's mailslot; the front end's runner turns the received messages
// back into the same calls for the controllers that follow the run.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_DELEGATE_H_

#include <string>

namespace installer {

class InstallerDelegate {
 public:
  virtual ~InstallerDelegate() = default;

  // The install folder exists and is writable; once per run, before the
  // package is awaited and the step list is built.
  virtual void OnInstallFolderReady() = 0;
  // Another process (an elevated copy of the installer, or the package's
  // own installer) is about to take over.
  virtual void OnStartingNewMainProcess(bool value) = 0;
  // The process announced by OnStartingNewMainProcess has ended.
  virtual void OnReturnedToPreviousMainProcess() = 0;
  // The number of progress steps of the run.
  virtual void OnTotalSteps(int total_steps) = 0;
  // One more progress step is done.
  virtual void OnStep() = 0;
  // The run failed. |string_id| names a localised string, |text| replaces
  // its "$1" (empty when it has none), |detail| is an English description
  // for the log.
  virtual void OnError(int string_id, const std::wstring& text, const std::string& detail) = 0;
  // The run succeeded.
  virtual void OnSuccess() = 0;
  // The run has ended; false after a cancellation or a failure.
  virtual void OnInstallerTerminated(bool success) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_DELEGATE_H_
