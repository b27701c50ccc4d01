#include "desktop/windows/crash_reporter/handle_trace_description.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/crash_logger.h"
#include "desktop/windows/crash_reporter/module_list_text.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// A ring as the installer keeps it, filled entry by entry.
class TestRing {
 public:
  TestRing() : bytes_(kHandleTraceSize) {}
  void SetIndices(uint64_t start, uint64_t end) {
    std::memcpy(&bytes_[0], &start, 8);
    std::memcpy(&bytes_[8], &end, 8);
  }
  void SetEntry(size_t index, uint64_t handle, const char* type, const char* info,
                uint16_t frames) {
    uint8_t* entry = &bytes_[kHandleTraceHeaderSize + index * kHandleTraceEntrySize];
    std::memcpy(entry, &handle, 8);
    const uint32_t thread = 0xab, timestamp = 0x10 + static_cast<uint32_t>(index), one = 1;
    std::memcpy(entry + 8, &thread, 4);
    std::memcpy(entry + 12, &timestamp, 4);
    std::memcpy(entry + 16, &frames, 2);
    for (uint64_t i = 0; i < 20; ++i) {
      const uint64_t frame = 0x1000 + i;
      std::memcpy(entry + 24 + i * 8, &frame, 8);
    }
    std::memcpy(entry + 184, type, std::min<size_t>(16, std::strlen(type)));
    std::memcpy(entry + 200, info, std::min<size_t>(16, std::strlen(info)));
    std::memcpy(entry + 216, &one, 4);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

TEST(HandleTraceDescriptionTest, EntriesAreDescribedNewestFirstAcrossTheRingsEnd) {
  TestRing ring;
  ring.SetIndices(498, 2);  // entries 498, 499, 0 and 1, oldest first
  ring.SetEntry(498, 0x40, "Event", "open", 2);
  ring.SetEntry(499, 0x44, "File", "open", 0);
  ring.SetEntry(0, 0x40, "Event", "close", 25);
  ring.SetEntry(1, 0x48, "Mutex", "open", 1);
  const std::vector<std::string> lines = DescribeHandleTraceRing(ring.bytes(), nullptr);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(
      "Handle 48, timestamp 11, info open, type Mutex, thread id ab, inherit 1, "
      "protect from close 0, backtrace 0000000000001000 ",
      lines[0]);
  EXPECT_EQ(0u, lines[1].find("Handle 40, timestamp 10, info close"));
  EXPECT_EQ(0u, lines[3].find("Handle 40, timestamp 202, info open"));
  // At most 20 frames, whatever the count says.
  EXPECT_NE(std::string::npos, lines[1].find("0000000000001013 "));
  EXPECT_EQ(std::string::npos, lines[1].find("0000000000001014"));

  const uint64_t only = 0x40;
  const std::vector<std::string> filtered = DescribeHandleTraceRing(ring.bytes(), &only);
  ASSERT_EQ(2u, filtered.size());
  EXPECT_EQ(0u, filtered[1].find("Handle 40, timestamp 202"));
}

TEST(HandleTraceDescriptionTest, TextsFillingTheirFieldsAndBadIndicesAreSafe) {
  TestRing ring;
  ring.SetIndices(0, 1);
  // 16 characters without a terminator, followed by the info field.
  ring.SetEntry(0, 1, "ABCDEFGHIJKLMNOP", "qrstuvwxyz012345", 0);
  const std::vector<std::string> lines = DescribeHandleTraceRing(ring.bytes(), nullptr);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("info qrstuvwxyz01234, type ABCDEFGHIJKLMNO,"));

  ring.SetIndices(500, 1);
  EXPECT_TRUE(DescribeHandleTraceRing(ring.bytes(), nullptr).empty());
  ring.SetIndices(0, 500);
  EXPECT_TRUE(DescribeHandleTraceRing(ring.bytes(), nullptr).empty());
  std::vector<uint8_t> short_ring(ring.bytes().begin(), ring.bytes().end() - 1);
  EXPECT_TRUE(DescribeHandleTraceRing(short_ring, nullptr).empty());

  // A full ring (start just after end) gives no more than 200 lines.
  ring.SetIndices(10, 10);
  EXPECT_EQ(kMaxDescribedHandleEntries, DescribeHandleTraceRing(ring.bytes(), nullptr).size());
}

TEST(HandleTraceDescriptionTest, TheRingIsReadFromTheProcessIntoTheCrashLogger) {
  TestRing ring;
  ring.SetIndices(0, 1);
  ring.SetEntry(0, 0x5c, "Key", "open", 0);
  wchar_t address[32];
  swprintf(address, 32, L"%llx", reinterpret_cast<unsigned long long>(ring.bytes().data()));
  TestCrashKeys keys({{L"handle_info_items", address}});
  CrashLogger logger;
  logging::SetLogMessageHandler(&ReporterLogMessageHandler);
  DescribeHandleTrace(::GetCurrentProcess(), keys.info());
  logging::SetLogMessageHandler(nullptr);
  EXPECT_NE(std::string::npos, logger.text().find("Handle 5c, timestamp 10, info open, type Key"))
      << logger.text();
}

TEST(ModuleListTextTest, RecordsUpToTheFirstMalformedOne) {
  std::vector<FallbackModule> modules =
      SplitModuleList(L"a.dll:10000000:2000:C:\\a.dll::b.dll:zz:10:C:\\b.dll::");
  ASSERT_EQ(1u, modules.size());
  EXPECT_EQ(L"a.dll", modules[0].name);
  EXPECT_EQ(L"C:\\a.dll", modules[0].path.value());
  EXPECT_EQ(0x10000000u, modules[0].load_address);
  EXPECT_EQ(0x2000u, modules[0].size);

  modules = SplitModuleList(L"a.exe:400000:1000:C:\\a.exe::b.dll:7ff00000:ff:D:\\x\\b.dll::");
  ASSERT_EQ(2u, modules.size());
  EXPECT_EQ(L"D:\\x\\b.dll", modules[1].path.value());
  EXPECT_EQ(0xffu, modules[1].size);

  for (const wchar_t* bad :
       {L":1:1:C:\\a::", L"a::1:C:\\a::", L"a:1:1:::", L"a:1:1:C:\\a", L"a:1:"}) {
    EXPECT_TRUE(SplitModuleList(bad).empty()) << bad;
  }
}

}  // namespace
}  // namespace crash_reporter
