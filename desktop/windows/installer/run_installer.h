// The body of RunInstaller: one life of the program, from the command line to
// the chosen role's result.
#ifndef DESKTOP_WINDOWS_INSTALLER_RUN_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_RUN_INSTALLER_H_

namespace installer {

bool RunInstallerMain();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUN_INSTALLER_H_
