// The Authenticode digest of a PE image, the value a signature's
// SpcIndirectDataContent carries.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_DIGEST_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_DIGEST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace installer {

// Hashes every byte of the image except the optional header's checksum, the
// certificate-table directory entry and the certificate table itself (and
// anything after it) with |algorithm_oid|. False (logged) for malformed
// headers: no offset is trusted before it is checked against |length|.
bool ComputePeImageDigest(const uint8_t* data, size_t length, const char* algorithm_oid,
                          std::vector<uint8_t>* digest);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_DIGEST_H_
