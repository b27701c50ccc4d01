#include "desktop/windows/installer/service/authenticode.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <string>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/service/crypt_holders.h"
#include "desktop/windows/installer/service/nested_signature.h"
#include "desktop/windows/installer/service/signed_message.h"

namespace installer {

namespace {

bool WinVerifyTrustAccepts(const base::FilePath& file) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = file.c_str();

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  // No state is kept, so there is nothing to close afterwards.
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<DWORD>(result)) << "WinVerifyTrust refused " << file.value();
    return false;
  }
  return true;
}

}  // namespace

bool VerifyAuthenticode(const base::FilePath& file, std::string_view expected_signer) {
  if (!WinVerifyTrustAccepts(file))
    return false;

  HCERTSTORE raw_store = nullptr;
  HCRYPTMSG raw_msg = nullptr;
  DWORD encoding = 0;
  DWORD content_type = 0;
  DWORD format_type = 0;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, file.c_str(),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, &encoding, &content_type, &format_type, &raw_store, &raw_msg,
                          nullptr)) {
    PLOG(ERROR) << "CryptQueryObject failed for " << file.value();
    return false;
  }
  ScopedCertStore store(raw_store);
  ScopedCryptMsg msg(raw_msg);

  const std::wstring expected = base::UTF8ToWide(expected_signer);
  ScopedCertContext certificate;
  std::wstring name;
  if (!GetSignerCertificate(msg.Get(), store.Get(), &certificate) ||
      !GetCertificateDisplayName(certificate.Get(), &name)) {
    return false;
  }
  // WinVerifyTrust has checked the primary signature against the file.
  if (name == expected)
    return true;

  MessageParam param;
  if (!param.Read(msg.Get(), CMSG_SIGNER_INFO_PARAM, 0))
    return false;
  const auto* signer = param.As<CMSG_SIGNER_INFO>();
  if (!signer) {
    LOG(ERROR) << "Short signer information in " << file.value();
    return false;
  }
  base::MemoryMappedFile image;
  bool has_nested = false;
  for (DWORD i = 0; i < signer->UnauthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer->UnauthAttrs.rgAttr[i];
    if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, kNestedSignatureOid) != 0)
      continue;
    if (!has_nested) {
      has_nested = true;
      if (!image.Initialize(file)) {
        // MemoryMappedFile has logged the cause.
        return false;
      }
    }
    for (DWORD j = 0; j < attribute.cValue; ++j) {
      if (VerifyNestedSignature(attribute.rgValue[j].pbData, attribute.rgValue[j].cbData,
                                image.data(), image.length(), expected)) {
        return true;
      }
    }
  }
  LOG(ERROR) << "Signer \"" << name << "\" of " << file.value()
             << " is not the expected signer and no valid nested signature names it";
  return false;
}

}  // namespace installer
