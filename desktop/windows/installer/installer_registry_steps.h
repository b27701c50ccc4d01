// Routines of the installer's registry and integration steps that other
// steps call too (firewall rules, the autoupdate task) and the pieces of
// those steps that tests look at on their own.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_REGISTRY_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_REGISTRY_STEPS_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log.h"

namespace autoupdate {
class GlobalStorage;
}  // namespace autoupdate

namespace installer {

class InstallerStatus;

// How many numbered uninstall key names the registry step tries after the
// plain one before it gives up.
inline constexpr int kMaxUninstallKeySuffix = 1000;

// The uninstall key of this version: the uninstall parent key, a backslash,
// the product name, a blank, the version and |suffix| ("" or "1", "2", ...).
std::wstring GetUninstallKeyName(const std::wstring& suffix);

// Tests: answers in place of opening an uninstall key name for reading in
// the 32-bit view (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...). Null restores
// the real registry.
using UninstallKeyProbe = LONG (*)(HKEY root, const std::wstring& key_name);
void SetUninstallKeyProbeForTesting(UninstallKeyProbe probe);

// The first uninstall key name that does not exist under |root|: the plain
// name, then suffixes 1, 2, ... up to kMaxUninstallKeySuffix. A name that
// cannot be opened for any other reason (access denied) is taken as used.
// False (logged) when every name is taken.
bool ChooseUninstallKeyName(HKEY root, std::wstring* key_name);

// The name of an installation of the former engine's product types: "" for
// 0, "Next" for 1, "Labs" for 2, "Invalid" for anything else.
std::wstring GetOldProductTypeName(int old_product_type);

// |text| with the first "{Product}" replaced by the old product type's name
// and the first "{SPProduct}" by a blank and that name, when |status| is an
// installation of the former engine; else |text| unchanged.
std::wstring ResolveOldProductPlaceholders(const std::wstring& text, const InstallerStatus& status);

// The key the clean-up of an install-log key record at |path| with
// |cleanup_depth| works on: |path| itself for depth 0, else the key
// |cleanup_depth| - 1 levels above it. False (logged) when the record cannot
// be trusted, so that a damaged install log cannot remove shared keys: an
// empty component, a negative depth or one above the number of components,
// a result of fewer than three components, or a result that is (or lies
// above) a key other programs register under. A record of depth 0 that
// names one of those shared keys itself is accepted: it deletes only its own
// values there.
bool GetCleanupKeyPath(const std::wstring& path, int cleanup_depth, std::wstring* key_path);

// Extends the created levels of |records|, the records of an upgrade's
// set-up, over the keys above them that the installation of |old_records|
// created: the upgrade finds those keys there (so its own count stops below
// them), and a key whose name changes with the version, such as the
// uninstall entry, never matches its old record; yet they are still the
// installation's to remove.
void InheritCreatedKeys(const InstallLogRegistryKeys& old_records, InstallLogRegistryKeys* records);

// Removes the registry keys that the installation of |status| created
// (recorded with its install-log key records) and that are empty now, after
// the clean-up and the default-browser registration's restoration took
// their values out. A key that holds anything stays. Run by the
// uninstallation's last step, when nothing can fail any more.
void RemoveCreatedRegistryKeys(const InstallerStatus& status);

// A shell command's program and parameters: inside leading double quotes and
// the text after the closing quote and one blank; else the text before the
// first blank and the text after it. False for an empty command or an
// unclosed quote.
bool SplitShellCommand(const std::wstring& command, std::wstring* program,
                       std::wstring* parameters);

// The update checker's id of this user ("UUID"), read through |storage|
// after initialising it with the user-data folder |user_data|, where its
// fallback file lives. Empty when the storage holds none or cannot answer.
std::string ReadUninstallSurveyId(autoupdate::GlobalStorage* storage,
                                  const base::FilePath& user_data);

// The address of the uninstall survey for an installation being removed:
// the configuration's "uninstall_survey" address with the version, the
// user's update-checker id (left out when |uuid| is null: the user-data
// folder is unknown; appended even when empty) and the query of the
// installation's welcome page appended. Empty when there is no survey
// address or the run is |silent|.
std::wstring BuildUninstallSurveyUrl(bool silent, const std::string* uuid,
                                     const std::string& welcome_url);

// Adds the product's mDNS firewall rule for |executable|, or with |remove|
// removes every rule of the product for it. Failures are logged only.
void UpdateFirewallRules(const base::FilePath& executable, bool remove);

// Deletes the autoupdate task of the installation |app_id| and the tasks of
// removed installations, then clears |app_id|. Failures are not reported.
void DeleteAutoupdateTask(std::string* app_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_REGISTRY_STEPS_H_
