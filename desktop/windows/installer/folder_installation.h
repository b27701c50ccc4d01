// FolderInstallation: the Installation of an explicit install folder, for
// code that looks at a folder other than the running executable's.
#ifndef DESKTOP_WINDOWS_INSTALLER_FOLDER_INSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_FOLDER_INSTALLATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/installation.h"

namespace installer {

class InstallLog;

class FolderInstallation : public Installation {
 public:
  explicit FolderInstallation(const base::FilePath& folder);
  // |install_log| is the folder's log, already loaded; it is not read again.
  FolderInstallation(const base::FilePath& folder, const InstallLog& install_log);
  FolderInstallation(const FolderInstallation&) = delete;
  FolderInstallation& operator=(const FolderInstallation&) = delete;
  ~FolderInstallation() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FOLDER_INSTALLATION_H_
