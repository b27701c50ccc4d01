// Incremental cryptographic hashing.
#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace base {
class FilePath;
}

namespace crypto {

class SecureHash {
 public:
  enum Algorithm {
    SHA256 = 0,
  };

  static constexpr size_t kSha256Length = 32;

  virtual ~SecureHash() = default;

  // A hasher for |algorithm|; only SHA256 (0) exists. Any other value logs
  // "NOT IMPLEMENTED" and gives null.
  static std::unique_ptr<SecureHash> Create(int algorithm);

  virtual void Update(const void* data, size_t length) = 0;
  // Writes the first min(|length|, GetHashLength()) bytes of the digest.
  // The hasher is spent afterwards: create a new one for the next input.
  virtual void Finish(void* output, size_t length) = 0;
  virtual size_t GetHashLength() const = 0;

 protected:
  SecureHash() = default;
};

// The SHA-256 digest of a whole file, read in 1 MiB chunks. False (logged)
// when the file cannot be opened or read.
bool Sha256HashFile(const base::FilePath& path, uint8_t (&digest)[SecureHash::kSha256Length]);

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_
