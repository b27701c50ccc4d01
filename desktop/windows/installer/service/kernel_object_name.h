// Names of kernel objects (mutexes, events, mailslots) that belong to one
// installation folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_

#include <string>
#include <string_view>

#include "base/files/file_path.h"

namespace installer {

// "Global\" (|global|) or "Local\", then |name|, "/" and |path|; every "\"
// of |name| and |path| becomes "/", since a backslash after the namespace
// prefix would name a kernel object directory.
std::wstring GetKernelObjectName(const base::FilePath& path, std::wstring_view name,
                                 bool global);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_KERNEL_OBJECT_NAME_H_
