#include "desktop/windows/crash_reporter/crash_log/crash_log_writer.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/scoped_generic.h"
#include "base/string_split.h"
#include "desktop/windows/crash_reporter/crash_log/fake_process_state_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

constexpr uint64_t kPage = 4096;
// Fixed addresses make the golden text literal: a stack page, a code page
// and a reserved page that cannot be read.
constexpr uint64_t kStackPage = 0x123400000000;
constexpr uint64_t kCodePage = kStackPage + kPage;

struct VirtualTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void*& memory) { ::VirtualFree(memory, 0, MEM_RELEASE); }
};
using ScopedVirtual = base::ScopedGeneric<void*, VirtualTraits>;

// |committed| pages of |total| reserved at |address| (anywhere when 0).
ScopedVirtual Allocate(uint64_t address, size_t committed, size_t total) {
  ScopedVirtual memory(
      ::VirtualAlloc(reinterpret_cast<void*>(address), total * kPage, MEM_RESERVE, PAGE_NOACCESS));
  if (memory.IsValid() && committed > 0 &&
      !::VirtualAlloc(memory.Get(), committed * kPage, MEM_COMMIT, PAGE_READWRITE)) {
    memory.Reset();
  }
  return memory;
}

void Put64(uint64_t address, uint64_t value) {
  memcpy(reinterpret_cast<void*>(address), &value, sizeof(value));
}

class CrashLogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  // Writes the log of |state| and returns its lines (the file is binary, so
  // the lines end in bare line feeds).
  std::vector<std::string> WriteLines(const FakeProcessState& state, const CrashInfo& info,
                                      bool* ok = nullptr) {
    base::FilePath path = temp_.GetPath().Append(L"log.txt");
    FILE* file = _wfopen(path.c_str(), L"wb");
    EXPECT_TRUE(file);
    bool written = WriteCrashLog(&ranges_, state, info, file);
    fclose(file);
    if (ok)
      *ok = written;
    else
      EXPECT_TRUE(written);
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(path, &text));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the log ends with a line feed";
    return lines;
  }

  static size_t Find(const std::vector<std::string>& lines, const std::string& line,
                     size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i] == line)
        return i;
    }
    return std::string::npos;
  }

  static std::vector<std::string> Matching(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
      if (line.rfind(prefix, 0) == 0)
        found.push_back(line);
    }
    return found;
  }

  base::ScopedTempDir temp_;
  MemoryRangeList ranges_;
};

