// Reads what an installer executable carries behind its image: a 7z package
// (the offline installer) or tracking data for the package server (the net
// installer). The payload sits in a trailer
//   "VLM" | payload (L bytes) | L (unsigned 32-bit, little-endian)
// either at the very end of the file or directly before the Authenticode
// certificate table, so that a signature can cover it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "desktop/windows/installer/package_fetcher/package_status.h"

namespace installer {

// The magic in front of every payload.
inline constexpr char kPayloadMagic[] = "VLM";
inline constexpr size_t kPayloadMagicLength = 3;

class PayloadReader {
 public:
  // Maps |exe| and classifies its payload at once.
  explicit PayloadReader(const base::FilePath& exe);
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;
  ~PayloadReader();

  // kPayloadNone to kPayloadCorrupted.
  PackageStatus type() const { return type_; }
  uint64_t payload_offset() const { return payload_offset_; }
  uint64_t payload_size() const { return payload_size_; }

  // Empty for no or a corrupted payload; the external data once SetPayload
  // gave some; otherwise the payload bytes.
  std::string GetTrackingData() const;
  // Tracking data given from outside (the command line) replaces the payload.
  void SetPayload(const std::string& data);
  // Writes the 7z package, or the tracking data, into a new |path|. False for
  // no or a corrupted payload, for more than 2^31 - 1 bytes and when not
  // every byte reached the file.
  bool WritePayloadToFile(const base::FilePath& path) const;

 private:
  void Classify();
  // Whether a trailer whose length field starts at |position| is valid; on
  // success fills the payload offset and size.
  bool FindTrailer(uint64_t position);

  base::MemoryMappedFile file_;
  std::string external_tracking_data_;
  uint64_t payload_size_ = 0;
  uint64_t payload_offset_ = 0;
  PackageStatus type_ = kPayloadNone;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
