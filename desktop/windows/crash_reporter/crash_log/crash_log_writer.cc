#include "desktop/windows/crash_reporter/crash_log/crash_log_writer.h"

#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"
#include "desktop/windows/crash_reporter/crash_log/memory_reader.h"
#include "desktop/windows/crash_reporter/crash_log/process_state.h"
#include "desktop/windows/crash_reporter/crash_log/scoped_stdio_file.h"

namespace crash_reporter {
namespace {

constexpr uint64_t kPageSize = 4096;
constexpr uint64_t kUnlimited = UINT64_MAX;
constexpr size_t kBytesPerLine = 16;
// Stack bytes kept after the last one that matters, so that a reader sees
// the caller's frame too.
constexpr size_t kStackSlack = 128;
// Bytes dumped around a pointer into code, and around any other pointer.
constexpr uint64_t kCodeHalfRange = 16;
constexpr uint64_t kDataHalfRange = 1024;

// The registers whose values may point at memory worth dumping, in the
// order they are checked.
std::vector<uint64_t> ContextValues(const RegisterBlock& r) {
  return {r.rax, r.rbx, r.rcx, r.rdx, r.rsi, r.rdi, r.r8,  r.r9, r.r10,
          r.r11, r.r12, r.r13, r.r14, r.r15, r.rbp, r.rsp, r.rip};
}

uint64_t Read64(const std::vector<uint8_t>& bytes, size_t offset) {
  uint64_t value;
  memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

// A thread's stack as it is dumped.
struct DumpedStack {
  uint64_t start = 0;
  std::vector<uint8_t> bytes;

  bool Contains(uint64_t address) const {
    return address >= start && address - start < bytes.size();
  }
};

// How much of a stack of unknown size to keep: as far as the frame chain
// reaches and as far as pointers into the read bytes lead.
size_t ScanStackLength(const DumpedStack& stack, uint64_t rbp) {
  const size_t read = stack.bytes.size();
  size_t frame_end = 0;
  uint64_t frame = rbp;
  while (frame % 8 == 0 && stack.Contains(frame) && frame - stack.start + 8 <= read) {
    size_t offset = static_cast<size_t>(frame - stack.start);
    frame_end = offset;
    uint64_t saved = Read64(stack.bytes, offset);
    if (saved <= frame)
      break;
    frame = saved;
  }
  size_t limit = frame_end > kMinCrashedStackRead ? frame_end : kMinCrashedStackRead;
  for (size_t offset = 0; offset + 8 <= read && offset <= limit; offset += 8) {
    uint64_t value = Read64(stack.bytes, offset);
    if (value % 8 == 0 && stack.Contains(value)) {
      size_t target = static_cast<size_t>(value - stack.start);
      if (target > limit)
        limit = target;
    }
  }
  return limit + kStackSlack < read ? limit + kStackSlack : read;
}

void ReadStack(MemoryReader* reader, const ThreadInfo& thread, DumpedStack* stack) {
  const RegisterBlock& registers = thread.GetRegisters();
  stack->start = registers.rsp & ~uint64_t{3};
  uint64_t length = thread.GetStackSize();
  if (length == 0 || length > kMaxStackRead)
    length = kMaxStackRead;
  if (thread.IsCrashed() && length < kMinCrashedStackRead)
    length = kMinCrashedStackRead;
  if (stack->start < kPageSize)
    return;
  const uint8_t* data = nullptr;
  size_t read = 0;
  while (length > 0) {
    data = reader->ReadMemory(stack->start, static_cast<size_t>(length), &read);
    if (data)
      break;
    // Cut the range back to end at the page boundary before its end.
    uint64_t end = (stack->start + length - 1) & ~(kPageSize - 1);
    length = end > stack->start ? end - stack->start : 0;
  }
  if (!data)
    return;
  stack->bytes.assign(data, data + read);

  size_t keep = read;
  if (thread.GetStackSize() != 0) {
    size_t last = read;
    while (last > 0 && stack->bytes[last - 1] == 0)
      --last;
    keep = (last + 7) / 8 * 8 + kStackSlack;
    if (keep > read)
      keep = read;
  } else if (!thread.IsCrashed()) {
    keep = ScanStackLength(*stack, registers.rbp);
  }
  stack->bytes.resize(keep);
}

class CrashLogWriter {
 public:
  CrashLogWriter(MemoryRangeList* ranges, const ProcessState& state, const CrashInfo& info,
                 FILE* stream)
      : ranges_(ranges), state_(state), info_(info), stream_(stream) {}

  bool Write() {
    ranges_->Clear();
    bool ok =
        WriteHeader() && WriteMetadata() && WriteThreads() && WriteUsedDlls() && WriteMemoryDumps();
    ranges_->Clear();
    return ok;
  }

 private:
  // Writing stops at the first failure, so this logs once.
  bool Print(int result) {
    if (result < 0)
      LOG(ERROR) << "Writing the crash log failed";
    return result >= 0;
  }

  bool WriteHeader() {
    const ModuleInfo* main_module = state_.GetMainModule();
    char code[16];
    snprintf(code, sizeof(code), "%X", static_cast<unsigned>(state_.GetExceptionCodeValue()));
    const char* name = state_.GetExceptionName() ? state_.GetExceptionName() : code;
    return Print(CrashFilePrintf(stream_, "VELMO-CRASHLOG V1 desktop%s %s %s windows x64 release\n",
                                 info_.product_suffix.c_str(), info_.version.c_str(),
                                 info_.build.c_str())) &&
           Print(CrashFilePrintf(stream_, "%s caused exception %s at address %012llX ",
                                 main_module ? main_module->GetName() : "<no name>", name,
                                 static_cast<unsigned long long>(state_.GetExceptionAddress()))) &&
           Print(CrashFilePrintf(
               stream_, "(Base: %012llX)\n",
               static_cast<unsigned long long>(main_module ? main_module->GetLoadAddress() : 0)));
  }

  bool WriteMetadata() {
    if (info_.metadata.empty())
      return true;
    if (!Print(CrashFilePrintf(stream_, "\nmetadata:\n")))
      return false;
    for (const auto& [key, value] : info_.metadata) {
      if (!Print(CrashFilePrintf(stream_, "%s=\"%s\"\n", key.c_str(), value.c_str())))
        return false;
    }
    return true;
  }

  bool IsInModuleCode(uint64_t address) const {
    for (const auto& module : state_.GetModules()) {
      uint64_t start = module->GetLoadAddress();
      if (address >= start && address - start < module->GetCodeEnd())
        return true;
    }
    return false;
  }

  void AddPointerRange(uint64_t value) {
    if (value == 0 || !state_.IsReadable(value))
      return;
    uint64_t half = IsInModuleCode(value) ? kCodeHalfRange : kDataHalfRange;
    uint64_t start = value > half ? value - half : 0;
    uint64_t end = value > UINT64_MAX - half ? UINT64_MAX : value + half;
    ranges_->Add(start, end);
  }

  // Checks |value| as a pointer unless it points into the dumped stack;
  // the growth of the list comes off |budget|.
  void CheckPointer(uint64_t value, const DumpedStack& stack, uint64_t* budget) {
    if (stack.Contains(value))
      return;
    uint64_t before = ranges_->total_size();
    AddPointerRange(value);
    uint64_t growth = ranges_->total_size() - before;
    if (*budget != kUnlimited)
      *budget = growth >= *budget ? 0 : *budget - growth;
  }

  uint64_t BudgetFor(const ThreadInfo& thread, bool is_last) const {
    if (thread.IsCrashed())
      return kUnlimited;
    uint64_t total = ranges_->total_size();
    if (total >= kMaxDumpedMemory)
      return 0;
    uint64_t remainder = kMaxDumpedMemory - total;
    uint64_t budget = remainder < kMaxDumpedMemoryPerThread ? remainder : kMaxDumpedMemoryPerThread;
    if (remainder <= kMaxDumpedMemoryPerThread && !is_last)
      budget = remainder / 2;
    return budget;
  }

  bool WriteThreads() {
    const ThreadList& threads = state_.GetThreads();
    for (size_t index = 0; index < threads.size(); ++index) {
      const ThreadInfo& thread = *threads[index];
      if (index + 1 >= kFirstSkippedThread && !thread.IsCrashed())
        continue;
      if (!WriteThread(thread, index + 1 == threads.size()))
        return false;
    }
    return true;
  }

  bool WriteThread(const ThreadInfo& thread, bool is_last) {
    std::unique_ptr<MemoryReader> reader = state_.CreateMemoryReader();
    if (!reader) {
      LOG(ERROR) << "No memory reader for the crashed process";
      return false;
    }
    DumpedStack stack;
    ReadStack(reader.get(), thread, &stack);

    uint64_t budget = BudgetFor(thread, is_last);
    const RegisterBlock& r = thread.GetRegisters();
    const std::vector<uint64_t> context_values = ContextValues(r);
    size_t checked_context = 0;
    for (uint64_t value : context_values) {
      if (budget == 0)
        break;
      ++checked_context;
      CheckPointer(value, stack, &budget);
    }
    const size_t stack_values = stack.bytes.size() / 8;
    size_t checked_stack = 0;
    for (; checked_stack < stack_values && budget > 0;) {
      uint64_t value = Read64(stack.bytes, checked_stack * 8);
      ++checked_stack;
      CheckPointer(value, stack, &budget);
    }

    const uint32_t id = thread.GetThreadId();
    const unsigned long long id64 = id;
    if (!Print(CrashFilePrintf(stream_, "\nThread: %08X\n", id)) ||
        !Print(CrashFilePrintf(
            stream_,
            "\nThreadInfo: %08X\nPriority=%08X\nCrashed=%d\nchecked_context_values=%zu%s\n"
            "checked_stack_values=%zu%s\n",
            id, static_cast<uint32_t>(thread.GetPriority()), thread.IsCrashed() ? 1 : 0,
            checked_context, checked_context == context_values.size() ? " (all)" : "",
            checked_stack, checked_stack == stack_values ? " (all)" : ""))) {
      return false;
    }
    using ull = unsigned long long;
    using ul = unsigned long;
    const auto& st = r.st;
    const auto& x = r.xmm;
    // Seventy values: the thread id twice, 17 registers, the flags, two per
    // x87 register, the status and control words, two per XMM register.
    if (!Print(CrashFilePrintf(
            stream_,
            "\nRegisters: %08llX\nRAX=%016llX   RBX=%016llX   RCX=%016llX\n"
            "RDX=%016llX   RSI=%016llX   RDI=%016llX\n R8=%016llX    R9=%016llX   R10=%016llX\n"
            "R11=%016llX   R12=%016llX   R13=%016llX\nR14=%016llX   R15=%016llX   RBP=%016llX\n"
            "RSP=%016llX   RIP=%016llX FLAGS=%08lX\n\nFPU stack: %08llX\n"
            "st(0)=%04lX%016llX st(1)=%04lX%016llX st(2)=%04lX%016llX\n"
            "st(3)=%04lX%016llX st(4)=%04lX%016llX st(5)=%04lX%016llX\n"
            "st(6)=%04lX%016llX st(7)=%04lX%016llX SW=%04lX CW=%04lX\n"
            " XMM0=%016llX%016llX  XMM1=%016llX%016llX\n XMM2=%016llX%016llX  XMM3=%016llX%016llX\n"
            " XMM4=%016llX%016llX  XMM5=%016llX%016llX\n XMM6=%016llX%016llX  XMM7=%016llX%016llX\n"
            " XMM8=%016llX%016llX  XMM9=%016llX%016llX\nXMM10=%016llX%016llX XMM11=%016llX%016llX\n"
            "XMM12=%016llX%016llX XMM13=%016llX%016llX\nXMM14=%016llX%016llX "
            "XMM15=%016llX%016llX\n",
            id64, ull{r.rax}, ull{r.rbx}, ull{r.rcx}, ull{r.rdx}, ull{r.rsi}, ull{r.rdi}, ull{r.r8},
            ull{r.r9}, ull{r.r10}, ull{r.r11}, ull{r.r12}, ull{r.r13}, ull{r.r14}, ull{r.r15},
            ull{r.rbp}, ull{r.rsp}, ull{r.rip}, ul{r.eflags}, id64, ul{st[0].sign_exponent},
            ull{st[0].mantissa}, ul{st[1].sign_exponent}, ull{st[1].mantissa},
            ul{st[2].sign_exponent}, ull{st[2].mantissa}, ul{st[3].sign_exponent},
            ull{st[3].mantissa}, ul{st[4].sign_exponent}, ull{st[4].mantissa},
            ul{st[5].sign_exponent}, ull{st[5].mantissa}, ul{st[6].sign_exponent},
            ull{st[6].mantissa}, ul{st[7].sign_exponent}, ull{st[7].mantissa},
            ul{r.fpu_status_word & 0xFFFF}, ul{r.fpu_control_word & 0xFFFF}, ull{x[0].high},
            ull{x[0].low}, ull{x[1].high}, ull{x[1].low}, ull{x[2].high}, ull{x[2].low},
            ull{x[3].high}, ull{x[3].low}, ull{x[4].high}, ull{x[4].low}, ull{x[5].high},
            ull{x[5].low}, ull{x[6].high}, ull{x[6].low}, ull{x[7].high}, ull{x[7].low},
            ull{x[8].high}, ull{x[8].low}, ull{x[9].high}, ull{x[9].low}, ull{x[10].high},
            ull{x[10].low}, ull{x[11].high}, ull{x[11].low}, ull{x[12].high}, ull{x[12].low},
            ull{x[13].high}, ull{x[13].low}, ull{x[14].high}, ull{x[14].low}, ull{x[15].high},
            ull{x[15].low}))) {
      return false;
    }
    return WriteStackDump(id, r.rbp, stack);
  }

  bool WriteCharacterColumn(const uint8_t* bytes, size_t count) {
    char text[kBytesPerLine + 3];
    size_t n = 0;
    text[n++] = ' ';
    for (size_t i = 0; i < count; ++i)
      text[n++] = isprint(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
    text[n++] = '\n';
    text[n] = '\0';
    return Print(CrashFilePrintf(stream_, "%s", text));
  }

  bool WriteStackDump(uint32_t id, uint64_t rbp, const DumpedStack& stack) {
    if (!Print(CrashFilePrintf(stream_, "\nStack dump: %08X\n", id)))
      return false;
    uint64_t frame = rbp;
    const size_t size = stack.bytes.size();
    for (size_t line = 0; line < size; line += kBytesPerLine) {
      const uint64_t line_address = stack.start + line;
      if (!Print(
              CrashFilePrintf(stream_, "%012llX ", static_cast<unsigned long long>(line_address))))
        return false;
      for (size_t column = 0; column < 2; ++column) {
        size_t offset = line + column * 8;
        if (offset + 8 <= size) {
          uint64_t value = Read64(stack.bytes, offset);
          uint64_t address = stack.start + offset;
          char marker = address == frame ? '>' : ' ';
          if (address == frame)
            frame = value;
          if (!Print(CrashFilePrintf(stream_, "%c%016llX ", marker,
                                     static_cast<unsigned long long>(value)))) {
            return false;
          }
        } else if (!Print(CrashFilePrintf(stream_, "%18s", ""))) {
          return false;
        }
      }
      size_t count = size - line < kBytesPerLine ? size - line : kBytesPerLine;
      if (!WriteCharacterColumn(stack.bytes.data() + line, count))
        return false;
    }
    return true;
  }

  bool WriteUsedDlls() {
    if (!Print(CrashFilePrintf(stream_, "\nUsed DLLs:\n")))
      return false;
    for (const auto& module : state_.GetModules()) {
      const char* version = module->GetFileVersion() ? module->GetFileVersion() : "";
      if (!Print(CrashFilePrintf(stream_, "%-26s %-46s Base: %012llX Size: %08X Timestamp: %08X\n",
                                 module->GetName(), version,
                                 static_cast<unsigned long long>(module->GetLoadAddress()),
                                 module->GetSize(), module->GetTimeStamp()))) {
        return false;
      }
    }
    return true;
  }

  bool WriteDumpLines(uint64_t address, const uint8_t* bytes, size_t count) {
    for (size_t line = 0; line < count; line += kBytesPerLine) {
      char text[16 + 4 * kBytesPerLine + 8];
      int n =
          snprintf(text, sizeof(text), "%012llX", static_cast<unsigned long long>(address + line));
      for (size_t cell = 0; cell < kBytesPerLine; ++cell) {
        if (cell % 4 == 0)
          text[n++] = ' ';
        text[n++] = ' ';
        if (line + cell < count) {
          n += snprintf(text + n, sizeof(text) - n, "%02X", bytes[line + cell]);
        } else {
          text[n++] = ' ';
          text[n++] = ' ';
        }
      }
      text[n] = '\0';
      size_t in_line = count - line < kBytesPerLine ? count - line : kBytesPerLine;
      if (!Print(CrashFilePrintf(stream_, "%s", text)) ||
          !WriteCharacterColumn(bytes + line, in_line)) {
        return false;
      }
    }
    return true;
  }

  bool WriteRange(MemoryReader* reader, uint64_t start, uint64_t end) {
    uint64_t position = start;
    while (position < end) {
      size_t read = 0;
      const uint8_t* bytes =
          reader->ReadMemory(position, static_cast<size_t>(end - position), &read);
      if (!bytes) {
        // Some page of the range cannot be read: take what this page holds,
        // or go on after it.
        uint64_t page_end = (position & ~(kPageSize - 1)) + kPageSize;
        if (page_end > end)
          page_end = end;
        bytes = reader->ReadMemory(position, static_cast<size_t>(page_end - position), &read);
        if (!bytes) {
          position = page_end;
          continue;
        }
      }
      // A short read leaves stale bytes after |read|: only these are shown.
      if (!WriteDumpLines(position, bytes, read))
        return false;
      position += read;
    }
    return true;
  }

  bool WriteMemoryDumps() {
    if (!Print(CrashFilePrintf(stream_, "\nMemory dumps:\n")))
      return false;
    std::unique_ptr<MemoryReader> reader = state_.CreateMemoryReader();
    if (!reader) {
      LOG(ERROR) << "No memory reader for the crashed process";
      return false;
    }
    bool first = true;
    for (const auto& [range_start, range_end] : ranges_->ranges()) {
      uint64_t start = range_start;
      uint64_t end = range_end;
      if (!state_.IsReadable(start))
        start = (start & ~(kPageSize - 1)) + kPageSize;
      if (end > start && !state_.IsReadable(end - 1))
        end &= ~(kPageSize - 1);
      if (end <= start)
        continue;
      if (!first && !Print(CrashFilePrintf(stream_, "\n")))
        return false;
      first = false;
      if (!WriteRange(reader.get(), start, end))
        return false;
    }
    return true;
  }

  MemoryRangeList* ranges_;
  const ProcessState& state_;
  const CrashInfo& info_;
  FILE* stream_;
};

}  // namespace

int CrashFilePrintf(FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = vfprintf(stream, format, arguments);
  va_end(arguments);
  return result;
}

bool WriteCrashLog(MemoryRangeList* ranges, const ProcessState& state, const CrashInfo& info,
                   FILE* stream) {
  return CrashLogWriter(ranges, state, info, stream).Write();
}

bool WriteCrashLogFile(const base::FilePath& path, const ProcessState& state, const CrashInfo& info,
                       MemoryRangeList* ranges) {
  bool ok = false;
  {
    ScopedStdioFile file(_wfopen(path.c_str(), L"w"));
    if (!file.IsValid()) {
      LOG(ERROR) << "Could not create the crash log " << path.value();
      return false;
    }
    ok = WriteCrashLog(ranges, state, info, file.Get());
    if (ok && (fflush(file.Get()) != 0 || ferror(file.Get()))) {
      LOG(ERROR) << "Writing the crash log " << path.value() << " failed";
      ok = false;
    }
  }
  if (!ok)
    ::DeleteFileW(path.c_str());
  return ok;
}

}  // namespace crash_reporter
