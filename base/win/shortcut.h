// Shell shortcut (.lnk) files: writing them with their shell properties,
// reading back where they point, and pinning them to the taskbar.
//
// Every function here uses COM: the calling thread must have initialised it
// (a single-threaded apartment, as the shell expects).
#ifndef BASE_WIN_SHORTCUT_H_
#define BASE_WIN_SHORTCUT_H_

#include <cstdint>
#include <string>
#include <utility>

#include "base/files/file_path.h"

namespace base::win {

// What a shortcut holds. Only the properties whose bit is set in |options| are
// written; the setters set the bit.
struct ShortcutSpec {
  enum Options : uint32_t {
    kTarget = 1u << 0,
    kWorkingDirectory = 1u << 1,
    kArguments = 1u << 2,
    kDescription = 1u << 3,
    kIcon = 1u << 4,
    kAppId = 1u << 5,
    kDualMode = 1u << 6,
  };

  void set_target(const FilePath& value) {
    target = value;
    options |= kTarget;
  }
  void set_working_directory(const FilePath& value) {
    working_directory = value;
    options |= kWorkingDirectory;
  }
  void set_arguments(std::wstring value) {
    arguments = std::move(value);
    options |= kArguments;
  }
  void set_description(std::wstring value) {
    description = std::move(value);
    options |= kDescription;
  }
  void set_icon(const FilePath& path, int index) {
    icon = path;
    icon_index = index;
    options |= kIcon;
  }
  void set_app_id(std::wstring value) {
    app_id = std::move(value);
    options |= kAppId;
  }
  void set_dual_mode(bool value) {
    dual_mode = value;
    options |= kDualMode;
  }

  FilePath target;
  FilePath working_directory;
  std::wstring arguments;
  std::wstring description;
  FilePath icon;
  int icon_index = 0;
  // The AppUserModelID that groups the shortcut's windows on the taskbar.
  std::wstring app_id;
  // Whether the application is a dual-mode (desktop and immersive) one.
  bool dual_mode = false;
  uint32_t options = 0;
};

enum ShortcutOperation : int {
  // A new shortcut from |spec| alone, replacing any file at the path. The
  // ShortcutSpec must name a target.
  kShortcutCreateAlways = 0,
  // Like kShortcutCreateAlways, but only when a shortcut already exists at the
  // path; nothing of the old one is kept.
  kShortcutReplaceExisting = 1,
  // Loads the existing shortcut and changes only the properties set in the
  // ShortcutSpec; fails when there is none.
  kShortcutUpdateExisting = 2,
};

// Writes the shortcut at |shortcut_path|. False (logged) on a bad ShortcutSpec or
// operation, or when the shell refuses any step; a failed write leaves no
// partially written file of a new shortcut behind.
bool WriteShortcut(const FilePath& shortcut_path, const ShortcutSpec& spec,
                   ShortcutOperation operation);

// Loads the shortcut and gives the target path and, when |arguments| is
// given, its arguments (either may be null). No search for a moved target is
// made. False (logged) when the file is no readable shortcut.
bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target, std::wstring* arguments);

// Whether the shell lets programs pin to the taskbar through its verbs:
// Windows 7, 8 and 8.1 (Windows 10 dropped the verb for programs).
bool TaskbarPinningSupported();

// Pins or unpins the shortcut through the shell verbs "taskbarpin" and
// "taskbarunpin". False (logged) when the shell does not carry out the verb.
bool PinShortcutToTaskbar(const FilePath& shortcut_path);
bool UnpinShortcutFromTaskbar(const FilePath& shortcut_path);

}  // namespace base::win

#endif  // BASE_WIN_SHORTCUT_H_
