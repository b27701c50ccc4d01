// InstallLog: the record of what an installation created (files, registry
// values, shortcuts, components), kept as the XML file "installation_status.xml"
// in the install folder so that an upgrade or an uninstallation can find and
// undo it.
//
// The fields are plain public members: the installer's steps fill them as
// they go (and hand out pointers to single fields, such as the shortcut path
// a destination records into), and the status of an existing installation
// reads them back.
//
// File layout (UTF-8; every element optional on load unless marked required,
// elements of unknown names ignored so that later versions may add some):
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <install_log version="1" copy_only="0" all_users="1" pinned="0">
//     <app_id>1700000000</app_id>
//     <version>43.0.1.2</version>
//     <path>C:\Program Files\Velmo</path>
//     <subfolder>43.0.1.2</subfolder>
//     <files><file>browser.dll</file>...</files>
//     <root_files><file>launcher.exe</file>...</root_files>
//     <registry root="HKLM">
//       <key path="Software\Classes\VelmoStable" clean="1">
//         <value type="REG_SZ" name="FriendlyTypeName">Velmo Web Document</value>
//       </key>
//     </registry>
//     <registry root="HKCU">...</registry>
//     <shortcuts>
//       <desktop>...</desktop><start_menu>...</start_menu><quick_launch>...</quick_launch>
//     </shortcuts>
//     <components><component name="suite" path="C:\...\suite"/></components>
//   </install_log>
//
// - The root element "install_log" and its attributes are required, but for
//   "all_users", which logs of the former engine may lack. "version"
//   is the layout version (a positive decimal number; kInstallLogVersion is
//   written); a higher one is read as far as this layout goes, so a newer
//   layout must keep these elements' meaning. Flags are "0" or "1".
// - Texts go into element content, exactly as held (whitespace kept); "<",
//   "&" and quotes are escaped by the writer. Text that XML 1.0 cannot carry
//   (control characters other than tab and line feed, carriage returns, and in
//   attributes tab and line feed too) makes Save fail rather than write a log
//   that reads back differently.
// - A key record's "clean" is its cleanup depth (a decimal number, 0 or
//   more): 0 deletes the recorded values only; d above 0 deletes the key d - 1
//   levels above the recorded key with its whole tree. The optional
//   "created" (a decimal number above 0) counts the levels of the key's path
//   that the installation created, the key itself first. A value's "name" is
//   empty for the key's default value; its content is the data as text.
//
// Load leaves the InstallLog unchanged when it fails: a missing or unreadable
// file, damaged XML, another root element or a field value that does not
// parse all give false with the cause logged.
//
// COM must be initialised on the calling thread (MSXML 3.0 reads and writes
// the document).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/install_log_component.h"

namespace installer {

// The layout version Save writes.
inline constexpr int kInstallLogVersion = 1;

// One registry value written by the installation.
struct InstallLogRegistryValue {
  bool operator==(const InstallLogRegistryValue& other) const = default;

  // The value's type as text, for example "REG_SZ" or "REG_DWORD".
  std::string type;
  // The value's name; empty for the key's default value.
  std::wstring name;
  // The data as text.
  std::wstring data;
};

// One registry key the installation wrote values to.
struct InstallLogRegistryKey {
  bool operator==(const InstallLogRegistryKey& other) const = default;

  // The key path below its root (UTF-8).
  std::string path;
  // The highest cleanup depth of the values written to the key (see above).
  int cleanup_depth = 0;
  std::vector<InstallLogRegistryValue> values;
  // How many levels of the path the installation created: the key itself,
  // then its parent, and so on (0: the key was there). With depth 0 the
  // cleanup removes those keys again once they are empty.
  int created_levels = 0;
};

// The key records of one root, in the order the keys were first written.
using InstallLogRegistryKeys = std::vector<InstallLogRegistryKey>;

// Records that the value |value_name| (type |type_name|, data |data|) was
// written to |key_path|: into the record of that path (paths compared
// without case), or a new record appended for it. The record keeps the higher
// of its cleanup depth and |cleanup_depth|. A value of the same name (compared
// without case, as the registry does) already in the record is replaced, since
// the key holds only the last one written. False (logged) for a null list,
// an empty key path or a negative depth.
bool RecordRegistryValue(InstallLogRegistryKeys* keys, std::wstring_view key_path,
                         int cleanup_depth, std::string_view type_name,
                         std::wstring_view value_name, std::wstring_view data);

class InstallLog {
 public:
  InstallLog();
  InstallLog(const InstallLog&);
  InstallLog(InstallLog&&);
  InstallLog& operator=(const InstallLog&);
  InstallLog& operator=(InstallLog&&);
  ~InstallLog();

  bool operator==(const InstallLog& other) const = default;

  // Reads the log at |path|; on failure the fields stay as they were.
  bool Load(const base::FilePath& path);
  // Writes the log to |path|, replacing an existing file atomically; on
  // failure |path| is untouched.
  bool Save(const base::FilePath& path) const;

  // Every field back to its initial value.
  void Clear();

  // The key records of |root| (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER);
  // null for any other root.
  InstallLogRegistryKeys* GetRegistryKeys(HKEY root);
  const InstallLogRegistryKeys* GetRegistryKeys(HKEY root) const;

  // A stand-alone copy in one folder: no registry values, no shortcuts.
  bool copy_only = false;
  bool all_users = false;
  // False when the loaded log had no all-users flag (|all_users| is false
  // then): only its records can tell the mode.
  bool all_users_recorded = true;
  // The browser was pinned to the taskbar.
  bool pinned = false;
  // The installation's id (decimal seconds since 1970 at its first install).
  std::string app_id;
  // The installed version.
  std::string version;
  // The install folder.
  base::FilePath path;
  // The name of the version subfolder in the install folder.
  base::FilePath subfolder;
  // Installed files relative to the version subfolder, and relative to the
  // install folder itself.
  std::vector<base::FilePath> files;
  std::vector<base::FilePath> root_files;
  InstallLogRegistryKeys hklm_keys;
  InstallLogRegistryKeys hkcu_keys;
  // The created shortcuts; empty when none.
  base::FilePath desktop_shortcut;
  base::FilePath start_menu_shortcut;
  base::FilePath quick_launch_shortcut;
  std::vector<InstallLogComponent> components;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_H_
