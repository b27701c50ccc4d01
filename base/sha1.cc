// SHA-1 as specified in FIPS 180-4, section 6.1.
#include "base/sha1.h"

#include <cstring>

namespace base {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

SHA1Hasher::SHA1Hasher() { Reset(); }

void SHA1Hasher::Reset() {
  // Initial hash value H(0) (FIPS 180-4 section 5.3.1).
  h_[0] = 0x67452301;
  h_[1] = 0xefcdab89;
  h_[2] = 0x98badcfe;
  h_[3] = 0x10325476;
  h_[4] = 0xc3d2e1f0;
  byte_count_ = 0;
  std::memset(buffer_, 0, sizeof(buffer_));
}

void SHA1Hasher::ProcessBlock(const uint8_t* block) {
  // Message schedule W(0..79) (section 6.1.2 step 1), big-endian words.
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = (static_cast<uint32_t>(block[4 * t]) << 24) |
           (static_cast<uint32_t>(block[4 * t + 1]) << 16) |
           (static_cast<uint32_t>(block[4 * t + 2]) << 8) | static_cast<uint32_t>(block[4 * t + 3]);
  }
  for (int t = 16; t < 80; ++t)
    w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) ^ (~b & d);  // Ch
      k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d;  // Parity
      k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) ^ (b & d) ^ (c & d);  // Maj
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;  // Parity
      k = 0xca62c1d6;
    }
    uint32_t temp = RotateLeft(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = temp;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

void SHA1Hasher::Update(const void* data, size_t len) {
  if (len == 0)
    return;
  const auto* input = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(byte_count_ % 64);
  byte_count_ += len;
  if (used) {
    size_t take = 64 - used;
    if (take > len) {
      std::memcpy(buffer_ + used, input, len);
      return;
    }
    std::memcpy(buffer_ + used, input, take);
    ProcessBlock(buffer_);
    input += take;
    len -= take;
  }
  while (len >= 64) {
    ProcessBlock(input);
    input += 64;
    len -= 64;
  }
  if (len)
    std::memcpy(buffer_, input, len);
}

void SHA1Hasher::Finish(unsigned char* hash) {
  // Padding (section 5.1.1): 0x80, zeros to 56 mod 64, then the message
  // length in bits as a 64-bit big-endian number.
  uint64_t bit_count = byte_count_ * 8;
  uint8_t padding[72] = {0x80};
  size_t used = static_cast<size_t>(byte_count_ % 64);
  size_t pad_length = used < 56 ? 56 - used : 120 - used;
  Update(padding, pad_length);
  uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i)
    length_bytes[i] = static_cast<uint8_t>(bit_count >> (56 - 8 * i));
  Update(length_bytes, 8);
  for (int i = 0; i < 5; ++i) {
    hash[4 * i] = static_cast<unsigned char>(h_[i] >> 24);
    hash[4 * i + 1] = static_cast<unsigned char>(h_[i] >> 16);
    hash[4 * i + 2] = static_cast<unsigned char>(h_[i] >> 8);
    hash[4 * i + 3] = static_cast<unsigned char>(h_[i]);
  }
  Reset();
}

void SHA1HashBytes(const unsigned char* data, size_t len, unsigned char* hash) {
  SHA1Hasher hasher;
  hasher.Update(data, len);
  hasher.Finish(hash);
}

std::string SHA1HashString(std::string_view str) {
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(str.data()), str.size(), hash);
  return std::string(reinterpret_cast<const char*>(hash), kSHA1Length);
}

}  // namespace base
