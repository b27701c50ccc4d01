// The Authenticode check of a downloaded or unpacked executable.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_H_

#include <string_view>

#include "base/files/file_path.h"

namespace installer {

// True when WinVerifyTrust accepts |file| (generic verify action, no user
// interface, no revocation checking) and the primary signature's signer, or
// the signer of a nested signature, is named |expected_signer| (UTF-8;
// callers pass GetExpectedSigner() of the product configuration).
// A nested signature is an unauthenticated attribute anybody can paste into
// a signed file, so its signer counts only when the nested signature itself
// verifies: its PKCS#7 signature, its digest against this file's image, and
// its certificate chain under the Authenticode policy.
bool VerifyAuthenticode(const base::FilePath& file, std::string_view expected_signer);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_H_
