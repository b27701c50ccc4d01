#include "base/cpu_info.h"

#include <cpuid.h>

#include <cstdint>
#include <cstring>

namespace base {

namespace {

struct CpuidRegisters {
  uint32_t eax = 0;
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
};

CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf = 0) {
  CpuidRegisters r;
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

// The extended control register 0: which register states the operating
// system saves on a context switch.
uint64_t ReadXcr0() {
  uint32_t low = 0;
  uint32_t high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<uint64_t>(high) << 32) | low;
}

bool Bit(uint32_t value, int bit) { return (value >> bit) & 1u; }

}  // namespace

CpuInfo::CpuInfo() {
  CpuidRegisters leaf0 = Cpuid(0);
  const uint32_t max_leaf = leaf0.eax;
  char vendor[13] = {};
  memcpy(vendor, &leaf0.ebx, 4);
  memcpy(vendor + 4, &leaf0.edx, 4);
  memcpy(vendor + 8, &leaf0.ecx, 4);
  vendor_ = vendor;

  if (max_leaf >= 1) {
    CpuidRegisters leaf1 = Cpuid(1);
    signature_ = static_cast<int>(leaf1.eax);
    stepping_ = leaf1.eax & 0xf;
    const int base_model = (leaf1.eax >> 4) & 0xf;
    const int base_family = (leaf1.eax >> 8) & 0xf;
    type_ = (leaf1.eax >> 12) & 0x3;
    ext_model_ = (leaf1.eax >> 16) & 0xf;
    ext_family_ = (leaf1.eax >> 20) & 0xff;
    family_ = base_family == 0xf ? base_family + ext_family_ : base_family;
    model_ =
        (base_family == 0xf || base_family == 0x6) ? base_model + (ext_model_ << 4) : base_model;

    has_mmx_ = Bit(leaf1.edx, 23);
    has_sse_ = Bit(leaf1.edx, 25);
    has_sse2_ = Bit(leaf1.edx, 26);
    has_sse3_ = Bit(leaf1.ecx, 0);
    has_ssse3_ = Bit(leaf1.ecx, 9);
    has_sse41_ = Bit(leaf1.ecx, 19);
    has_sse42_ = Bit(leaf1.ecx, 20);
    has_popcnt_ = Bit(leaf1.ecx, 23);
    has_aesni_ = Bit(leaf1.ecx, 25);

    // AVX needs the instruction set and an operating system that saves the
    // XMM and YMM registers (OSXSAVE, then XCR0 bits 1 and 2).
    const bool os_saves_ymm = Bit(leaf1.ecx, 27) && (ReadXcr0() & 0x6) == 0x6;
    has_avx_ = Bit(leaf1.ecx, 28) && os_saves_ymm;
    if (max_leaf >= 7)
      has_avx2_ = has_avx_ && Bit(Cpuid(7, 0).ebx, 5);
  }

  CpuidRegisters ext0 = Cpuid(0x80000000);
  const uint32_t max_ext_leaf = ext0.eax;
  if (max_ext_leaf >= 0x80000004) {
    char brand[49] = {};
    for (uint32_t i = 0; i < 3; ++i) {
      CpuidRegisters r = Cpuid(0x80000002 + i);
      memcpy(brand + i * 16, &r.eax, 4);
      memcpy(brand + i * 16 + 4, &r.ebx, 4);
      memcpy(brand + i * 16 + 8, &r.ecx, 4);
      memcpy(brand + i * 16 + 12, &r.edx, 4);
    }
    brand_ = brand;
    const size_t first = brand_.find_first_not_of(' ');
    const size_t last = brand_.find_last_not_of(' ');
    brand_ = first == std::string::npos ? std::string() : brand_.substr(first, last - first + 1);
  }
  if (max_ext_leaf >= 0x80000007)
    has_non_stop_time_stamp_counter_ = Bit(Cpuid(0x80000007).edx, 8);
}

}  // namespace base
