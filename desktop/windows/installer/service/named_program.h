// The program that a registry text names (a shell command, an icon
// location), and whether that program is still there. A registration that
// would be given back must not send the shell to a program that was removed
// meanwhile: its links would stop opening.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_NAMED_PROGRAM_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_NAMED_PROGRAM_H_

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The file |text| names by an absolute path: the program of a shell command
// (inside leading double quotes, else up to the first ".exe" that ends a
// word, else up to the first blank) or the file of an icon location
// ("<file>,<index>"). Empty when it names no absolute path: a program the
// system searches for by name ("rundll32.exe ..."), a ProgId, a "URL:"
// description, or a path that still holds "%" (an unexpanded variable).
base::FilePath GetProgramNamedBy(std::wstring_view text);

// True when |text| names a program (as above) that is not there: neither
// the file nor, perhaps, its folder exists. A program on a drive or share
// that cannot be reached now (a removed stick, a network share) counts as
// there, and so does one that cannot be looked at (access denied): only a
// program surely gone is reported.
bool NamesMissingProgram(std::wstring_view text);

// The same for a registry value as stored: a REG_SZ, or a REG_EXPAND_SZ with
// its variables expanded first. Values of other types name no program.
bool RegistryValueNamesMissingProgram(DWORD type, const std::vector<uint8_t>& data);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_NAMED_PROGRAM_H_
