// The installer's steps and elevation routines that this build does not
// have yet. Each one fails the run with the generic error and a detail
// naming it, so that a run never reports a success it did not achieve.
// A routine moves out of this file when its real definition arrives.
#include <string>
#include <vector>

#include "base/logging.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"

namespace installer {

namespace {

void FailNotBuilt(Installer* installer, const char* name) {
  LOG(ERROR) << installer->Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(),
                                std::string(name) + " is not part of this build");
}

}  // namespace

void Installer::CopyPackageFiles(int32_t /*index*/) {
  FailNotBuilt(this, "CopyPackageFiles");
}

void Installer::CopyRootFiles(int32_t /*index*/) {
  FailNotBuilt(this, "CopyRootFiles");
}

void Installer::StepCopyFile(int32_t /*index*/, const std::vector<std::string>& /*list*/,
                             const base::Closure& /*continuation*/,
                             std::vector<base::FilePath>* /*target*/, bool /*root*/) {
  FailNotBuilt(this, "StepCopyFile");
}

void Installer::RestoreDefaultBrowserAndShowSurvey(const base::FilePath& /*install_folder*/) {
  FailNotBuilt(this, "RestoreDefaultBrowserAndShowSurvey");
}

void Installer::FinalizeInstallation() {
  FailNotBuilt(this, "FinalizeInstallation");
}

void Installer::PreserveInstallerStatus() {
  FailNotBuilt(this, "PreserveInstallerStatus");
}

void Installer::RemoveInstalledFiles() {
  FailNotBuilt(this, "RemoveInstalledFiles");
}

void Installer::RemoveOldRootFiles() {
  FailNotBuilt(this, "RemoveOldRootFiles");
}

void Installer::FinalizeUninstallation() {
  FailNotBuilt(this, "FinalizeUninstallation");
}

void Installer::CleanUpAfterUninstallation() {
  FailNotBuilt(this, "CleanUpAfterUninstallation");
}

void Installer::SetUpRegistry() {
  FailNotBuilt(this, "SetUpRegistry");
}

void Installer::CleanUpRegistry() {
  FailNotBuilt(this, "CleanUpRegistry");
}

void Installer::RegisterAsProtocolHandler() {
  FailNotBuilt(this, "RegisterAsProtocolHandler");
}

void Installer::InstallShortcuts() {
  FailNotBuilt(this, "InstallShortcuts");
}

void Installer::UpdateShortcuts() {
  FailNotBuilt(this, "UpdateShortcuts");
}

void Installer::RemoveShortcuts() {
  FailNotBuilt(this, "RemoveShortcuts");
}

void Installer::InstallComponents() {
  FailNotBuilt(this, "InstallComponents");
}

void Installer::UninstallComponents() {
  FailNotBuilt(this, "UninstallComponents");
}

void Installer::InstallLauncher() {
  FailNotBuilt(this, "InstallLauncher");
}

void Installer::WriteInstallerPrefs() {
  FailNotBuilt(this, "WriteInstallerPrefs");
}

void Installer::FinalizeSuccessfulInstallation() {
  FailNotBuilt(this, "FinalizeSuccessfulInstallation");
}

void Installer::RunPostElevationTasks() {
  FailNotBuilt(this, "RunPostElevationTasks");
}

// The elevation routines report the failure themselves, so that the detail
// names them; the caller's own report of the result is then dropped.
int Installer::RunElevated() {
  FailNotBuilt(this, "RunElevated");
  return kElevationSetUpError;
}

int Installer::ObtainFolderPermission(const base::FilePath& /*folder*/, bool /*permanent*/) {
  FailNotBuilt(this, "ObtainFolderPermission");
  return kElevationSetUpError;
}

}  // namespace installer
