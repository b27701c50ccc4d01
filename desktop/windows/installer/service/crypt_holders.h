// Holders for the CryptoAPI objects the signature checks open: certificate
// stores, certificates, chains, decoded messages, providers and hashes.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HOLDERS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HOLDERS_H_

#include <windows.h>

#include <wincrypt.h>

#include "base/scoped_generic.h"

namespace installer {

struct CertStoreTraits {
  static HCERTSTORE InvalidValue() { return nullptr; }
  static void Free(HCERTSTORE& store) { ::CertCloseStore(store, 0); }
};
using ScopedCertStore = base::ScopedGeneric<HCERTSTORE, CertStoreTraits>;

struct CertContextTraits {
  static PCCERT_CONTEXT InvalidValue() { return nullptr; }
  static void Free(PCCERT_CONTEXT& cert) { ::CertFreeCertificateContext(cert); }
};
using ScopedCertContext = base::ScopedGeneric<PCCERT_CONTEXT, CertContextTraits>;

struct CertChainTraits {
  static PCCERT_CHAIN_CONTEXT InvalidValue() { return nullptr; }
  static void Free(PCCERT_CHAIN_CONTEXT& chain) { ::CertFreeCertificateChain(chain); }
};
using ScopedCertChain = base::ScopedGeneric<PCCERT_CHAIN_CONTEXT, CertChainTraits>;

struct CryptMsgTraits {
  static HCRYPTMSG InvalidValue() { return nullptr; }
  static void Free(HCRYPTMSG& msg) { ::CryptMsgClose(msg); }
};
using ScopedCryptMsg = base::ScopedGeneric<HCRYPTMSG, CryptMsgTraits>;

struct CryptProvTraits {
  static HCRYPTPROV InvalidValue() { return 0; }
  static void Free(HCRYPTPROV& prov) { ::CryptReleaseContext(prov, 0); }
};
using ScopedCryptProv = base::ScopedGeneric<HCRYPTPROV, CryptProvTraits>;

struct CryptHashTraits {
  static HCRYPTHASH InvalidValue() { return 0; }
  static void Free(HCRYPTHASH& hash) { ::CryptDestroyHash(hash); }
};
using ScopedCryptHash = base::ScopedGeneric<HCRYPTHASH, CryptHashTraits>;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_CRYPT_HOLDERS_H_