// One crashed thread with every register distinct, a frame chain on its
// stack, a return address into module code, and a second thread whose stack
// size is unknown.
TEST_F(CrashLogWriterTest, GoldenLog) {
  ScopedVirtual pages = Allocate(kStackPage, 2, 3);
  ASSERT_TRUE(pages.IsValid()) << "the fixed test addresses are taken";
  memset(reinterpret_cast<void*>(kStackPage), 0, kPage);
  for (uint64_t i = 0; i < kPage; ++i)
    *reinterpret_cast<uint8_t*>(kCodePage + i) = static_cast<uint8_t>(0x30 + i % 0x50);
  Put64(kStackPage + 0x00, 0x4141414141414141);
  Put64(kStackPage + 0x10, kStackPage + 0x30);  // saved frame pointer
  Put64(kStackPage + 0x18, kCodePage + 0x100);  // return address
  Put64(kStackPage + 0x30, 1);                  // end of the chain

  FakeProcessState state;
  state.crash_code = 0xC0000005;
  state.exception_address = kCodePage + 0x40;
  FakeModule* module = state.AddModule();
  module->name = "velmo.exe";
  module->version = "1.2.3.4";
  module->load_address = kCodePage;
  module->size = 0x1000;
  module->code_end = 0x1000;
  module->time_stamp = 0x5F5E1000;
  state.main_module = module;

  FakeThread* crashed = state.AddThread(0xABC, true);
  crashed->priority = -2;
  crashed->stack_size = kPage;
  RegisterBlock& r = crashed->registers;
  uint64_t* general[] = {&r.rax, &r.rbx, &r.rcx, &r.rdx, &r.rsi, &r.rdi, &r.r8,
                         &r.r9,  &r.r10, &r.r11, &r.r12, &r.r13, &r.r14, &r.r15};
  for (uint64_t i = 0; i < 14; ++i)
    *general[i] = 0xA000000000000001 + i;  // never readable
  r.rbp = kStackPage + 0x10;
  r.rsp = kStackPage;
  r.rip = kCodePage + 0x40;
  r.eflags = 0x10246;
  for (int i = 0; i < 8; ++i) {
    r.st[i].sign_exponent = static_cast<uint16_t>(0x4000 + i);
    r.st[i].mantissa = 0x8000000000000000 + i;
  }
  r.fpu_status_word = 0x1234;
  r.fpu_control_word = 0x37F;
  for (int i = 0; i < 16; ++i) {
    r.xmm[i].high = 0xB000000000000000 + i;
    r.xmm[i].low = 0xC000000000000000 + i;
  }
  FakeThread* other = state.AddThread(0x1DEF, false);
  other->registers.rsp = kStackPage + 0x800;

  CrashInfo info{"_test", "1.2.3.4", "5678", {{"a", "1"}, {"b", "two"}}};
  const std::vector<std::string> lines = WriteLines(state, info);

  std::vector<std::string> golden = {
      "VELMO-CRASHLOG V1 desktop_test 1.2.3.4 5678 windows x64 release",
      "velmo.exe caused exception C0000005 at address 123400001040 (Base: 123400001000)",
      "",
      "metadata:",
      "a=\"1\"",
      "b=\"two\"",
      "",
      "Thread: 00000ABC",
      "",
      "ThreadInfo: 00000ABC",
      "Priority=FFFFFFFE",
      "Crashed=1",
      "checked_context_values=17 (all)",
      "checked_stack_values=23 (all)",
      "",
      "Registers: 00000ABC",
      "RAX=A000000000000001   RBX=A000000000000002   RCX=A000000000000003",
      "RDX=A000000000000004   RSI=A000000000000005   RDI=A000000000000006",
      " R8=A000000000000007    R9=A000000000000008   R10=A000000000000009",
      "R11=A00000000000000A   R12=A00000000000000B   R13=A00000000000000C",
      "R14=A00000000000000D   R15=A00000000000000E   RBP=0000123400000010",
      "RSP=0000123400000000   RIP=0000123400001040 FLAGS=00010246",
      "",
      "FPU stack: 00000ABC",
      "st(0)=40008000000000000000 st(1)=40018000000000000001 st(2)=40028000000000000002",
      "st(3)=40038000000000000003 st(4)=40048000000000000004 st(5)=40058000000000000005",
      "st(6)=40068000000000000006 st(7)=40078000000000000007 SW=1234 CW=037F",
      " XMM0=B000000000000000C000000000000000  XMM1=B000000000000001C000000000000001",
      " XMM2=B000000000000002C000000000000002  XMM3=B000000000000003C000000000000003",
      " XMM4=B000000000000004C000000000000004  XMM5=B000000000000005C000000000000005",
      " XMM6=B000000000000006C000000000000006  XMM7=B000000000000007C000000000000007",
      " XMM8=B000000000000008C000000000000008  XMM9=B000000000000009C000000000000009",
      "XMM10=B00000000000000AC00000000000000A XMM11=B00000000000000BC00000000000000B",
      "XMM12=B00000000000000CC00000000000000C XMM13=B00000000000000DC00000000000000D",
      "XMM14=B00000000000000EC00000000000000E XMM15=B00000000000000FC00000000000000F",
      "",
      "Stack dump: 00000ABC",
      "123400000000  4141414141414141  0000000000000000  AAAAAAAA........",
      "123400000010 >0000123400000030  0000123400001100  0...4.......4...",
      "123400000020  0000000000000000  0000000000000000  ................",
      "123400000030 >0000000000000001  0000000000000000  ................",
  };
  for (uint64_t address = kStackPage + 0x40; address < kStackPage + 0xB0; address += 16) {
    char line[80];
    snprintf(line, sizeof(line), "%012llX  0000000000000000  0000000000000000  ................",
             static_cast<unsigned long long>(address));
    golden.push_back(line);
  }
  golden.push_back("1234000000B0  0000000000000000                    ........");
  golden.insert(golden.end(),
                {"", "Thread: 00001DEF", "", "ThreadInfo: 00001DEF", "Priority=00000000",
                 "Crashed=0", "checked_context_values=17 (all)", "checked_stack_values=80 (all)"});
  const size_t other_registers = golden.size();
  // The other thread's register and stack lines are checked by count; its
  // stack of zeros is kept to the scanning minimum of 512 bytes plus 128.
  size_t stack_dump = Find(lines, "Stack dump: 00001DEF");
  ASSERT_NE(std::string::npos, stack_dump);
  EXPECT_EQ("123400000800  0000000000000000  0000000000000000  ................",
            lines[stack_dump + 1]);
  EXPECT_EQ("123400000A70  0000000000000000  0000000000000000  ................",
            lines[stack_dump + 40]);
  EXPECT_EQ("", lines[stack_dump + 41]);

  const std::vector<std::string> tail = {
      "",
      "Used DLLs:",
      "velmo.exe                  1.2.3.4                                        Base: "
      "123400001000 Size: 00001000 Timestamp: 5F5E1000",
      "",
      "Memory dumps:",
      "123400001030  60 61 62 63  64 65 66 67  68 69 6A 6B  6C 6D 6E 6F `abcdefghijklmno",
      "123400001040  70 71 72 73  74 75 76 77  78 79 7A 7B  7C 7D 7E 7F pqrstuvwxyz{|}~.",
      "",
      "1234000010F0  30 31 32 33  34 35 36 37  38 39 3A 3B  3C 3D 3E 3F 0123456789:;<=>?",
      "123400001100  40 41 42 43  44 45 46 47  48 49 4A 4B  4C 4D 4E 4F @ABCDEFGHIJKLMNO",
  };
  ASSERT_EQ(golden.size() + 21 + 42 + tail.size(), lines.size());
  for (size_t i = 0; i < other_registers; ++i)
    EXPECT_EQ(golden[i], lines[i]) << "line " << i;
  EXPECT_EQ("Registers: 00001DEF", lines[other_registers + 1]);
  EXPECT_EQ("RSP=0000123400000800   RIP=0000000000000000 FLAGS=00000000",
            lines[other_registers + 7]);
  for (size_t i = 0; i < tail.size(); ++i)
    EXPECT_EQ(tail[i], lines[lines.size() - tail.size() + i]) << "tail line " << i;
}

