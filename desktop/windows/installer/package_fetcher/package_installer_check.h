// Whether an unpacked package can run its own installation. The front end
// starts the package's "installer.exe", which loads the engine beside it: a
// package without either, or with one that is no program (an empty file, a
// folder), could only fail once started, with nothing but an exit code to
// say why.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_INSTALLER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_INSTALLER_CHECK_H_

#include "base/files/file_path.h"

namespace installer {

// True when |package_folder| holds the package's installer and its engine,
// each a program image. Otherwise false, with the cause logged.
bool PackageHoldsItsInstaller(const base::FilePath& package_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_INSTALLER_CHECK_H_
