// PlaceholderResolver: what a RegistryEntry asks while it becomes an
// operation: the text of each "{name}" placeholder, and where (if anywhere)
// the values it writes are recorded for the install log.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_

#include <windows.h>

#include <string>

#include "desktop/windows/installer/service/install_log.h"

namespace installer {

class PlaceholderResolver {
 public:
  virtual ~PlaceholderResolver() = default;

  // The text for the placeholder |name| (without braces); false when the
  // name is unknown.
  virtual bool ResolvePlaceholder(const std::wstring& name, std::wstring* value) = 0;

  // The install-log key records of |root| that written values go into, or
  // null when nothing is recorded now.
  virtual InstallLogRegistryKeys* GetInstallLogRecorder(HKEY root) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PLACEHOLDER_RESOLVER_H_