TEST_F(CrashLogWriterTest, NoMainModuleAndNoMetadata) {
  FakeProcessState state;
  state.crash_code = 0x80000003;
  state.exception_address = 0x1234;
  state.AddThread(1, true);
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ("VELMO-CRASHLOG V1 desktop   windows x64 release", lines[0]);
  EXPECT_EQ("<no name> caused exception 80000003 at address 000000001234 (Base: 000000000000)",
            lines[1]);
  EXPECT_EQ(std::string::npos, Find(lines, "metadata:"));
  EXPECT_EQ("Thread: 00000001", lines[3]);
}

TEST_F(CrashLogWriterTest, SixHundredThreadsWriteFourHundredNinetyNine) {
  FakeProcessState state;
  state.AddThread(7, true);
  for (uint32_t id = 100; id < 699; ++id)
    state.AddThread(id, false);
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  const std::vector<std::string> blocks = Matching(lines, "Thread: ");
  ASSERT_EQ(499u, blocks.size());
  EXPECT_EQ("Thread: 00000007", blocks.front());
  EXPECT_EQ("Thread: 00000255", blocks.back());  // id 597, the 499th thread
}

// Stacks whose every value points at its own heap block, 4096 bytes apart,
// so that each checked value adds 2048 bytes to the dump.
class PointerBudgetTest : public CrashLogWriterTest {
 protected:
  static constexpr size_t kValuesPerStack = 64;

  void SetUp() override {
    CrashLogWriterTest::SetUp();
    heap_ = Allocate(0, kHeapPages, kHeapPages);
    ASSERT_TRUE(heap_.IsValid());
  }

  // A thread whose stack holds |count| pointers into fresh heap blocks.
  void AddPointerThread(FakeProcessState* state, uint32_t id, bool crashed, size_t count) {
    stacks_.push_back(std::vector<uint64_t>(count));
    for (uint64_t& value : stacks_.back())
      value = reinterpret_cast<uint64_t>(heap_.Get()) + (next_block_++) * kPage + 2048;
    FakeThread* thread = state->AddThread(id, crashed);
    thread->registers.rsp = reinterpret_cast<uint64_t>(stacks_.back().data());
    thread->stack_size = count * 8;
  }

  std::vector<std::string> CheckedStackValues(const std::vector<std::string>& lines) {
    return Matching(lines, "checked_stack_values=");
  }

