// The installer's component steps: running the installer programs of the
// add-on components a run brings along, and starting them again with
// "uninstall" when the installation goes. Neither step ever fails the run:
// a component that did not install is left out of the install log, and so
// is never uninstalled either.
#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/install_log_path.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_components.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode.h"
#include "desktop/windows/installer/service/pe_image.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"

namespace installer {

namespace {

const char* FlagSwitchValue(bool value) { return value ? "1" : "0"; }

// The switches every component installer gets from the run's settings.
void AppendModeSwitches(const Settings& settings, base::CommandLine* command_line) {
  command_line->AppendSwitchASCII(kCopyOnlySwitch,
                                  FlagSwitchValue(settings.IsFlagSet(Settings::COPY_ONLY)));
  command_line->AppendSwitchASCII(kAllUsersSwitch,
                                  FlagSwitchValue(settings.IsFlagSet(Settings::ALL_USERS_FLAG)));
}

// A component name becomes a folder of the installation: it must be one
// plain path component.
bool IsPlainName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos;
}

// Whether a component installer may run. A signed installer executable only
// runs component installers signed by the expected signer; an unsigned one
// (a development build) does not check them. An executable that cannot be
// read as an image is treated as signed, so that a failure to look never
// lets an unchecked program through.
bool PassesSignatureGate(const base::FilePath& component_installer) {
  base::FilePath own_exe;
  bool own_signed = false;
  bool must_check = true;
  if (base::PathRegistry::Get(base::kPathExeFile, &own_exe) &&
      HasEmbeddedSignature(own_exe, &own_signed)) {
    must_check = own_signed;
  }
  if (!must_check)
    return true;
  const bool verified = VerifyAuthenticode(component_installer, GetExpectedSigner());
  if (!verified) {
    LOG(ERROR) << "Signature error for component installer ";
    LOG(ERROR) << own_exe << " signed = " << (own_signed ? 1 : 0);
    LOG(ERROR) << component_installer << " signed = " << (verified ? 1 : 0);
  }
  return verified;
}

bool HasComponentRecord(const InstallLog& log, const std::string& name) {
  for (const InstallLogComponent& component : log.components) {
    if (component.name == name)
      return true;
  }
  return false;
}

}  // namespace

void Installer::InstallComponents() {
  LOG(INFO) << "Installing Components";
  Settings* settings = settings_;
  const bool upgrading = settings->GetOperation() == Settings::kOperationUpgrade;
  // Components installed earlier stay recorded, so that the uninstallation
  // still finds them.
  if (upgrading)
    install_log_.components = settings->GetStatus().components;

  if (!own_command_line().has_components()) {
    ScheduleNextStep();
    return;
  }
  const std::wstring& value = own_command_line().components();
  LOG(INFO) << "Components present : " << value;

  const base::FilePath& install_folder = settings->GetInstallFolder();
  const base::FilePath package_parent = own_folder_.DirName();
  for (const ComponentEntry& entry : ParseComponentsSwitch(value)) {
    LOG(INFO) << "Processing component " << entry.text;
    if (!entry.IsComplete()) {
      LOG(ERROR) << "Component entry is not a name and a folder: " << entry.text;
      continue;
    }
    if (!IsPlainName(entry.name)) {
      LOG(ERROR) << "Component name is not a plain folder name: " << entry.text;
      continue;
    }
    const base::FilePath destination = install_folder.Append(entry.name);
    const base::FilePath folder = package_parent.Append(entry.folder);
    bool rewritten = false;
    const base::FilePath component_installer =
        GetComponentInstallerPath(folder, entry.name, &rewritten);
    if (rewritten) {
      LOG(INFO) << "Rewriting component installer name from "
                << folder.Append(entry.name + kComponentInstallerSuffix);
      LOG(INFO) << "to: " << component_installer;
    }
    if (!base::PathExists(component_installer)) {
      LOG(ERROR) << "Component installer does not exist " << component_installer;
      continue;
    }
    if (!PassesSignatureGate(component_installer))
      continue;

    base::CommandLine component_command_line(component_installer);
    component_command_line.AppendSwitchPath(kInstallFolderSwitch, destination);
    AppendModeSwitches(*settings, &component_command_line);
    LOG(INFO) << "Running component installer";
    base::Process process = base::LaunchProcess(component_command_line, base::LaunchOptions());
    if (!process.IsValid()) {
      LOG(ERROR) << "Could not start component installer " << component_installer;
      continue;
    }
    int exit_code = -1;
    if (!process.WaitForExitWithTimeout(
            static_cast<DWORD>(component_installer_timeout_.InMilliseconds()), &exit_code)) {
      // A wait that failed was logged by the process.
      if (::WaitForSingleObject(process.Handle(), 0) == WAIT_TIMEOUT) {
        LOG(ERROR) << "Component installer " << component_installer << " did not end within "
                   << component_installer_timeout_.InSeconds()
                   << " s: ending it and leaving the component out";
        process.Terminate(1, /*wait=*/true);
      }
      continue;
    }
    LOG(INFO) << "Component installer returned " << exit_code;
    if (exit_code != 0)
      continue;
    const std::string name = base::WideToUTF8(entry.name);
    // One record per component: its uninstaller runs once.
    if (!HasComponentRecord(install_log_, name))
      install_log_.components.push_back({name, destination});
  }
  ScheduleNextStep();
}

void Installer::UninstallComponents() {
  Settings* settings = settings_;
  const base::FilePath& install_folder = settings->GetInstallFolder();
  for (const InstallLogComponent& component : settings->GetStatus().components) {
    // A component was installed into install folder + its name; a record
    // that names another folder (the install log can be edited) would run a
    // program of its choosing, so it is passed over.
    const std::wstring name = base::UTF8ToWide(component.name);
    base::FilePath expected;
    if (!IsPlainName(name) ||
        !ResolveInstallLogPath(install_folder, base::FilePath(), base::FilePath(name), &expected) ||
        !base::FilePath::CompareEqualIgnoreCase(component.path.StripTrailingSeparators().value(),
                                                expected.value())) {
      LOG(ERROR) << "Install log: refusing the component record \"" << component.name << "\" at "
                 << component.path << ": not a folder of this installation";
      continue;
    }
    const base::FilePath component_installer = GetComponentInstallerPath(expected, name, nullptr);
    base::CommandLine command_line(component_installer);
    command_line.AppendSwitch(kUninstallSwitch);
    AppendModeSwitches(*settings, &command_line);
    // Runs beside the rest of the uninstallation; the handle is closed at
    // once, and a failed start is logged by the launch.
    base::LaunchProcess(command_line, base::LaunchOptions());
  }
  ScheduleNextStep();
}

}  // namespace installer
