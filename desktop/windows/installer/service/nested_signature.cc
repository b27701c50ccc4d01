#include "desktop/windows/installer/service/nested_signature.h"

#include <windows.h>

#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "base/logging.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/service/crypt_hasher.h"
#include "desktop/windows/installer/service/crypt_holders.h"
#include "desktop/windows/installer/service/pe_image_digest.h"
#include "desktop/windows/installer/service/signed_message.h"

namespace installer {

namespace {

// The code-signing extended key usage.
constexpr char kCodeSigningOid[] = "1.3.6.1.5.5.7.3.3";

std::string& TestRoot() {
  static std::string der;
  return der;
}

// True when the chain ends in the root that a test named.
bool EndsInTestRoot(PCCERT_CHAIN_CONTEXT chain) {
  const std::string& test_root = TestRoot();
  if (test_root.empty() || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0)
    return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  return root->cbCertEncoded == test_root.size() &&
         std::memcmp(root->pbCertEncoded, test_root.data(), test_root.size()) == 0;
}

template <typename T>
using ScopedDecoded = base::win::ScopedLocalAllocTyped<T*>;

template <typename T>
bool Decode(const char* type, const uint8_t* data, DWORD size, ScopedDecoded<T>* decoded) {
  T* raw = nullptr;
  DWORD raw_size = 0;
  if (!::CryptDecodeObjectEx(kMessageEncoding, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &raw, &raw_size)) {
    PLOG(ERROR) << "CryptDecodeObjectEx failed";
    return false;
  }
  decoded->Reset(raw);
  return true;
}

// The contents octets of a DER SEQUENCE (tag and length stripped): what the
// PKCS#7 message digest of non-data content covers.
bool SequenceContents(const uint8_t* der, size_t size, const uint8_t** contents,
                      size_t* contents_size) {
  if (size < 2 || der[0] != 0x30)
    return false;
  size_t header = 2;
  size_t length = der[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || size < 2 + count)
      return false;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = length << 8 | der[2 + i];
    header += count;
  }
  if (length != size - header)
    return false;
  *contents = der + header;
  *contents_size = length;
  return true;
}

bool DigestsEqual(const std::vector<uint8_t>& computed, const uint8_t* expected, size_t size) {
  return computed.size() == size && std::memcmp(computed.data(), expected, size) == 0;
}

// The signature over the signed attributes, and the messageDigest attribute
// against the content the attributes vouch for.
bool VerifyMessageSignature(HCRYPTMSG msg, PCCERT_CONTEXT signer_certificate,
                            const uint8_t* content, size_t content_size) {
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwSignerIndex = 0;
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(signer_certificate);
  if (!::CryptMsgControl(msg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)) {
    PLOG(ERROR) << "The nested signature does not verify";
    return false;
  }

  MessageParam param;
  if (!param.Read(msg, CMSG_SIGNER_INFO_PARAM, 0))
    return false;
  const auto* signer = param.As<CMSG_SIGNER_INFO>();
  if (!signer) {
    LOG(ERROR) << "Short nested signer information";
    return false;
  }
  const CRYPT_ATTRIBUTE* digest_attribute = nullptr;
  for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
    if (attribute.pszObjId && std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0 &&
        attribute.cValue == 1) {
      digest_attribute = &attribute;
    }
  }
  if (!digest_attribute) {
    LOG(ERROR) << "The nested signature has no message digest";
    return false;
  }
  ScopedDecoded<CRYPT_DATA_BLOB> expected;
  if (!Decode(X509_OCTET_STRING, digest_attribute->rgValue[0].pbData,
              digest_attribute->rgValue[0].cbData, &expected)) {
    return false;
  }
  const uint8_t* contents = nullptr;
  size_t contents_size = 0;
  if (!SequenceContents(content, content_size, &contents, &contents_size)) {
    LOG(ERROR) << "The nested signature's content is not a DER sequence";
    return false;
  }
  CryptHasher hasher;
  std::vector<uint8_t> computed;
  if (!hasher.Init(signer->HashAlgorithm.pszObjId) || !hasher.Update(contents, contents_size) ||
      !hasher.Finish(&computed)) {
    return false;
  }
  if (!DigestsEqual(computed, expected.Get()->pbData, expected.Get()->cbData)) {
    LOG(ERROR) << "The nested signature's message digest does not match its content";
    return false;
  }
  return true;
}

