// The fixed-layout records that cross the crash pipe or are read straight out
// of a crashed process's memory. Their layouts are part of the protocol
// between installer processes and the reporter (which may be a different
// build), so every size and offset is pinned by static_asserts.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

namespace crash_reporter {

// The pipe name is this prefix followed by the reporter's pid in decimal.
inline constexpr wchar_t kCrashPipeNamePrefix[] = L"\\\\.\\pipe\\VelmoCrashReporter";

enum CrashPipeMessageTag : uint32_t {
  kRegistrationRequest = 1,
  kRegistrationReply = 2,
  kRegistrationAck = 3,
  kUploadRequest = 4,
};

// One message of the pipe, the same 80 bytes in every direction. Fields a
// message does not use are zero. Addresses and handles are 64-bit values so
// that the layout does not depend on the bitness of either end.
struct CrashPipeMessage {
  uint32_t tag;
  // Request: the client's pid; reply: the server's pid; upload request: the
  // process whose report is to be uploaded; ack: 0.
  uint32_t id;
  uint32_t dump_type;  // Request only.
  uint8_t reserved[4];
  uint64_t thread_id_address;
  uint64_t exception_pointers_address;
  uint64_t assertion_info_address;
  uint64_t custom_info_entries_address;
  uint64_t custom_info_count;
  // Reply only: handles already valid in the client.
  uint64_t dump_request_event;    // EVENT_MODIFY_STATE
  uint64_t dump_generated_event;  // SYNCHRONIZE | EVENT_MODIFY_STATE
  uint64_t server_alive_mutex;    // SYNCHRONIZE
};
static_assert(sizeof(CrashPipeMessage) == 80);
static_assert(offsetof(CrashPipeMessage, thread_id_address) == 16);
static_assert(offsetof(CrashPipeMessage, custom_info_count) == 48);
static_assert(offsetof(CrashPipeMessage, dump_request_event) == 56);
static_assert(offsetof(CrashPipeMessage, server_alive_mutex) == 72);

// Characters of a name or value including the terminating zero.
inline constexpr size_t kCustomInfoTextUnits = 64;

// One name/value pair of the custom info, zero-terminated UTF-16 each.
struct CustomInfoEntry {
  wchar_t name[kCustomInfoTextUnits];
  wchar_t value[kCustomInfoTextUnits];
};
static_assert(sizeof(CustomInfoEntry) == 256);
static_assert(offsetof(CustomInfoEntry, value) == 128);

// The reporter reads no more than this many entries from a client.
inline constexpr uint64_t kMaxCustomInfoEntries = 4096;

// An array of custom-info entries in some process's memory.
struct CustomInfo {
  const CustomInfoEntry* entries = nullptr;
  size_t count = 0;
};

enum AssertionType : uint32_t {
  kNoAssertion = 0,
  kInvalidParameterAssertion = 1,
  kPureCallAssertion = 2,
};

inline constexpr size_t kAssertionTextUnits = 128;

// What the C runtime said about an invalid-parameter or pure-virtual call.
// All zero for an ordinary exception.
struct AssertionInfo {
  wchar_t expression[kAssertionTextUnits];
  wchar_t function[kAssertionTextUnits];
  wchar_t file[kAssertionTextUnits];
  uint32_t line;
  uint32_t type;  // AssertionType
};
static_assert(sizeof(AssertionInfo) == 776);
static_assert(offsetof(AssertionInfo, line) == 768);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
