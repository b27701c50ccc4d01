// MD5 as described in RFC 1321 ("The MD5 Message-Digest Algorithm").
#include "base/md5.h"

#include <cstring>

namespace base {

namespace {

// Per-round shift amounts (RFC 1321 section 3.4, S11..S44).
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// T[i] = floor(2^32 * abs(sin(i + 1))) (RFC 1321 section 3.4).
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One 64-byte block (RFC 1321 section 3.4).
void Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[4 * i]) | (static_cast<uint32_t>(block[4 * i + 1]) << 8) |
           (static_cast<uint32_t>(block[4 * i + 2]) << 16) |
           (static_cast<uint32_t>(block[4 * i + 3]) << 24);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int k;
    if (i < 16) {
      f = (b & c) | (~b & d);  // F
      k = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);  // G
      k = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;  // H
      k = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);  // I
      k = (7 * i) % 16;
    }
    uint32_t temp = d;
    d = c;
    c = b;
    b = b + RotateLeft(a + f + kT[i] + x[k], kShift[i]);
    a = temp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(MD5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->byte_count = 0;
  std::memset(context->buffer, 0, sizeof(context->buffer));
}

void MD5Update(MD5Context* context, const void* data, size_t length) {
  if (length == 0)
    return;
  const auto* input = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(context->byte_count % 64);
  context->byte_count += length;
  if (used) {
    size_t take = 64 - used;
    if (take > length) {
      std::memcpy(context->buffer + used, input, length);
      return;
    }
    std::memcpy(context->buffer + used, input, take);
    Transform(context->state, context->buffer);
    input += take;
    length -= take;
  }
  while (length >= 64) {
    Transform(context->state, input);
    input += 64;
    length -= 64;
  }
  if (length)
    std::memcpy(context->buffer, input, length);
}

void MD5Update(MD5Context* context, std::string_view data) {
  MD5Update(context, data.data(), data.size());
}

void MD5Final(MD5Digest* digest, MD5Context* context) {
  // Padding: one 0x80 byte, zeros up to 56 mod 64, then the bit length as a
  // 64-bit little-endian number (RFC 1321 sections 3.1 and 3.2).
  uint64_t bit_count = context->byte_count * 8;
  uint8_t padding[72] = {0x80};
  size_t used = static_cast<size_t>(context->byte_count % 64);
  size_t pad_length = used < 56 ? 56 - used : 120 - used;
  MD5Update(context, padding, pad_length);
  uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i)
    length_bytes[i] = static_cast<uint8_t>(bit_count >> (8 * i));
  MD5Update(context, length_bytes, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      digest->a[4 * i + j] = static_cast<uint8_t>(context->state[i] >> (8 * j));
  }
  std::memset(context, 0, sizeof(*context));
}

std::string MD5DigestToBase16(const MD5Digest& digest) {
  static const char kHexChars[] = "0123456789abcdef";
  std::string result(32, '\0');
  for (int i = 0; i < 16; ++i) {
    result[2 * i] = kHexChars[digest.a[i] >> 4];
    result[2 * i + 1] = kHexChars[digest.a[i] & 0x0f];
  }
  return result;
}

void MD5Sum(const void* data, size_t length, MD5Digest* digest) {
  MD5Context context;
  MD5Init(&context);
  MD5Update(&context, data, length);
  MD5Final(digest, &context);
}

std::string MD5String(std::string_view str) {
  MD5Digest digest;
  MD5Sum(str.data(), str.size(), &digest);
  return MD5DigestToBase16(digest);
}

}  // namespace base