  static constexpr size_t kHeapPages = 1024;
  ScopedVirtual heap_;
  std::vector<std::vector<uint64_t>> stacks_;
  size_t next_block_ = 0;
};

TEST_F(PointerBudgetTest, SharedAndPerThreadBudgets) {
  FakeProcessState state;
  state.AddThread(1, true);
  for (uint32_t id = 2; id <= 12; ++id)
    AddPointerThread(&state, id, false, kValuesPerStack);
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  const std::vector<std::string> checked = CheckedStackValues(lines);
  ASSERT_EQ(12u, checked.size());
  // 61440 bytes a thread are 30 pointers; the eleventh thread finds 61440
  // left and, not being last, takes half; the last takes all that is left.
  for (size_t i = 1; i <= 9; ++i)
    EXPECT_EQ("checked_stack_values=30", checked[i]) << i;
  EXPECT_EQ("checked_stack_values=15", checked[10]);
  EXPECT_EQ("checked_stack_values=15", checked[11]);
  size_t dumps = Find(lines, "Memory dumps:");
  ASSERT_NE(std::string::npos, dumps);
  size_t dump_lines = 0;
  for (size_t i = dumps + 1; i < lines.size(); ++i)
    dump_lines += lines[i].empty() ? 0 : 1;
  EXPECT_EQ(614400u / 16, dump_lines);
}

TEST_F(PointerBudgetTest, CrashedThreadIsUnboundedAndLeavesNoBudget) {
  FakeProcessState state;
  AddPointerThread(&state, 1, true, 320);  // 655360 bytes
  AddPointerThread(&state, 2, false, kValuesPerStack);
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  const std::vector<std::string> checked = CheckedStackValues(lines);
  ASSERT_EQ(2u, checked.size());
  EXPECT_EQ("checked_stack_values=320 (all)", checked[0]);
  EXPECT_EQ("checked_stack_values=0", checked[1]);
  EXPECT_EQ("checked_context_values=0", Matching(lines, "checked_context_values=")[1]);
}

TEST_F(CrashLogWriterTest, PointerRanges) {
  ScopedVirtual heap = Allocate(0, 4, 4);
  ASSERT_TRUE(heap.IsValid());
  const uint64_t block = reinterpret_cast<uint64_t>(heap.Get()) + 2 * kPage;
  FakeProcessState state;
  FakeModule* module = state.AddModule();
  module->name = "code.dll";
  module->load_address = reinterpret_cast<uint64_t>(heap.Get());
  module->size = kPage;
  module->code_end = 0x800;
  FakeThread* thread = state.AddThread(3, true);
  thread->registers.rax = block;
  thread->registers.rbx = block + 100;                   // merges with the first
  thread->registers.rcx = module->load_address + 0x400;  // inside the code area
  thread->registers.rdx = module->load_address + 0x900;  // past the code: data
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  size_t dumps = Find(lines, "Memory dumps:");
  ASSERT_NE(std::string::npos, dumps);
  std::vector<std::vector<std::string>> ranges(1);
  for (size_t i = dumps + 1; i < lines.size(); ++i) {
    if (lines[i].empty())
      ranges.emplace_back();
    else
      ranges.back().push_back(lines[i].substr(0, 12));
  }
  ASSERT_EQ(3u, ranges.size());
  auto hex = [](uint64_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%012llX", static_cast<unsigned long long>(value));
    return std::string(text);
  };
  // Code: the 32 bytes around the pointer.
  EXPECT_EQ((std::vector<std::string>{hex(module->load_address + 0x3F0),
                                      hex(module->load_address + 0x400)}),
            ranges[0]);
  // Data: 1024 bytes either side (clamped at the start of the allocation
  // would not apply here).
  EXPECT_EQ(hex(module->load_address + 0x900 - 1024), ranges[1].front());
  EXPECT_EQ(2048u / 16, ranges[1].size());
  // Two pointers 100 bytes apart: one range from 1024 before the first to
  // 1024 after the second.
  EXPECT_EQ(hex(block - 1024), ranges[2].front());
  EXPECT_EQ((2048u + 100 + 15) / 16, ranges[2].size());
}

// Wine reads reserved and no-access pages of a mapping through
// ReadProcessMemory; only address space that nothing maps cannot be read, so
// these tests place single pages at fixed addresses with nothing beside them.
constexpr uint64_t kLonePage = 0x123600000000;
constexpr uint64_t kHolePages = 0x123500000000;
constexpr uint64_t kGranule = 0x10000;

