// The browser's shell shortcuts: their names, the routine that writes them
// for the installer's steps, and the clean-up of an old product's shortcuts.
//
// A shortcut is written once, as a master shortcut in the folder of the
// running installer executable, and then copied into every destination
// through the run's transaction, so that a failed run takes the copies back.
// Shortcut work never ends a run: what fails is logged and passed over.
//
// COM must be initialised on the calling thread (the shell writes the
// shortcuts and carries out the pin verbs).
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_SHORTCUTS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_SHORTCUTS_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

class Installer;

// The prefix of the AppUserModelID the shortcuts carry; the installation's
// app id follows it.
inline constexpr wchar_t kShortcutAppIdPrefix[] = L"VelmoSoftware.VelmoWebBrowser.";

// The file name of the browser's shortcut: the visible product name, with
// |with_version| a blank and the major version, then the shortcut suffix of
// the product configuration, then ".lnk".
std::wstring GetShortcutName(bool with_version);

// How an upgrade names the shortcuts an installation recorded.
struct ShortcutNaming {
  // The shortcuts carry the major version in their names.
  bool use_version = false;
  // At least one of them does not have the name this build gives.
  bool rename = false;
};

// Looks at the recorded shortcut paths in order (empty ones skipped): one
// whose name (less its extension) ends in a decimal digit means versioned
// names, which this build renames to its own major version; a name other
// than the plain shortcut name, met before that, also means a rename.
ShortcutNaming GetShortcutNaming(const std::vector<base::FilePath>& recorded_paths);

// Where one copy of the master shortcut goes: the folder, and the field of
// the run's install log that records the created path.
struct ShortcutDestination {
  base::FilePath folder;
  base::FilePath* record = nullptr;
};

// Writes the master shortcut (to "launcher.exe" |target|, carrying the
// installation's app id) in the running executable's folder, pins it to the
// taskbar when |pin| and the system lets programs pin, and copies it into
// every destination of |destinations| through the installer's transaction,
// recording each copy. When |*use_version| is false and a shortcut of the
// plain name already exists in any destination, every copy gets the
// versioned name and |*use_version| becomes true. |destinations| is emptied.
// False (logged) when the master shortcut could not be written: then nothing
// is copied.
bool CreateShortcuts(Installer* installer, std::vector<ShortcutDestination>* destinations, bool pin,
                     bool* use_version, const base::FilePath& target);

// Deletes, at once and for good, the shortcuts an old messaging product left
// in the user's start-menu programs ("Velmo*Duradur Uzever.lnk").
void RemoveMessageCenterShortcuts();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_SHORTCUTS_H_
