#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <windows.h>

#include <climits>
#include <cstring>

#include "base/files/file.h"
#include "base/logging.h"

namespace installer {
namespace {

constexpr uint8_t k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

// Offsets from the "PE\0\0" signature to the certificate-table entry of the
// data directories: the optional header of a 32-bit image is 16 bytes
// shorter than that of a 64-bit one.
constexpr uint64_t kPeOffsetField = 60;
constexpr uint64_t kCertificateEntry32 = 152;
constexpr uint64_t kCertificateEntry64 = 168;
constexpr uint16_t kMachineI386 = 0x14C;

uint32_t ReadUint32(const uint8_t* data) {
  uint32_t value;
  memcpy(&value, data, sizeof(value));
  return value;
}

uint16_t ReadUint16(const uint8_t* data) {
  uint16_t value;
  memcpy(&value, data, sizeof(value));
  return value;
}

}  // namespace

PayloadReader::PayloadReader(const base::FilePath& exe) {
  LOG(INFO) << "Reading Payload";
  if (!file_.Initialize(exe)) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    type_ = kPayloadNone;
    return;
  }
  Classify();
}

PayloadReader::~PayloadReader() = default;

void PayloadReader::Classify() {
  const uint8_t* data = file_.data();
  const uint64_t length = file_.length();

  if (length < kPeOffsetField + 4 || data[0] != 'M' || data[1] != 'Z') {
    type_ = kPayloadCorrupted;
    return;
  }
  const uint64_t pe = ReadUint32(data + kPeOffsetField);
  // The machine field follows the signature; the certificate entry lies
  // further in, so checking that entry's end covers every read below.
  if (pe + 6 > length || memcmp(data + pe, "PE\0\0", 4) != 0) {
    type_ = kPayloadCorrupted;
    return;
  }
  const uint16_t machine = ReadUint16(data + pe + 4);
  const uint64_t entry = pe + (machine == kMachineI386 ? kCertificateEntry32 : kCertificateEntry64);
  if (entry + 8 > length) {
    type_ = kPayloadCorrupted;
    return;
  }
  const uint32_t certificate_size = ReadUint32(data + entry + 4);
  const bool is_signed = certificate_size != 0;
  const uint64_t certificate_offset = is_signed ? ReadUint32(data + entry) : 0;
  if (certificate_offset > length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    type_ = kPayloadCorrupted;
    return;
  }

  bool at_end = false;
  bool found = false;
  if (length >= 4 && FindTrailer(length - 4)) {
    found = true;
    at_end = true;
  } else if (is_signed && certificate_offset >= 4 && FindTrailer(certificate_offset - 4)) {
    found = true;
  }
  if (!found) {
    LOG(WARNING) << "No valid payload found";
    type_ = kPayloadNone;
    return;
  }

  const bool is_7z = payload_size_ >= sizeof(k7zSignature) &&
                     memcmp(data + payload_offset_, k7zSignature, sizeof(k7zSignature)) == 0;
  if (!is_7z) {
    type_ = kPayloadTrackingData;
    return;
  }
  if (is_signed && at_end) {
    // A package behind the signature could be swapped without breaking it.
    LOG(ERROR) << "Found full package that is not covered by the signature";
    type_ = kPayloadNone;
    payload_offset_ = payload_size_ = 0;
    return;
  }
  type_ = kPayloadFullPackage;
}

bool PayloadReader::FindTrailer(uint64_t position) {
  const uint8_t* data = file_.data();
  // The length field must fit in the file, with room for the magic before.
  if (position < kPayloadMagicLength || position + 4 > file_.length()) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t size = ReadUint32(data + position);
  if (size > position - kPayloadMagicLength) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t offset = position - size;
  if (memcmp(data + offset - kPayloadMagicLength, kPayloadMagic, kPayloadMagicLength) != 0) {
    VLOG(1) << "Payload data invalid";
    return false;
  }
  payload_offset_ = offset;
  payload_size_ = size;
  return true;
}

std::string PayloadReader::GetTrackingData() const {
  if (type_ == kPayloadNone || type_ == kPayloadCorrupted)
    return std::string();
  if (!external_tracking_data_.empty())
    return external_tracking_data_;
  return std::string(reinterpret_cast<const char*>(file_.data()) + payload_offset_, payload_size_);
}

void PayloadReader::SetPayload(const std::string& data) {
  external_tracking_data_ = data;
  type_ = kPayloadExternalTrackingData;
}

bool PayloadReader::WritePayloadToFile(const base::FilePath& path) const {
  if (type_ == kPayloadNone || type_ == kPayloadCorrupted)
    return false;
  LOG(INFO) << "Writing payload to file " << path;
  const char* bytes;
  uint64_t size;
  std::string tracking_data;
  if (type_ == kPayloadFullPackage) {
    bytes = reinterpret_cast<const char*>(file_.data()) + payload_offset_;
    size = payload_size_;
  } else {
    tracking_data = GetTrackingData();
    bytes = tracking_data.data();
    size = tracking_data.size();
  }
  if (size > static_cast<uint64_t>(INT_MAX)) {
    LOG(ERROR) << "Payload of " << size << " bytes is too large to write";
    return false;
  }
  base::File file(path, base::File::FLAG_CREATE_ALWAYS | base::File::FLAG_WRITE);
  if (!file.IsValid())
    return false;  // Logged by the open.
  const int written = file.Write(0, bytes, static_cast<int>(size));
  if (written < 0)
    return false;  // Logged by the write.
  if (written != static_cast<int>(size)) {
    LOG(ERROR) << "Wrote " << written << " of " << size << " payload bytes to " << path;
    return false;
  }
  return true;
}

}  // namespace installer
