// The security attributes of the crash pipe: a low-integrity mandatory label
// without write-up, so that installer processes running at low integrity can
// still register with a reporter at medium integrity.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_SECURITY_ATTRIBUTES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_SECURITY_ATTRIBUTES_H_

#include <windows.h>

#include "base/win/scoped_local_alloc.h"

namespace crash_reporter {

inline constexpr wchar_t kLowIntegrityPipeSddl[] = L"S:(ML;;NW;;;S-1-16-4096)";

class PipeSecurityAttributes {
 public:
  PipeSecurityAttributes();
  PipeSecurityAttributes(const PipeSecurityAttributes&) = delete;
  PipeSecurityAttributes& operator=(const PipeSecurityAttributes&) = delete;

  // What CreateNamedPipeW takes: null before Windows Vista, attributes
  // without a descriptor when the label could not be built.
  SECURITY_ATTRIBUTES* Get() { return use_attributes_ ? &attributes_ : nullptr; }
  bool HasLabel() const { return attributes_.lpSecurityDescriptor != nullptr; }

 private:
  bool use_attributes_ = false;
  SECURITY_ATTRIBUTES attributes_ = {};
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_SECURITY_ATTRIBUTES_H_