// The SpcIndirectDataContent's image digest against the file.
bool VerifyImageDigest(const uint8_t* content, DWORD content_size, const uint8_t* image,
                       size_t image_size) {
  ScopedDecoded<SPC_INDIRECT_DATA_CONTENT> indirect;
  if (!Decode(SPC_INDIRECT_DATA_CONTENT_STRUCT, content, content_size, &indirect))
    return false;
  std::vector<uint8_t> computed;
  if (!ComputePeImageDigest(image, image_size, indirect.Get()->DigestAlgorithm.pszObjId,
                            &computed)) {
    return false;
  }
  if (!DigestsEqual(computed, indirect.Get()->Digest.pbData, indirect.Get()->Digest.cbData)) {
    LOG(ERROR) << "The nested signature belongs to another image";
    return false;
  }
  return true;
}

bool VerifyChain(PCCERT_CONTEXT signer_certificate, HCERTSTORE message_store) {
  LPSTR usages[] = {const_cast<LPSTR>(kCodeSigningOid)};
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT raw_chain = nullptr;
  if (!::CertGetCertificateChain(nullptr, signer_certificate, nullptr, message_store, &chain_para,
                                 0, nullptr, &raw_chain)) {
    PLOG(ERROR) << "CertGetCertificateChain failed for the nested signer";
    return false;
  }
  ScopedCertChain chain(raw_chain);
  CERT_CHAIN_POLICY_PARA policy_para = {};
  policy_para.cbSize = sizeof(policy_para);
  if (EndsInTestRoot(chain.Get()))
    policy_para.dwFlags |= CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.Get(), &policy_para,
                                          &status)) {
    PLOG(ERROR) << "CertVerifyCertificateChainPolicy failed for the nested signer";
    return false;
  }
  if (status.dwError != 0) {
    ELOG(ERROR, status.dwError) << "The nested signer's chain is not trusted";
    return false;
  }
  return true;
}

}  // namespace

bool VerifyNestedSignature(const uint8_t* encoded, size_t encoded_size, const uint8_t* image,
                           size_t image_size, const std::wstring& expected_signer) {
  ScopedCryptMsg msg(::CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
  if (!msg.IsValid()) {
    PLOG(ERROR) << "CryptMsgOpenToDecode failed";
    return false;
  }
  if (encoded_size > MAXDWORD ||
      !::CryptMsgUpdate(msg.Get(), encoded, static_cast<DWORD>(encoded_size), TRUE)) {
    PLOG(ERROR) << "The nested signature cannot be decoded";
    return false;
  }
  ScopedCertStore store(::CertOpenStore(CERT_STORE_PROV_MSG, kMessageEncoding, 0, 0, msg.Get()));
  if (!store.IsValid()) {
    PLOG(ERROR) << "CertOpenStore on the nested signature failed";
    return false;
  }
  ScopedCertContext certificate;
  std::wstring name;
  if (!GetSignerCertificate(msg.Get(), store.Get(), &certificate) ||
      !GetCertificateDisplayName(certificate.Get(), &name)) {
    return false;
  }
  if (name != expected_signer) {
    LOG(ERROR) << "Nested signer \"" << name << "\" is not the expected signer";
    return false;
  }

  MessageParam content_type;
  if (!content_type.Read(msg.Get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0))
    return false;
  const std::string type(
      reinterpret_cast<const char*>(content_type.data()),
      strnlen(reinterpret_cast<const char*>(content_type.data()), content_type.size()));
  if (type != SPC_INDIRECT_DATA_OBJID) {
    LOG(ERROR) << "The nested signature signs content of type " << type;
    return false;
  }
  MessageParam content;
  if (!content.Read(msg.Get(), CMSG_CONTENT_PARAM, 0))
    return false;

  return VerifyMessageSignature(msg.Get(), certificate.Get(), content.data(), content.size()) &&
         VerifyImageDigest(content.data(), content.size(), image, image_size) &&
         VerifyChain(certificate.Get(), store.Get());
}

ScopedNestedSignatureTestRoot::ScopedNestedSignatureTestRoot(std::string_view der) {
  TestRoot().assign(der);
}

ScopedNestedSignatureTestRoot::~ScopedNestedSignatureTestRoot() { TestRoot().clear(); }

}  // namespace installer
