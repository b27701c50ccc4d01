// MD5 message digest (RFC 1321). Not for security; for checksums.
//
//   base::MD5Context ctx;
//   base::MD5Init(&ctx);
//   base::MD5Update(&ctx, data, size);   // any number of times
//   base::MD5Digest digest;
//   base::MD5Final(&digest, &ctx);
#ifndef BASE_MD5_H_
#define BASE_MD5_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

struct MD5Digest {
  uint8_t a[16];
};

struct MD5Context {
  uint32_t state[4];
  uint64_t byte_count;  // bytes hashed so far
  uint8_t buffer[64];   // pending input (byte_count % 64 bytes of it)
};

// Starts a new digest; must be called before MD5Update.
void MD5Init(MD5Context* context);
// Adds |length| bytes at |data| (null is fine when |length| is 0).
void MD5Update(MD5Context* context, const void* data, size_t length);
void MD5Update(MD5Context* context, std::string_view data);
// Finishes and writes the 16-byte digest. The context must be re-initialised
// with MD5Init before it is used again.
void MD5Final(MD5Digest* digest, MD5Context* context);

// The digest as 32 LOWER-case hexadecimal digits (as md5sum prints it).
std::string MD5DigestToBase16(const MD5Digest& digest);

// One-shot digest of a buffer.
void MD5Sum(const void* data, size_t length, MD5Digest* digest);
// One-shot digest as 32 lower-case hexadecimal digits.
std::string MD5String(std::string_view str);

}  // namespace base

#endif  // BASE_MD5_H_
