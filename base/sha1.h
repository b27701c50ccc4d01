// SHA-1 (FIPS 180-4). Not for security decisions; for identifiers and
// checksums. (SHA-256 lives in crypto/.)
#ifndef BASE_SHA1_H_
#define BASE_SHA1_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

constexpr size_t kSHA1Length = 20;  // bytes of a digest

// Writes the 20-byte digest of |len| bytes at |data| to |hash|.
void SHA1HashBytes(const unsigned char* data, size_t len, unsigned char* hash);

// The 20-byte digest of |str| as a byte string (raw bytes, not hex; use
// HexEncode for text).
std::string SHA1HashString(std::string_view str);

// Incremental form.
class SHA1Hasher {
 public:
  SHA1Hasher();
  void Update(const void* data, size_t len);
  // Writes the 20-byte digest; the hasher then starts over empty.
  void Finish(unsigned char* hash);

 private:
  void Reset();
  void ProcessBlock(const uint8_t* block);

  uint32_t h_[5];
  uint64_t byte_count_;
  uint8_t buffer_[64];
};

}  // namespace base

#endif  // BASE_SHA1_H_
