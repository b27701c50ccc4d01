#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// True when the SHA-256 digest of |file|, as 64 lower-case hexadecimal
// digits, equals |expected| exactly: the package server always sends lower
// case, so anything else is not its checksum.
bool ChecksumMatches(const base::FilePath& file, const std::string& expected);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_CHECKSUM_CHECKER_H_
