#include "base/rand_util.h"

#include <windows.h>
// ntsecapi.h declares RtlGenRandom (exported by advapi32 as SystemFunction036).
#include <ntsecapi.h>

#include <climits>
#include <cstring>

#include "base/logging.h"

namespace base {

namespace {

// BCryptGenRandom, looked up at run time so that bcrypt.lib need not be
// linked: used only when RtlGenRandom fails.
bool BCryptFill(void* output, ULONG length) {
  using BCryptGenRandomFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
  static BCryptGenRandomFn fn = [] {
    HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module)
      return static_cast<BCryptGenRandomFn>(nullptr);
    return reinterpret_cast<BCryptGenRandomFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "BCryptGenRandom")));
  }();
  constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
  return fn && fn(nullptr, static_cast<PUCHAR>(output), length, kUseSystemPreferredRng) >= 0;
}

}  // namespace

void RandBytes(void* output, size_t length) {
  auto* out = static_cast<unsigned char*>(output);
  while (length > 0) {
    // Both functions take a ULONG length: fill in chunks.
    ULONG chunk = length > 0x10000000u ? 0x10000000u : static_cast<ULONG>(length);
    bool ok = RtlGenRandom(out, chunk) || BCryptFill(out, chunk);
    // Without a random source nothing that needs randomness is safe to run.
    CHECK(ok) << "The system random source failed";
    out += chunk;
    length -= chunk;
  }
}

std::string RandBytesAsString(size_t length) {
  std::string result(length, '\0');
  if (length)
    RandBytes(result.data(), length);
  return result;
}

uint64_t RandUint64() {
  uint64_t value;
  RandBytes(&value, sizeof(value));
  return value;
}

uint64_t RandGenerator(uint64_t range) {
  CHECK_GT(range, 0u);
  // Reject the values of the incomplete last copy of [0, range) within the
  // 64-bit space: 2^64 mod range of them, at the bottom.
  uint64_t threshold = (0 - range) % range;  // (2^64 - range) mod range == 2^64 mod range
  uint64_t value;
  do {
    value = RandUint64();
  } while (value < threshold);
  return value % range;
}

int RandInt(int min, int max) {
  CHECK_LE(min, max);
  // The span max - min + 1 fits in 64 bits even for the full int range.
  uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(max) - min) + 1;
  uint64_t offset = RandGenerator(range);
  return static_cast<int>(static_cast<int64_t>(min) + static_cast<int64_t>(offset));
}

double RandDouble() {
  // 53 random bits scaled into [0, 1).
  uint64_t bits = RandUint64() >> 11;
  return static_cast<double>(bits) * (1.0 / 9007199254740992.0);
}

}  // namespace base
