#include "desktop/windows/installer/package_fetcher/checksum_checker.h"

#include <cstdio>
#include <memory>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "crypto/secure_hash.h"

namespace installer {

bool ChecksumMatches(const base::FilePath& file, const std::string& expected) {
  base::MemoryMappedFile mapped;
  if (!mapped.Initialize(file)) {
    LOG(ERROR) << "Unable to read " << file;
    return false;
  }
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  if (mapped.length() != 0)
    hash->Update(mapped.data(), mapped.length());
  uint8_t digest[crypto::SecureHash::kSha256Length];
  hash->Finish(digest, sizeof(digest));

  char hex[2 * sizeof(digest) + 1];
  for (size_t i = 0; i < sizeof(digest); ++i)
    snprintf(hex + 2 * i, 3, "%x%x", digest[i] >> 4, digest[i] & 0xF);
  const std::string actual(hex, 2 * sizeof(digest));
  if (actual == expected)
    return true;
  // The caller names the failure; these are the facts that explain it.
  LOG(INFO) << file << " holds " << mapped.length() << " bytes with SHA-256 " << actual << " where "
            << (expected.empty() ? std::string("(none)") : expected) << " was expected";
  return false;
}

}  // namespace installer
