// What a block of a 7z archive may claim to unpack to. The decoder takes a
// block's unpacked size from the archive's header and allocates an output
// buffer of that size before it reads a single packed byte, so a header
// that lies about it would have the extractor set aside gigabytes before
// the decoder finds out. Each coder of a block is held to what its method
// can really produce from its input: a stored (Copy) coder exactly its
// input, a branch filter exactly its input, LZMA and LZMA2 no more than
// their strongest ratio allows.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_BLOCK_LIMITS_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_BLOCK_LIMITS_H_

#include <cstdint>
#include <string>
#include <vector>

#include <lzma/7z.h>

namespace installer {

// LZMA reaches about 7,000:1 on zeros at its strongest setting (every
// 273-byte match then costs a fraction of a bit): nothing real comes near
// this bound, and a claim above it is a lie.
inline constexpr uint64_t kMaxLzmaRatio = 8192;
// Room for the coders' own overhead on tiny inputs.
inline constexpr uint64_t kLzmaRatioSlack = 1 << 16;
// Methods this extractor does not know are held to a looser bound; the
// decoder refuses most of them anyway.
inline constexpr uint64_t kMaxOtherRatio = 1 << 16;
inline constexpr uint64_t kOtherRatioSlack = 1 << 20;

// Whether every coder of block |block| of |db| claims no more than its
// input can give. When not, |why| says which coder claims what from how
// much.
bool BlockClaimIsPlausible(const CSzAr& db, uint32_t block, std::string* why);

// Coder methods for a log line: each method's name ("unknown" where it
// has none) and its id in hexadecimal, e.g. "Deflate (method 040108)".
std::string DescribeCoderMethods(const std::vector<uint64_t>& methods);

// The coders of block |block| of |db| for a log line, as
// DescribeCoderMethods writes them.
std::string DescribeBlockCoders(const CSzAr& db, uint32_t block);

// Whether the decoder this extractor uses can decode |method|.
bool IsDecodableMethod(uint64_t method);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_BLOCK_LIMITS_H_
