// Verification of a nested Authenticode signature: a PKCS#7 SignedData kept
// as an unauthenticated attribute of the primary signature.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_NESTED_SIGNATURE_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_NESTED_SIGNATURE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// The OID of the unauthenticated attribute that holds nested signatures.
inline constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

// True when the encoded nested signature |encoded| is signed by a
// certificate named |expected_signer|, its signature over its signed
// attributes verifies, its message digest matches its content, the image
// digest in that content matches |image| (the whole PE file), and the
// signer's chain passes the Authenticode policy. False (logged) otherwise.
bool VerifyNestedSignature(const uint8_t* encoded, size_t encoded_size, const uint8_t* image,
                           size_t image_size, const std::wstring& expected_signer);

// Tests: while alive, a nested signer's chain that ends in the root
// certificate |der| passes although that root is not trusted by the machine.
// Test fixtures are signed by a throw-away CA; the chain policy check itself
// stays in force for every other root.
class ScopedNestedSignatureTestRoot {
 public:
  explicit ScopedNestedSignatureTestRoot(std::string_view der);
  ScopedNestedSignatureTestRoot(const ScopedNestedSignatureTestRoot&) = delete;
  ScopedNestedSignatureTestRoot& operator=(const ScopedNestedSignatureTestRoot&) = delete;
  ~ScopedNestedSignatureTestRoot();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_NESTED_SIGNATURE_H_
