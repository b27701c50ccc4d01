// Random numbers from the system's cryptographic random source
// (RtlGenRandom, i.e. advapi32's SystemFunction036; BCryptGenRandom as a
// fallback). Thread-safe; no seeding needed.
#ifndef BASE_RAND_UTIL_H_
#define BASE_RAND_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// A uniformly distributed integer in [min, max], both ends included
// (rejection sampling, no modulo bias). min == max gives min; the full range
// (INT_MIN, INT_MAX) works. Requires min <= max (checked).
int RandInt(int min, int max);

// A uniformly distributed 64-bit value.
uint64_t RandUint64();

// A uniformly distributed value in [0, range); requires range > 0.
uint64_t RandGenerator(uint64_t range);

// A uniformly distributed double in [0, 1).
double RandDouble();

// Fills |output| with |length| random bytes.
void RandBytes(void* output, size_t length);
// |length| random bytes as a byte string.
std::string RandBytesAsString(size_t length);

}  // namespace base

#endif  // BASE_RAND_UTIL_H_
