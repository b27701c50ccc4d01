#include "desktop/windows/installer/package_fetcher/archive_block_limits.h"

#include <iomanip>
#include <sstream>
#include <vector>

namespace installer {
namespace {

// Method ids of the 7z format.
constexpr uint32_t kCopy = 0;
constexpr uint32_t kDelta = 3;
constexpr uint32_t kLzma2 = 0x21;
constexpr uint32_t kLzma = 0x030101;
constexpr uint32_t kBcj2 = 0x0303011B;

// Branch filters and Delta give exactly as many bytes as they get.
bool IsLengthPreservingFilter(uint64_t method) {
  switch (method) {
    case kDelta:
    case 0x03030103:  // x86
    case 0x03030205:  // PPC
    case 0x03030401:  // IA64
    case 0x03030501:  // ARM
    case 0x03030701:  // ARM Thumb
    case 0x03030805:  // SPARC
    case 0xA:         // ARM64
    case 0xB:         // RISC-V
      return true;
    default: return false;
  }
}

const char* MethodName(uint64_t method) {
  switch (method) {
    case kCopy: return "stored (Copy)";
    case kLzma: return "LZMA";
    case kLzma2: return "LZMA2";
    case kBcj2: return "BCJ2";
    default: return IsLengthPreservingFilter(method) ? "filter" : "unknown method";
  }
}

// The names 7-Zip gives the methods an archive may name; null for others.
const char* KnownMethodName(uint64_t method) {
  switch (method) {
    case kCopy: return "Copy";
    case kDelta: return "Delta";
    case kLzma: return "LZMA";
    case kLzma2: return "LZMA2";
    case kBcj2: return "BCJ2";
    case 0x03030103: return "BCJ (x86)";
    case 0x03030205: return "PPC";
    case 0x03030401: return "IA64";
    case 0x03030501: return "ARM";
    case 0x03030701: return "ARM Thumb";
    case 0x03030805: return "SPARC";
    case 0xA: return "ARM64";
    case 0xB: return "RISC-V";
    case 0x030401: return "PPMd";
    case 0x040108: return "Deflate";
    case 0x040109: return "Deflate64";
    case 0x040202: return "BZip2";
    case 0x04F71101: return "Zstandard";
    case 0x06F10701: return "AES-256 (encrypted)";
    default: return nullptr;
  }
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// Whether |claimed| exceeds |ratio| * |input| + |slack|, without wrapping.
bool ExceedsRatio(uint64_t claimed, uint64_t input, uint64_t ratio, uint64_t slack) {
  return claimed > slack && (claimed - slack) / ratio > input;
}

}  // namespace

bool BlockClaimIsPlausible(const CSzAr& db, uint32_t block, std::string* why) {
  CSzFolder folder;
  CSzData data;
  data.Data = db.CodersData + db.FoCodersOffsets[block];
  data.Size = db.FoCodersOffsets[block + 1] - db.FoCodersOffsets[block];
  if (SzGetNextFolderItem(&folder, &data) != SZ_OK) {
    *why = "its coders cannot be read";
    return false;
  }
  const uint64_t* unpack_sizes = db.CoderUnpackSizes + db.FoToCoderUnpackSizes[block];
  const uint32_t first_pack = db.FoStartPackStreamIndex[block];
  const uint32_t pack_count = db.FoStartPackStreamIndex[block + 1] - first_pack;

  // The bytes that reach the coders' input stream |stream|: a packed
  // stream's size, or the claim of the coder bound to it.
  auto input_size = [&](uint32_t stream) -> uint64_t {
    for (uint32_t k = 0; k < folder.NumPackStreams && k < pack_count; ++k) {
      if (folder.PackStreams[k] == stream)
        return db.PackPositions[first_pack + k + 1] - db.PackPositions[first_pack + k];
    }
    for (uint32_t b = 0; b < folder.NumBonds; ++b) {
      if (folder.Bonds[b].InIndex == stream && folder.Bonds[b].OutIndex < folder.NumCoders)
        return unpack_sizes[folder.Bonds[b].OutIndex];
    }
    return 0;  // Unconnected: the decoder refuses the block.
  };

  uint32_t stream = 0;
  for (uint32_t c = 0; c < folder.NumCoders; ++c) {
    const CSzCoderInfo& coder = folder.Coders[c];
    uint64_t input = 0;
    for (uint32_t s = 0; s < coder.NumStreams; ++s)
      input = SaturatingAdd(input, input_size(stream + s));
    stream += coder.NumStreams;
    const uint64_t claimed = unpack_sizes[c];

    bool plausible;
    const char* rule;
    if (coder.MethodID == kCopy || IsLengthPreservingFilter(coder.MethodID)) {
      plausible = claimed == input;
      rule = "it must unpack to exactly its input";
    } else if (coder.MethodID == kLzma || coder.MethodID == kLzma2) {
      plausible = !ExceedsRatio(claimed, input, kMaxLzmaRatio, kLzmaRatioSlack);
      rule = "more than LZMA can produce";
    } else if (coder.MethodID == kBcj2) {
      // Every output byte comes from one of its inputs.
      plausible = claimed <= input;
      rule = "more than its inputs hold";
    } else {
      plausible = !ExceedsRatio(claimed, input, kMaxOtherRatio, kOtherRatioSlack);
      rule = "more than any method produces";
    }
    if (!plausible) {
      std::ostringstream text;
      text << "claims " << claimed << " bytes from " << input << " bytes of input in its "
           << MethodName(coder.MethodID) << " coder: " << rule;
      *why = text.str();
      return false;
    }
  }
  return true;
}

bool IsDecodableMethod(uint64_t method) {
  return method == kCopy || method == kLzma || method == kLzma2 || method == kBcj2 ||
         IsLengthPreservingFilter(method);
}

std::string DescribeCoderMethods(const std::vector<uint64_t>& methods) {
  std::ostringstream text;
  for (size_t c = 0; c < methods.size(); ++c) {
    const uint64_t method = methods[c];
    if (c > 0)
      text << ", ";
    const char* name = KnownMethodName(method);
    text << (name ? name : "unknown") << " ";
    // Method ids are written as their bytes in hexadecimal, as 7-Zip shows
    // them: 21, 030101, 040108.
    int bytes = 1;
    while (bytes < 8 && (method >> (8 * bytes)) != 0)
      ++bytes;
    text << "(method " << std::hex << std::uppercase << std::setfill('0') << std::setw(2 * bytes)
         << method << std::dec << ")";
  }
  return text.str();
}

std::string DescribeBlockCoders(const CSzAr& db, uint32_t block) {
  CSzFolder folder;
  CSzData data;
  data.Data = db.CodersData + db.FoCodersOffsets[block];
  data.Size = db.FoCodersOffsets[block + 1] - db.FoCodersOffsets[block];
  if (SzGetNextFolderItem(&folder, &data) != SZ_OK)
    return "coders that cannot be read";
  std::vector<uint64_t> methods;
  for (uint32_t c = 0; c < folder.NumCoders; ++c)
    methods.push_back(folder.Coders[c].MethodID);
  return DescribeCoderMethods(methods);
}

}  // namespace installer
