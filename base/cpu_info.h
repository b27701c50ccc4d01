// Processor identification through the cpuid instruction: vendor, family,
// model, stepping, brand text and the instruction-set extensions.
#ifndef BASE_CPU_INFO_H_
#define BASE_CPU_INFO_H_

#include <string>

namespace base {

class CpuInfo {
 public:
  // Reads everything at construction; cheap enough to build where needed.
  CpuInfo();

  // "GenuineIntel", "AuthenticAMD", ...; empty when cpuid gives nothing.
  const std::string& vendor_name() const { return vendor_; }
  // The processor name string ("Intel(R) Core(TM) ..."), trimmed; may be empty.
  const std::string& cpu_brand() const { return brand_; }
  // Leaf 1 EAX as read.
  int signature() const { return signature_; }
  // Display family and model: the extended fields folded in as the vendors
  // document it.
  int family() const { return family_; }
  int model() const { return model_; }
  int stepping() const { return stepping_; }
  int ext_family() const { return ext_family_; }
  int ext_model() const { return ext_model_; }
  int type() const { return type_; }

  bool has_mmx() const { return has_mmx_; }
  bool has_sse() const { return has_sse_; }
  bool has_sse2() const { return has_sse2_; }
  bool has_sse3() const { return has_sse3_; }
  bool has_ssse3() const { return has_ssse3_; }
  bool has_sse41() const { return has_sse41_; }
  bool has_sse42() const { return has_sse42_; }
  bool has_popcnt() const { return has_popcnt_; }
  // AVX and AVX2 count only when the operating system saves the YMM state.
  bool has_avx() const { return has_avx_; }
  bool has_avx2() const { return has_avx2_; }
  bool has_aesni() const { return has_aesni_; }
  bool has_non_stop_time_stamp_counter() const { return has_non_stop_time_stamp_counter_; }

 private:
  std::string vendor_;
  std::string brand_;
  int signature_ = 0;
  int family_ = 0;
  int model_ = 0;
  int stepping_ = 0;
  int ext_family_ = 0;
  int ext_model_ = 0;
  int type_ = 0;
  bool has_mmx_ = false;
  bool has_sse_ = false;
  bool has_sse2_ = false;
  bool has_sse3_ = false;
  bool has_ssse3_ = false;
  bool has_sse41_ = false;
  bool has_sse42_ = false;
  bool has_popcnt_ = false;
  bool has_avx_ = false;
  bool has_avx2_ = false;
  bool has_aesni_ = false;
  bool has_non_stop_time_stamp_counter_ = false;
};

}  // namespace base

#endif  // BASE_CPU_INFO_H_
