#include "base/cpu_info.h"

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(CpuInfoTest, IdentifiesAnX64Processor) {
  CpuInfo cpu;
  // Every x86-64 processor has these; the program refuses to run without SSE2.
  EXPECT_TRUE(cpu.has_mmx());
  EXPECT_TRUE(cpu.has_sse());
  EXPECT_TRUE(cpu.has_sse2());
  EXPECT_EQ(12u, cpu.vendor_name().size());
  EXPECT_GE(cpu.family(), 6);
  // The extension flags come in order.
  if (cpu.has_avx2()) {
    EXPECT_TRUE(cpu.has_avx());
  }
  if (cpu.has_sse42()) {
    EXPECT_TRUE(cpu.has_sse41());
  }
  if (cpu.has_ssse3()) {
    EXPECT_TRUE(cpu.has_sse3());
  }
  EXPECT_EQ(cpu.stepping(), cpu.signature() & 0xf);
}

}  // namespace
}  // namespace base
