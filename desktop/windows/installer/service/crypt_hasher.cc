#include "desktop/windows/installer/service/crypt_hasher.h"

#include <algorithm>

#include "base/logging.h"

namespace installer {

bool CryptHasher::Init(const char* algorithm_oid) {
  const ALG_ID algorithm = ::CertOIDToAlgId(algorithm_oid);
  if (algorithm != CALG_SHA1 && algorithm != CALG_SHA_256 && algorithm != CALG_SHA_384 &&
      algorithm != CALG_SHA_512) {
    LOG(ERROR) << "Unsupported digest algorithm " << algorithm_oid;
    return false;
  }
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    PLOG(ERROR) << "CryptAcquireContextW failed";
    return false;
  }
  // The hash goes first: it must be destroyed before its provider.
  hash_.Reset();
  provider_.Reset(provider);
  HCRYPTHASH hash = 0;
  if (!::CryptCreateHash(provider_.Get(), algorithm, 0, 0, &hash)) {
    PLOG(ERROR) << "CryptCreateHash failed";
    return false;
  }
  hash_.Reset(hash);
  return true;
}

bool CryptHasher::Update(const uint8_t* data, size_t length) {
  // CryptHashData takes a 32-bit length.
  constexpr size_t kChunk = 1 << 30;
  while (length > 0) {
    const size_t chunk = std::min(length, kChunk);
    if (!::CryptHashData(hash_.Get(), data, static_cast<DWORD>(chunk), 0)) {
      PLOG(ERROR) << "CryptHashData failed";
      return false;
    }
    data += chunk;
    length -= chunk;
  }
  return true;
}

bool CryptHasher::Finish(std::vector<uint8_t>* digest) {
  DWORD size = 0;
  DWORD size_size = sizeof(size);
  if (!::CryptGetHashParam(hash_.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &size_size,
                           0)) {
    PLOG(ERROR) << "CryptGetHashParam(HP_HASHSIZE) failed";
    return false;
  }
  digest->resize(size);
  if (!::CryptGetHashParam(hash_.Get(), HP_HASHVAL, digest->data(), &size, 0)) {
    PLOG(ERROR) << "CryptGetHashParam(HP_HASHVAL) failed";
    return false;
  }
  digest->resize(size);
  return true;
}

}  // namespace installer
