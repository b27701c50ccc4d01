#include "base/win/exception_filter_call.h"

namespace base::win {
namespace {

// What the call's frame keeps for its handler.
struct FilterFrame {
  ExceptionFilter filter;
  void* filter_context;
  // Set while the filter runs, so that an exception raised by the filter
  // itself is not fed back to it.
  bool in_filter;
};

}  // namespace
}  // namespace base::win

extern "C" {

// The frame: int velmo_filtered_call(function, context, frame), 1 when the
// function returned, 0 when the handler unwound the stack to the landing.
// It keeps |frame| 32 bytes above its establisher frame (the stack pointer
// after its prologue), above the home space of the function it calls. The
// unwind data names the handler for the dispatch phase (@except) and gives
// it the landing's address as its handler data.
int velmo_filtered_call(void (*function)(void*), void* context, base::win::FilterFrame* frame);

__attribute__((used)) EXCEPTION_DISPOSITION velmo_filtered_call_handler(
    EXCEPTION_RECORD* record, void* establisher_frame, CONTEXT* context,
    DISPATCHER_CONTEXT* dispatcher_context);

}  // extern "C"

asm(R"(
    .text
    .p2align 4
    .globl velmo_filtered_call
    .def velmo_filtered_call; .scl 2; .type 32; .endef
    .seh_proc velmo_filtered_call
velmo_filtered_call:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler velmo_filtered_call_handler, @except
    .seh_handlerdata
    .quad .Lvelmo_filtered_call_landing
    .text
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    movl $1, %eax
    jmp .Lvelmo_filtered_call_return
.Lvelmo_filtered_call_landing:
    xorl %eax, %eax
.Lvelmo_filtered_call_return:
    addq $40, %rsp
    ret
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION velmo_filtered_call_handler(
    EXCEPTION_RECORD* record, void* establisher_frame, CONTEXT* context,
    DISPATCHER_CONTEXT* dispatcher_context) {
  // Unwinding passes through this frame only on the way to a handler further
  // out, or to this frame's own landing: nothing to do either way.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  auto* frame =
      *reinterpret_cast<base::win::FilterFrame**>(static_cast<char*>(establisher_frame) + 32);
  if (frame->in_filter)
    return ExceptionContinueSearch;
  EXCEPTION_POINTERS pointers = {record, context};
  frame->in_filter = true;
  const LONG decision = frame->filter(frame->filter_context, &pointers);
  frame->in_filter = false;
  if (decision == EXCEPTION_CONTINUE_EXECUTION)
    return ExceptionContinueExecution;
  if (decision != EXCEPTION_EXECUTE_HANDLER)
    return ExceptionContinueSearch;
  // Unwinds the frames inside the call and resumes at the landing, where
  // the call returns 0. Does not return.
  void* landing = *static_cast<void**>(dispatcher_context->HandlerData);
  ::RtlUnwindEx(establisher_frame, landing, record, nullptr, context,
                dispatcher_context->HistoryTable);
  return ExceptionContinueSearch;
}

namespace base::win {

bool RunWithExceptionFilter(void (*function)(void* context), void* context, ExceptionFilter filter,
                            void* filter_context) {
  FilterFrame frame = {filter, filter_context, false};
  return velmo_filtered_call(function, context, &frame) != 0;
}

}  // namespace base::win
