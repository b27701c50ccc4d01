// SHA256_Init and friends are deprecated in OpenSSL 3 in favour of the EVP
// interface, which would allocate and look up an algorithm per hasher; the
// plain functions are all a fixed algorithm needs.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "crypto/secure_hash.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace crypto {

namespace {

class SecureHashSha256 : public SecureHash {
 public:
  SecureHashSha256() { SHA256_Init(&context_); }
  ~SecureHashSha256() override { OPENSSL_cleanse(&context_, sizeof(context_)); }

  void Update(const void* data, size_t length) override { SHA256_Update(&context_, data, length); }

  void Finish(void* output, size_t length) override {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &context_);
    memcpy(output, digest, std::min(length, sizeof(digest)));
    OPENSSL_cleanse(digest, sizeof(digest));
  }

  size_t GetHashLength() const override { return SHA256_DIGEST_LENGTH; }

 private:
  SHA256_CTX context_;
};

static_assert(SHA256_DIGEST_LENGTH == SecureHash::kSha256Length);

constexpr DWORD kReadChunkSize = 1024 * 1024;

}  // namespace

// static
std::unique_ptr<SecureHash> SecureHash::Create(int algorithm) {
  if (algorithm == SHA256)
    return std::make_unique<SecureHashSha256>();
  LOG(ERROR) << "NOT IMPLEMENTED";
  return nullptr;
}

bool Sha256HashFile(const base::FilePath& path, uint8_t (&digest)[SecureHash::kSha256Length]) {
  base::win::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot open " << path.value() << " for hashing";
    return false;
  }
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunkSize]);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.get(), kReadChunkSize, &read, nullptr)) {
      PLOG(ERROR) << "Cannot read " << path.value() << " for hashing";
      return false;
    }
    if (read == 0)
      break;
    hash->Update(buffer.get(), read);
  }
  hash->Finish(digest, sizeof(digest));
  return true;
}

}  // namespace crypto
