#ifndef DESKTOP_WINDOWS_INSTALLER_SSE2_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_SSE2_CHECK_H_

namespace installer {

// Shows "This program requires a computer that supports SSE2 instructions."
// and ends the process with exit code 1 on a processor without SSE2. The
// engine runs it as a static initialiser, while the library is being loaded
// and before any other code of the program: its own code is built for SSE2.
void CheckSse2Support();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SSE2_CHECK_H_
