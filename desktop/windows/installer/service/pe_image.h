// Quick looks at the headers of executable (PE) images.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"

namespace installer {

// True for a readable image with both the "MZ" and the "PE\0\0" signatures
// and a complete file header; |not_x86| is then set when the machine field
// names anything but x86.
bool IsPeImage(const base::FilePath& path, bool* not_x86);

// Maps |file|; false when it cannot be mapped or is not a PE image.
// Otherwise true, with |is_signed| set when the certificate-table size of
// the (64-bit) optional header is not zero.
bool HasEmbeddedSignature(const base::FilePath& file, bool* is_signed);

// The offset of the "PE\0\0" signature in |data|, when |data| starts with
// "MZ" and the signature and the 20-byte file header after it lie within
// |length| bytes.
bool FindPeSignature(const uint8_t* data, size_t length, size_t* pe_offset);

// Little-endian reads that return false rather than read past |length|.
bool ReadPeUint16(const uint8_t* data, size_t length, size_t offset, uint16_t* value);
bool ReadPeUint32(const uint8_t* data, size_t length, size_t offset, uint32_t* value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PE_IMAGE_H_
