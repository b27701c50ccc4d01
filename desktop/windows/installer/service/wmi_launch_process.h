// Starting a process through WMI, so that it runs as a child of the WMI
// provider host instead of the installer (it neither inherits the
// installer's job, elevation nor lifetime).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_WMI_LAUNCH_PROCESS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_WMI_LAUNCH_PROCESS_H_

#include <windows.h>

#include <string_view>

namespace installer {

// Starts |command_line| with the "Create" method of the Win32_Process class
// in "ROOT\CIMV2" and gives the new process's id in |process_id|. False
// (logged) when WMI cannot be reached or refuses the start. COM must be
// initialised on the calling thread.
bool WmiLaunchProcess(std::wstring_view command_line, DWORD* process_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_WMI_LAUNCH_PROCESS_H_
