// What the crash-log writer knows about a crashed process: the exception, the
// modules with the identifying data of their files, and every thread with its
// registers. The writer reads only through these interfaces, so that a log can
// be written from a snapshot of a real process or from a made-up one.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace crash_reporter {

class MemoryReader;

// One x87 register as the FPU stores it: the significand, then the sign and
// exponent word.
struct X87Register {
  uint64_t mantissa;
  uint16_t sign_exponent;
};

struct Uint128 {
  uint64_t low;
  uint64_t high;
};

// The registers of one thread, taken from its CONTEXT.
struct RegisterBlock {
  uint64_t rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip;
  uint32_t eflags;
  X87Register st[8];
  uint32_t fpu_status_word;
  uint32_t fpu_control_word;
  Uint128 xmm[16];
};

class ModuleInfo {
 public:
  virtual ~ModuleInfo() = default;
  virtual const char* GetName() const = 0;
  virtual uint64_t GetLoadAddress() const = 0;
  virtual uint32_t GetSize() const = 0;
  virtual uint64_t GetBaseAddress() const = 0;
  // The end of the code area, relative to the load address.
  virtual uint64_t GetCodeEnd() const = 0;
  virtual const char* GetFileVersion() const = 0;
  virtual uint32_t GetTimeStamp() const = 0;
};

class ThreadInfo {
 public:
  virtual ~ThreadInfo() = default;
  virtual uint32_t GetThreadId() const = 0;
  virtual int32_t GetPriority() const = 0;
  virtual const RegisterBlock& GetRegisters() const = 0;
  // Bytes from the stack pointer to the end of the stack's memory region; 0
  // when unknown.
  virtual uint64_t GetStackSize() const = 0;
  virtual bool IsCrashed() const = 0;
};

using ModuleList = std::vector<std::unique_ptr<ModuleInfo>>;
using ThreadList = std::vector<std::unique_ptr<ThreadInfo>>;

class ProcessState {
 public:
  virtual ~ProcessState() = default;
  virtual bool IsReadable(uint64_t address) const = 0;
  // (<excpt.h> takes the plainer name for a macro.)
  virtual uint32_t GetExceptionCodeValue() const = 0;
  // A name for the exception, or null when only the code is known.
  virtual const char* GetExceptionName() const = 0;
  virtual uint64_t GetExceptionAddress() const = 0;
  // The crashed thread first.
  virtual const ThreadList& GetThreads() const = 0;
  virtual const ModuleInfo* GetMainModule() const = 0;
  virtual const ModuleList& GetModules() const = 0;
  // Null when no reader can be made.
  virtual std::unique_ptr<MemoryReader> CreateMemoryReader() const = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_H_
