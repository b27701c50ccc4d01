// The installer's shortcut steps: creating the shortcuts of a new
// installation, bringing an upgraded installation's shortcuts up to date,
// and removing them with the installation. No shortcut failure ends a run.
#include <memory>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/delete_folder_operation.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_shortcuts.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"

namespace installer {

namespace {

// The folder of path key |key|; false (logged) when it is unknown.
bool GetShortcutFolder(int key, base::FilePath* folder) {
  if (base::PathRegistry::Get(key, folder))
    return true;
  LOG(ERROR) << "The shortcut folder of path key " << key << " is unknown";
  return false;
}

base::FilePath GetLauncherPath(const Installer& installer) {
  return installer.settings()->GetInstallFolder().Append(kLauncherFileName);
}

// Deletes a shortcut (or the shortcut folder) through the run's
// transaction; a failure is logged by the operation and passed over.
void DeleteShortcutFile(Installer* installer, const base::FilePath& path) {
  installer->transaction()->Execute(std::make_unique<DeleteFileOperation>(
      path, /*check_in_use=*/false, /*remove_empty_parents=*/false));
}

}  // namespace

void Installer::InstallShortcuts() {
  LOG(INFO) << "Installing shortcuts";
  Settings* settings = settings_;
  if (settings->IsFlagSet(Settings::COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  const base::FilePath target = GetLauncherPath(*this);
  const bool all_users = settings->IsFlagSet(Settings::ALL_USERS_FLAG);
  std::vector<ShortcutDestination> destinations;
  base::FilePath folder;

  if (settings->IsFlagSet(Settings::DESKTOP_SHORTCUT)) {
    VLOG(2) << (all_users ? "Preparing  to set up shortcut on common desktop"
                          : "Preparing  to set up shortcut on user desktop");
    if (GetShortcutFolder(all_users ? base::kPathCommonDesktop : base::kPathUserDesktop, &folder))
      destinations.push_back({folder, &install_log_.desktop_shortcut});
  }
  if (settings->IsFlagSet(Settings::START_MENU_SHORTCUT)) {
    VLOG(2) << (all_users ? "Preparing  to set up shortcut in common start menu"
                          : "Preparing  to set up shortcut in user start menu");
    if (GetShortcutFolder(all_users ? base::kPathCommonStartMenu : base::kPathStartMenu, &folder))
      destinations.push_back({folder, &install_log_.start_menu_shortcut});
  }
  if (settings->IsFlagSet(Settings::QUICK_LAUNCH_SHORTCUT)) {
    VLOG(2) << "Preparing  to set up shortcut in user quick launch";
    if (GetShortcutFolder(base::kPathQuickLaunch, &folder))
      destinations.push_back({folder, &install_log_.quick_launch_shortcut});
  }

  bool use_version = false;
  // Shortcuts are a convenience: the installation goes on without them.
  CreateShortcuts(this, &destinations, settings->IsFlagSet(Settings::PINNED_SHORTCUT), &use_version,
                  target);
  ScheduleNextStep();
}

void Installer::UpdateShortcuts() {
  LOG(INFO) << "Updating shortcuts";
  Settings* settings = settings_;
  if (settings->IsFlagSet(Settings::COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  const InstallerStatus& status = settings->GetStatus();
  const bool all_users = settings->IsFlagSet(Settings::ALL_USERS_FLAG);

  const ShortcutNaming naming = GetShortcutNaming(
      {status.desktop_shortcut, status.start_menu_shortcut, status.quick_launch_shortcut});
  bool use_version = naming.use_version;
  VLOG(1) << (use_version ? "Using" : "Not using") << " shortcut names with version number";
  if (naming.rename)
    LOG(INFO) << "Shortcuts needs to be renamed";

  struct Kind {
    const char* line;
    int flag;
    int folder_key;
    bool exists;
    bool recreate;
    const base::FilePath& recorded;
    base::FilePath* record;
  };
  const Kind kinds[] = {
      {"Handling desktop shortcut:", Settings::DESKTOP_SHORTCUT,
       all_users ? base::kPathCommonDesktop : base::kPathUserDesktop,
       status.desktop_shortcut_exists() != 0, status.recreate_desktop_shortcut(),
       status.desktop_shortcut, &install_log_.desktop_shortcut},
      {"Handling start menu shortcut:", Settings::START_MENU_SHORTCUT,
       all_users ? base::kPathCommonStartMenu : base::kPathStartMenu,
       status.start_menu_shortcut_exists() != 0, status.recreate_start_menu_shortcut(),
       status.start_menu_shortcut, &install_log_.start_menu_shortcut},
      {"Handling quick launch shortcut:", Settings::QUICK_LAUNCH_SHORTCUT, base::kPathQuickLaunch,
       status.quick_launch_shortcut_exists() != 0, status.recreate_quick_launch_shortcut(),
       status.quick_launch_shortcut, &install_log_.quick_launch_shortcut},
  };

  std::vector<ShortcutDestination> destinations;
  for (const Kind& kind : kinds) {
    VLOG(1) << kind.line;
    const bool wanted = settings->IsFlagSet(kind.flag);
    if (kind.exists && !wanted) {
      VLOG(1) << "Removing shortcut";
      DeleteShortcutFile(this, kind.recorded);
      continue;
    }
    if (!wanted)
      continue;
    base::FilePath folder;
    if (!GetShortcutFolder(kind.folder_key, &folder)) {
      // Without the destination the existing shortcut is left as it is.
      if (kind.exists)
        *kind.record = kind.recorded;
      continue;
    }
    if (!kind.exists) {
      VLOG(1) << "Preparing to add shortcut";
      destinations.push_back({folder, kind.record});
      continue;
    }
    if (kind.recreate) {
      VLOG(1) << "Recreating shortcut";
      DeleteShortcutFile(this, kind.recorded);
      destinations.push_back({folder, kind.record});
      continue;
    }
    const base::FilePath renamed = folder.Append(GetShortcutName(use_version));
    // A shortcut that already has its new name stays where it is: moving a
    // file onto itself would only fail.
    if (naming.rename &&
        !base::FilePath::CompareEqualIgnoreCase(renamed.value(), kind.recorded.value())) {
      VLOG(1) << "Moving shortcut";
      const bool moved =
          transaction_.Execute(std::make_unique<MoveFileOperation>(kind.recorded, renamed));
      *kind.record = moved ? renamed : kind.recorded;
      continue;
    }
    *kind.record = kind.recorded;
  }

  VLOG(1) << "Handling pinned shortcut:";
  const base::FilePath& pinned = status.pinned_shortcut_path();
  const bool want_pin = settings->IsFlagSet(Settings::PINNED_SHORTCUT);
  bool pin = false;
  if (pinned.empty()) {
    if (want_pin) {
      VLOG(1) << "New pinned shortcut needed.";
      pin = true;
    }
  } else if (!want_pin) {
    VLOG(1) << "Unpinning existing shortcut";
    base::win::UnpinShortcutFromTaskbar(pinned);
  } else if (status.recreate_pinned_shortcut() || naming.rename) {
    VLOG(1) << "Unpinning existing shortcut";
    base::win::UnpinShortcutFromTaskbar(pinned);
    VLOG(1) << "New pinned shortcut needed.";
    pin = true;
  }
  // Otherwise the existing pin stays as the user has it: this run pins
  // nothing, and its record says no more than that.

  CreateShortcuts(this, &destinations, pin, &use_version, GetLauncherPath(*this));
  ScheduleNextStep();
}

void Installer::RemoveShortcuts() {
  LOG(INFO) << "Removing shortctus.";
  const InstallerStatus& status = settings_->GetStatus();
  if (!status.pinned_shortcut_path().empty()) {
    VLOG(1) << "Unpinning shortcut.";
    base::win::UnpinShortcutFromTaskbar(status.pinned_shortcut_path());
  }
  if (status.desktop_shortcut_exists()) {
    VLOG(1) << "Removing desktop shortcut.";
    DeleteShortcutFile(this, status.desktop_shortcut);
  }
  if (status.start_menu_shortcut_exists()) {
    VLOG(1) << "Removing start menu shortcut.";
    DeleteShortcutFile(this, status.start_menu_shortcut);
  }
  if (status.quick_launch_shortcut_exists()) {
    VLOG(1) << "Removing quick launch shortcut.";
    DeleteShortcutFile(this, status.quick_launch_shortcut);
  }
  if (status.temporary_shortcut_folder_exists()) {
    VLOG(1) << "Removing temporary shortcut folder.";
    // A file deletion refuses folders; the folder goes aside whole, so a
    // rollback brings it back with its contents.
    transaction_.Execute(
        std::make_unique<DeleteFolderOperation>(status.temporary_shortcut_folder()));
  }
  ScheduleNextStep();
}

}  // namespace installer
