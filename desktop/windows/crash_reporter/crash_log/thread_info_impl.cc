#include "desktop/windows/crash_reporter/crash_log/thread_info_impl.h"

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

ThreadInfoImpl::ThreadInfoImpl(uint32_t thread_id, bool crashed)
    : thread_id_(thread_id), crashed_(crashed) {}

ThreadInfoImpl::~ThreadInfoImpl() = default;

// static
RegisterBlock ThreadInfoImpl::RegistersFromContext(const CONTEXT& context) {
  RegisterBlock r = {};
  r.rax = context.Rax;
  r.rbx = context.Rbx;
  r.rcx = context.Rcx;
  r.rdx = context.Rdx;
  r.rsi = context.Rsi;
  r.rdi = context.Rdi;
  r.rbp = context.Rbp;
  r.rsp = context.Rsp;
  r.r8 = context.R8;
  r.r9 = context.R9;
  r.r10 = context.R10;
  r.r11 = context.R11;
  r.r12 = context.R12;
  r.r13 = context.R13;
  r.r14 = context.R14;
  r.r15 = context.R15;
  r.rip = context.Rip;
  r.eflags = context.EFlags;
  for (int i = 0; i < 8; ++i) {
    // The 80-bit register sits in the low bytes of its 16-byte slot.
    r.st[i].mantissa = context.FltSave.FloatRegisters[i].Low;
    r.st[i].sign_exponent = static_cast<uint16_t>(context.FltSave.FloatRegisters[i].High & 0xFFFF);
  }
  r.fpu_status_word = context.FltSave.StatusWord;
  r.fpu_control_word = context.FltSave.ControlWord;
  for (int i = 0; i < 16; ++i) {
    r.xmm[i].low = context.FltSave.XmmRegisters[i].Low;
    r.xmm[i].high = static_cast<uint64_t>(context.FltSave.XmmRegisters[i].High);
  }
  return r;
}

// static
uint64_t ThreadInfoImpl::GetStackSizeAt(HANDLE process, uint64_t sp) {
  MEMORY_BASIC_INFORMATION info = {};
  SIZE_T result = ::VirtualQueryEx(process, reinterpret_cast<const void*>(sp), &info, sizeof(info));
  if (result != sizeof(info)) {
    LOG(ERROR) << "VirtualQueryEx failed, address=0x" << std::hex << sp << std::dec
               << ", result=" << result << ", expected=" << sizeof(info);
    return 0;
  }
  uint64_t base = reinterpret_cast<uintptr_t>(info.BaseAddress);
  uint64_t end = base + info.RegionSize;
  if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE || info.Protect != PAGE_READWRITE ||
      sp < base || sp > end) {
    LOG(ERROR) << "Sanity checks failed" << std::hex << ", state=0x" << info.State << ", type=0x"
               << info.Type << ", protect=0x" << info.Protect << ", sp=0x" << sp << ", base=0x"
               << base << std::dec << ", size=" << info.RegionSize;
    return 0;
  }
  return end - sp;
}

void ThreadInfoImpl::ReadPriority(HANDLE thread) {
  int priority = ::GetThreadPriority(thread);
  if (priority == THREAD_PRIORITY_ERROR_RETURN) {
    LOG(ERROR) << "GetThreadPriority failed for 0x" << std::hex << thread_id_;
    priority_ = 0;
    return;
  }
  priority_ = priority;
}

bool ThreadInfoImpl::InitFromContext(HANDLE process, const CONTEXT& context) {
  registers_ = RegistersFromContext(context);
  base::win::ScopedHandle thread(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, thread_id_));
  if (thread.IsValid())
    ReadPriority(thread.Get());
  stack_size_ = GetStackSizeAt(process, registers_.rsp);
  return true;
}

bool ThreadInfoImpl::Init(HANDLE process) {
  base::win::ScopedHandle thread(
      ::OpenThread(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, thread_id_));
  if (!thread.IsValid()) {
    LOG(ERROR) << "OpenThread failed for 0x" << std::hex << thread_id_;
    return false;
  }
  // CONTEXT must be 16-byte aligned for GetThreadContext.
  alignas(16) CONTEXT context = {};
  context.ContextFlags = kThreadContextFlags;
  if (!::GetThreadContext(thread.Get(), &context)) {
    LOG(ERROR) << "GetThreadContext failed for 0x" << std::hex << thread_id_;
    return false;
  }
  registers_ = RegistersFromContext(context);
  ReadPriority(thread.Get());
  stack_size_ = GetStackSizeAt(process, registers_.rsp);
  return true;
}

}  // namespace crash_reporter
