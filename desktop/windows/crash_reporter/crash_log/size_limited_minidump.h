// Minidumps of a crashed process that must fit a size limit: with indirectly
// referenced memory when that fits, else as a normal minidump, else none.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SIZE_LIMITED_MINIDUMP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SIZE_LIMITED_MINIDUMP_H_

#include <windows.h>
// dbghelp.h needs the types of windows.h first.
#include <dbghelp.h>

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

// The crash details a crashed process keeps in its own memory for the
// writer: the crashing thread and its EXCEPTION_POINTERS* (an address in
// that process), and what the runtime said about an invalid call.
struct ExceptionInfoBlock {
  uint32_t thread_id;
  uint32_t reserved;
  uint64_t exception_pointers;
  AssertionInfo assertion;
};
static_assert(sizeof(ExceptionInfoBlock) == 792);
static_assert(offsetof(ExceptionInfoBlock, assertion) + offsetof(AssertionInfo, type) == 788);

// User streams of these dumps: "<version> <build>", and the assertion of an
// invalid-parameter call.
inline constexpr uint32_t kVersionStreamType = 0x10000;
inline constexpr uint32_t kAssertionStreamType = 0x10001;
// Size limits: an installer's minidump, and one embedded in a self-report.
inline constexpr uint64_t kInstallerMinidumpLimit = 3072000;
inline constexpr uint64_t kSelfReportMinidumpLimit = 512000;

// Reads the crash area of a registered client (the assertion only when
// |assertion_address| is not 0) and writes the dump to |path|.
bool WriteClientMinidump(DWORD pid, uint64_t thread_id_address, uint64_t exception_pointers_address,
                         uint64_t assertion_address, const base::FilePath& path,
                         uint64_t size_limit);
// Reads the whole block at |block_address| and writes the dump to |path|.
bool WriteMinidumpFromBlock(DWORD pid, uint64_t block_address, const base::FilePath& path,
                            uint64_t size_limit);
// Creates |path|, writes the dump and deletes the file on failure.
bool WriteMinidumpFile(HANDLE process, DWORD pid, const ExceptionInfoBlock& block,
                       const base::FilePath& path, uint64_t size_limit);
// Writes into |file|: false when no attempt fits |size_limit|.
bool WriteSizeLimitedMinidump(HANDLE process, DWORD pid, const ExceptionInfoBlock& block,
                              HANDLE file, uint64_t size_limit);

// The system's dump writer is used unless a test puts its own in place
// (null goes back to the system's); returns the previous one.
using MinidumpWriteFunction = decltype(&::MiniDumpWriteDump);
MinidumpWriteFunction SetMinidumpWriterForTesting(MinidumpWriteFunction writer);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SIZE_LIMITED_MINIDUMP_H_
