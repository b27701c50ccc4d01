// A CryptoAPI hash chosen by the algorithm OID that a signature names
// (SHA-1, SHA-256, SHA-384 or SHA-512).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HASHER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HASHER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "desktop/windows/installer/service/crypt_holders.h"

namespace installer {

class CryptHasher {
 public:
  CryptHasher() = default;
  CryptHasher(const CryptHasher&) = delete;
  CryptHasher& operator=(const CryptHasher&) = delete;

  // False (logged) for an unknown algorithm or when no provider is at hand.
  bool Init(const char* algorithm_oid);
  bool Update(const uint8_t* data, size_t length);
  bool Finish(std::vector<uint8_t>* digest);

 private:
  ScopedCryptHash hash_;
  ScopedCryptProv provider_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HASHER_H_
