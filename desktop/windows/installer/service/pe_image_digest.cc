#include "desktop/windows/installer/service/pe_image_digest.h"

#include <windows.h>

#include "base/logging.h"
#include "desktop/windows/installer/service/crypt_hasher.h"
#include "desktop/windows/installer/service/pe_image.h"

namespace installer {

namespace {

// Offsets inside the optional header.
constexpr size_t kChecksumOffset = 64;
constexpr size_t kRvaCountOffset32 = 92;
constexpr size_t kRvaCountOffset64 = 108;
constexpr size_t kDataDirectoryOffset32 = 96;
constexpr size_t kDataDirectoryOffset64 = 112;
constexpr size_t kSecurityDirectoryIndex = 4;
constexpr size_t kDirectoryEntrySize = 8;

}  // namespace

bool ComputePeImageDigest(const uint8_t* data, size_t length, const char* algorithm_oid,
                          std::vector<uint8_t>* digest) {
  size_t pe_offset = 0;
  if (!FindPeSignature(data, length, &pe_offset)) {
    LOG(ERROR) << "Not a PE image";
    return false;
  }
  uint16_t optional_header_size = 0;
  uint16_t magic = 0;
  const size_t optional_header = pe_offset + 24;
  if (!ReadPeUint16(data, length, pe_offset + 20, &optional_header_size) ||
      !ReadPeUint16(data, length, optional_header, &magic)) {
    LOG(ERROR) << "Truncated PE headers";
    return false;
  }
  size_t rva_count_offset;
  size_t directory_offset;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    rva_count_offset = kRvaCountOffset64;
    directory_offset = kDataDirectoryOffset64;
  } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    rva_count_offset = kRvaCountOffset32;
    directory_offset = kDataDirectoryOffset32;
  } else {
    LOG(ERROR) << "Unknown optional header magic " << magic;
    return false;
  }
  const size_t entry_in_header = directory_offset + kSecurityDirectoryIndex * kDirectoryEntrySize;
  uint32_t rva_count = 0;
  uint32_t table_offset = 0;
  uint32_t table_size = 0;
  const size_t checksum = optional_header + kChecksumOffset;
  const size_t entry = optional_header + entry_in_header;
  if (optional_header_size < entry_in_header + kDirectoryEntrySize ||
      !ReadPeUint32(data, length, optional_header + rva_count_offset, &rva_count) ||
      rva_count <= kSecurityDirectoryIndex || !ReadPeUint32(data, length, entry, &table_offset) ||
      !ReadPeUint32(data, length, entry + 4, &table_size)) {
    LOG(ERROR) << "PE headers lack the certificate-table entry";
    return false;
  }
  size_t end = length;
  if (table_size != 0) {
    // The table must lie after the headers and inside the file.
    if (table_offset < entry + kDirectoryEntrySize || table_offset > length ||
        table_size > length - table_offset) {
      LOG(ERROR) << "The certificate table lies outside the image";
      return false;
    }
    end = table_offset;
  }

  CryptHasher hasher;
  if (!hasher.Init(algorithm_oid) || !hasher.Update(data, checksum) ||
      !hasher.Update(data + checksum + 4, entry - (checksum + 4)) ||
      !hasher.Update(data + entry + kDirectoryEntrySize, end - (entry + kDirectoryEntrySize)) ||
      !hasher.Finish(digest)) {
    return false;
  }
  return true;
}

}  // namespace installer
