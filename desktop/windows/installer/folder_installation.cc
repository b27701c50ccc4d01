#include "desktop/windows/installer/folder_installation.h"

#include "desktop/windows/installer/service/install_log.h"

namespace installer {

FolderInstallation::FolderInstallation(const base::FilePath& folder) : Installation(folder) {}

FolderInstallation::FolderInstallation(const base::FilePath& folder, const InstallLog& install_log)
    : Installation(folder, install_log) {}

FolderInstallation::~FolderInstallation() = default;

}  // namespace installer
