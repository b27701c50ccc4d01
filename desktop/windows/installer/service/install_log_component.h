// InstallLogComponent: one add-on component an installation installed.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_COMPONENT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_COMPONENT_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

struct InstallLogComponent {
  bool operator==(const InstallLogComponent& other) const = default;

  // The component's name (UTF-8), for example "suite".
  std::string name;
  // The folder it was installed into.
  base::FilePath path;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALL_LOG_COMPONENT_H_
