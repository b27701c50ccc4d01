// Telling whether two paths name the same file, and finding the shortcuts
// (and taskbar pins) that lead to a file, whatever path they use for it.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_IDENTITY_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_IDENTITY_H_

#include <cstdint>

#include "base/files/file_path.h"

namespace installer {

// A file as the file system knows it: the serial number of its volume and
// its index on that volume. Hard links, short names, other letter cases and
// junctioned paths of one file all give the same identity.
struct FileIdentity {
  uint32_t volume_serial_number = 0;
  uint64_t file_index = 0;

  bool operator==(const FileIdentity& other) const {
    return volume_serial_number == other.volume_serial_number && file_index == other.file_index;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the file or folder at |path|. False when it cannot be
// opened or queried: logged as an error, except when nothing is there (an
// expected answer, logged as information).
bool GetFileIdentity(const base::FilePath& path, FileIdentity* identity);

// 1 when the shortcut at |shortcut_path| leads to the file of |identity|, 0
// otherwise (also when the shortcut or its target cannot be read). COM must
// be initialised on the calling thread.
int ShortcutPointsTo(const base::FilePath& shortcut_path, const FileIdentity& identity);

// The folder that holds the user's taskbar pins (Windows 7 and later).
// False (logged) on earlier Windows or when it cannot be found.
bool GetTaskbarPinsFolder(base::FilePath* folder);

// The "*.lnk" of the taskbar pins folder that leads to the file of
// |identity|; an empty path when there is none. COM must be initialised on
// the calling thread.
base::FilePath FindTaskbarPin(const FileIdentity& identity);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FILE_IDENTITY_H_
