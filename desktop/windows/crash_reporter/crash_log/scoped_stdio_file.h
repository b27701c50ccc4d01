// A C runtime stream held by the project's one holder: the crash logs are
// written through stdio for its text mode and formatting.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SCOPED_STDIO_FILE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SCOPED_STDIO_FILE_H_

#include <cstdio>

#include "base/scoped_generic.h"

namespace crash_reporter {

struct StdioFileTraits {
  static FILE* InvalidValue() { return nullptr; }
  static void Free(FILE*& file) { fclose(file); }
};
using ScopedStdioFile = base::ScopedGeneric<FILE*, StdioFileTraits>;

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SCOPED_STDIO_FILE_H_
