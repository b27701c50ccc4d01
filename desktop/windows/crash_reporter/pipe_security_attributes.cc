#include "desktop/windows/crash_reporter/pipe_security_attributes.h"

#include <sddl.h>

#include "base/logging.h"
#include "base/win/windows_version.h"

namespace crash_reporter {

PipeSecurityAttributes::PipeSecurityAttributes() {
  // Integrity levels exist from Vista on; earlier systems take the defaults.
  if (base::win::GetWindowsVersion() < base::win::VERSION_VISTA)
    return;
  use_attributes_ = true;
  attributes_.nLength = sizeof(attributes_);
  attributes_.bInheritHandle = FALSE;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kLowIntegrityPipeSddl, SDDL_REVISION_1, descriptor_.Receive(), nullptr)) {
    PLOG(WARNING) << "Cannot build the crash pipe's integrity label";
    return;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL sacl = nullptr;
  if (!::GetSecurityDescriptorSacl(descriptor_.Get(), &present, &sacl, &defaulted)) {
    PLOG(WARNING) << "Cannot read the crash pipe's integrity label";
    return;
  }
  if (!present || !sacl) {
    LOG(WARNING) << "The crash pipe's security descriptor carries no label";
    return;
  }
  attributes_.lpSecurityDescriptor = descriptor_.Get();
}

}  // namespace crash_reporter
