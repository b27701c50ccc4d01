#include "desktop/windows/installer/service/pe_image.h"

#include <windows.h>

#include <cstring>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"

namespace installer {

namespace {

// Where e_lfanew (the offset of the PE signature) sits in the DOS header.
constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kFileHeaderSize = 20;
// From the PE signature: the certificate-table size in the data directory
// of a PE32+ optional header (4 + 20 + 112 + 4 * 8 + 4).
constexpr size_t kCertificateTableSizeOffset = 172;

}  // namespace

bool ReadPeUint16(const uint8_t* data, size_t length, size_t offset, uint16_t* value) {
  if (offset > length || length - offset < 2)
    return false;
  *value = static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
  return true;
}

bool ReadPeUint32(const uint8_t* data, size_t length, size_t offset, uint32_t* value) {
  if (offset > length || length - offset < 4)
    return false;
  *value = static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
           static_cast<uint32_t>(data[offset + 2]) << 16 |
           static_cast<uint32_t>(data[offset + 3]) << 24;
  return true;
}

bool FindPeSignature(const uint8_t* data, size_t length, size_t* pe_offset) {
  if (length < 2 || data[0] != 'M' || data[1] != 'Z')
    return false;
  uint32_t offset = 0;
  if (!ReadPeUint32(data, length, kPeOffsetField, &offset))
    return false;
  if (offset > length || length - offset < 4 + kFileHeaderSize)
    return false;
  if (std::memcmp(data + offset, "PE\0\0", 4) != 0)
    return false;
  *pe_offset = offset;
  return true;
}

bool IsPeImage(const base::FilePath& path, bool* not_x86) {
  base::MemoryMappedFile file;
  if (!file.Initialize(path)) {
    // MemoryMappedFile has logged the cause.
    return false;
  }
  size_t pe_offset = 0;
  if (!FindPeSignature(file.data(), file.length(), &pe_offset)) {
    LOG(ERROR) << "Not a PE image: " << path.value();
    return false;
  }
  uint16_t machine = 0;
  // FindPeSignature made sure the file header is there.
  ReadPeUint16(file.data(), file.length(), pe_offset + 4, &machine);
  *not_x86 = machine != IMAGE_FILE_MACHINE_I386;
  return true;
}

bool HasEmbeddedSignature(const base::FilePath& file, bool* is_signed) {
  base::MemoryMappedFile mapped;
  if (!mapped.Initialize(file)) {
    // MemoryMappedFile has logged the cause.
    return false;
  }
  size_t pe_offset = 0;
  if (!FindPeSignature(mapped.data(), mapped.length(), &pe_offset)) {
    LOG(ERROR) << "Not a PE image: " << file.value();
    return false;
  }
  uint32_t certificate_table_size = 0;
  if (!ReadPeUint32(mapped.data(), mapped.length(), pe_offset + kCertificateTableSizeOffset,
                    &certificate_table_size)) {
    LOG(ERROR) << "Truncated PE headers: " << file.value();
    return false;
  }
  *is_signed = certificate_table_size != 0;
  return true;
}

}  // namespace installer
