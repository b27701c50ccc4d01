// InstallerRunner: the front end's side of an installation. It takes the
// installer mutex of the install folder, opens the mailslot on which the
// back end reports, creates the events through which it talks to the back
// end, and launches the back-end process with the settings as its command
// line. Every report arriving over the mailslot reaches the observers as the
// InstallerDelegate call it stands for; the end of the back-end process
// reaches them as OnInstallerTerminated.
//
//   InstallerRunner runner(package_folder, components_file);
//   runner.AddObserver(controller);
//   if (!runner.Start(settings)) ...  // observers got OnError
//   runner.OnPackageReady();           // once the package is unpacked
//   runner.Stop();                     // or the destructor
//
// Main thread only; the thread needs a MessageLoop.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/binary_message.h"
#include "base/callback.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/process.h"
#include "base/threading/object_watcher.h"
#include "base/time.h"
#include "base/weak_ref.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend_command_line.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {

class Settings;

class InstallerRunner : public IpcReceiver::Delegate, public base::ObjectWatcher::Delegate {
 public:
  // Tests: changes the back end's command line just before the launch (a
  // different program, extra switches).
  using CommandLineHook = base::Callback<void(base::CommandLine*)>;

  // |package_folder| is where the package is (or will be) unpacked;
  // |components_file| may be empty.
  InstallerRunner(const base::FilePath& package_folder, const base::FilePath& components_file);
  InstallerRunner(const InstallerRunner&) = delete;
  InstallerRunner& operator=(const InstallerRunner&) = delete;
  ~InstallerRunner() override;

  // Launches the back end for |settings| (not owned; kept until Stop), whose
  // status must have been read. On false every observer has had OnError.
  bool Start(Settings* settings);
  // The package is now unpacked in the package folder.
  void OnPackageReady();
  // Interrupts a running back end and lets go of what Start took. A back
  // end that has ended and is not yet reported is reported by a task posted
  // here, never from inside Stop.
  void Stop();

  void AddObserver(InstallerDelegate* observer);
  void RemoveObserver(InstallerDelegate* observer);

  bool backend_running() const { return backend_running_; }
  // The launched back end; invalid before a successful launch.
  const base::Process& backend_process() const { return backend_process_; }

  void SetCommandLineHookForTesting(CommandLineHook hook) { command_line_hook_ = hook; }
  // Tests: how long the end of a back end waits for its marker (zero
  // restores the default).
  static void SetTerminationMarkerTimeoutForTesting(base::TimeSpan timeout);

 private:
  // IpcReceiver::Delegate:
  void OnMessageReceived(const base::BinaryMessage& message) override;
  // base::ObjectWatcher::Delegate: the back-end process ended.
  void OnObjectSignaled(HANDLE object) override;
  void OnBackendProcessSignaled();
  // The back end's last reports may still be in the mailslot when its end
  // is seen: a marker written to the mailslot behind them says when they
  // have all been dispatched. False when the marker cannot be written.
  bool SendTerminationMarker();
  // Whether |message| is the marker of the pending termination.
  bool IsTerminationMarker(const base::BinaryMessage& message) const;
  // Reports the pending termination (once).
  void FinishTermination();
  // The same from a task posted for the end of generation |generation|;
  // nothing when a later back end has ended since.
  void FinishTerminationOf(uint64_t generation);

  // Logs |detail| (with the system error |error| when not 0), then tells
  // every observer of the failure of Start; false.
  bool ReportStartFailure(int string_id, const char* detail, DWORD error = 0);
  // Creates a manual-reset event named after |name| and the install folder.
  bool CreateInstallationEvent(const wchar_t* name, const char* log_text,
                               base::win::ScopedHandle* event);
  // The launch, under the launch lock so that no other launch inherits the
  // handles meant for the back end.
  bool LaunchBackend(base::CommandLine* command_line);
  // Settles the journal of a back end that ended without success: dropped
  // when the run had reported success, undone otherwise.
  void SettleEndedBackEnd();

  const base::FilePath package_folder_;
  const base::FilePath components_file_;
  Settings* settings_ = nullptr;
  bool package_present_ = false;
  bool backend_running_ = false;
  base::win::ScopedHandle mutex_;
  base::win::ScopedHandle interrupted_event_;
  base::win::ScopedHandle package_ready_event_;
  IpcReceiver receiver_;
  base::Process backend_process_;
  base::ObjectWatcher backend_watcher_;
  base::ObserverList<InstallerDelegate> observers_;
  CommandLineHook command_line_hook_;
  // The back end has ended; OnInstallerTerminated(termination_success_)
  // waits for the marker |termination_marker_| (or its time-out).
  bool termination_pending_ = false;
  bool termination_success_ = false;
  // The back end failed on its own (this runner did not stop it).
  bool termination_unasked_failure_ = false;
  // The running back end reported its failure: the front end's log names
  // that cause once, and not a bare exit code after it.
  bool backend_reported_failure_ = false;
  // The running back end reported the run's success.
  bool backend_reported_success_ = false;
  DWORD backend_exit_code_ = 0;
  // The install folder of a back end that ended without success, until its
  // journal is settled; empty otherwise.
  base::FilePath ended_backend_folder_;
  uint64_t termination_marker_ = 0;
  // Counts the ends of back ends.
  uint64_t termination_generation_ = 0;
  std::wstring mailslot_name_;

  base::WeakRefFactory<InstallerRunner> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_RUNNER_H_