// The end of a range lies in unmapped memory: it is cut back to the page.
TEST_F(CrashLogWriterTest, UnreadableTailIsLeftOut) {
  ScopedVirtual memory = Allocate(kLonePage, 1, 1);
  ASSERT_TRUE(memory.IsValid());
  FakeProcessState state;
  FakeThread* thread = state.AddThread(3, true);
  thread->registers.rax = kLonePage + kPage - 8;
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  size_t dumps = Find(lines, "Memory dumps:");
  ASSERT_NE(std::string::npos, dumps);
  // [page + 3064, page + 4096): 1032 bytes.
  EXPECT_EQ(1032u / 16 + 1, lines.size() - dumps - 1);
}

// A merged range over memory that cannot be read when it is dumped: the
// bytes before and after the hole are shown, nothing from it, and the
// reader's stale bytes after a short read never appear.
TEST_F(CrashLogWriterTest, MiddlePagesThatCannotBeReadAreSkipped) {
  ScopedVirtual first = Allocate(kHolePages, 1, 1);
  ScopedVirtual second = Allocate(kHolePages + kGranule, 1, 1);
  ASSERT_TRUE(first.IsValid() && second.IsValid());
  memset(first.Get(), 0x11, kPage);
  memset(second.Get(), 0x22, kPage);
  FakeProcessState state;
  state.claimed_readable_start = kHolePages + kPage;
  state.claimed_readable_end = kHolePages + kGranule;
  // Pointers 2000 bytes apart on the crashed thread's stack merge into one
  // range from kHolePages + 1976 to kHolePages + 67160.
  std::vector<uint64_t> stack;
  for (uint64_t p = kHolePages + 3000; p < kHolePages + kGranule; p += 2000)
    stack.push_back(p);
  stack.push_back(kHolePages + kGranule + 600);
  // The crashed thread's stack is read for at least 512 bytes: zeros after.
  stack.resize(64);
  FakeThread* thread = state.AddThread(3, true);
  thread->registers.rsp = reinterpret_cast<uint64_t>(stack.data());
  thread->stack_size = stack.size() * 8;
  const std::vector<std::string> lines = WriteLines(state, CrashInfo{});
  size_t dumps = Find(lines, "Memory dumps:");
  ASSERT_NE(std::string::npos, dumps);
  std::vector<uint64_t> addresses;
  for (size_t i = dumps + 1; i < lines.size(); ++i) {
    ASSERT_FALSE(lines[i].empty()) << "one range";
    addresses.push_back(strtoull(lines[i].substr(0, 12).c_str(), nullptr, 16));
    const bool before_hole = addresses.back() < kHolePages + kPage;
    EXPECT_EQ(std::string::npos, lines[i].find(before_hole ? " 22" : " 11")) << lines[i];
  }
  // 2120 bytes before the hole and 1624 after it, 16 to a line.
  ASSERT_EQ(133u + 102u, addresses.size());
  EXPECT_EQ(kHolePages + 1976, addresses.front());
  EXPECT_EQ(kHolePages + 1976 + 132 * 16, addresses[132]);
  EXPECT_EQ(kHolePages + kGranule, addresses[133]);
  EXPECT_EQ(kHolePages + kGranule + 101 * 16, addresses.back());
}

TEST_F(CrashLogWriterTest, FileHasCrLfAndFailedWriteDeletesIt) {
  FakeProcessState state;
  state.AddThread(1, true);
  base::FilePath path = temp_.GetPath().Append(L"crash.txt");
  ASSERT_TRUE(WriteCrashLogFile(path, state, CrashInfo{"", "1", "2", {{"k", "v"}}}, &ranges_));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(path, &text));
  EXPECT_EQ(0u, text.find("VELMO-CRASHLOG V1 desktop 1 2 windows x64 release\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\nmetadata:\r\nk=\"v\"\r\n"));
  size_t bare = 0;
  for (size_t i = 0; i < text.size(); ++i)
    bare += text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
  EXPECT_EQ(0u, bare);

  state.reader_available = false;
  EXPECT_FALSE(WriteCrashLogFile(path, state, CrashInfo{}, &ranges_));
  EXPECT_FALSE(base::PathExists(path));
}

}  // namespace
}  // namespace crash_reporter
