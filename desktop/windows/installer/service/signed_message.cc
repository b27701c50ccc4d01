#include "desktop/windows/installer/service/signed_message.h"

#include "base/logging.h"

namespace installer {

bool MessageParam::Read(HCRYPTMSG msg, DWORD type, DWORD index) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(msg, type, index, nullptr, &size)) {
    PLOG(ERROR) << "CryptMsgGetParam(" << type << ") size query failed";
    return false;
  }
  buffer_.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
  if (!::CryptMsgGetParam(msg, type, index, buffer_.data(), &size)) {
    PLOG(ERROR) << "CryptMsgGetParam(" << type << ") failed";
    return false;
  }
  size_ = size;
  return true;
}

bool GetSignerCertificate(HCRYPTMSG msg, HCERTSTORE store, ScopedCertContext* certificate) {
  MessageParam param;
  if (!param.Read(msg, CMSG_SIGNER_INFO_PARAM, 0))
    return false;
  const auto* signer = param.As<CMSG_SIGNER_INFO>();
  if (!signer) {
    LOG(ERROR) << "Short signer information";
    return false;
  }
  CERT_INFO wanted = {};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, kMessageEncoding, 0,
                                                      CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
  if (!found) {
    PLOG(ERROR) << "The signer's certificate is not in the signature";
    return false;
  }
  certificate->Reset(found);
  return true;
}

bool GetCertificateDisplayName(PCCERT_CONTEXT certificate, std::wstring* name) {
  const DWORD size =
      ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  // The size counts the terminating NUL; 1 means an empty name.
  if (size <= 1) {
    LOG(ERROR) << "The signer's certificate has no display name";
    return false;
  }
  std::wstring buffer(size, L'\0');
  ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer.data(), size);
  buffer.resize(size - 1);
  *name = std::move(buffer);
  return true;
}

}  // namespace installer
