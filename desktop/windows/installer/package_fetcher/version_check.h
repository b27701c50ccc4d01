// Whether a downloaded installer (or a component's installer) is at least as
// new as this one, and of the same stream, asked by running it with
// "internal-version" and "stream".
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_VERSION_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_VERSION_CHECK_H_

#include <cstddef>
#include <string>

#include "base/files/file_path.h"
#include "base/time.h"

namespace base {
class CommandLine;
}

namespace installer {

class StatsNode;

// How long a downloaded program may take to answer a question before it is
// ended and the answer counts as wrong: an installer answers at once.
inline constexpr base::TimeSpan kVersionQueryTimeout = base::TimeSpan::FromSeconds(60);

// Runs |file| with "internal-version" (and, with |check_stream|, "stream"),
// records the answers in |node| ("internal_version", "stream") and compares
// them with this installer's. False, with the reason logged, for a version
// that is not a dotted version or is older, a different stream, and a
// program that cannot be run or does not answer in time.
bool CheckDownloadedVersion(const base::FilePath& file, bool check_stream, StatsNode* node);

// The most output a downloaded program's answer may have: a version or a
// stream name is a line.
inline constexpr size_t kMaxCapturedOutput = 64 * 1024;

// Runs |command_line| hidden and collects its standard output until it ends.
// False when it cannot be started, or when it has not ended within |limit|
// or writes more than |max_output| bytes: it is then ended.
bool RunAndCaptureOutputWithin(const base::CommandLine& command_line, base::TimeSpan limit,
                               std::string* output, size_t max_output = kMaxCapturedOutput);

// Tests: the limit in place of kVersionQueryTimeout (zero restores it).
void SetVersionQueryTimeoutForTesting(base::TimeSpan limit);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_VERSION_CHECK_H_
