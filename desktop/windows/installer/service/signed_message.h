// Reading PKCS#7 signed messages through CryptoAPI: parameters, the signer's
// certificate and its display name.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SIGNED_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SIGNED_MESSAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/installer/service/crypt_holders.h"

namespace installer {

inline constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// One CryptMsgGetParam value. The buffer is 8-byte aligned so that the
// structures CryptoAPI writes into it may be read in place.
class MessageParam {
 public:
  bool Read(HCRYPTMSG msg, DWORD type, DWORD index);
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(buffer_.data()); }
  DWORD size() const { return size_; }
  template <typename T>
  const T* As() const {
    return size_ >= sizeof(T) ? reinterpret_cast<const T*>(buffer_.data()) : nullptr;
  }

 private:
  std::vector<uint64_t> buffer_;
  DWORD size_ = 0;
};

// The certificate of the message's first signer, looked up in |store|.
bool GetSignerCertificate(HCRYPTMSG msg, HCERTSTORE store, ScopedCertContext* certificate);

// The certificate's simple display name (usually the subject's common name).
bool GetCertificateDisplayName(PCCERT_CONTEXT certificate, std::wstring* name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SIGNED_MESSAGE_H_
