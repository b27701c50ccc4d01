#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"

// dbghelp.h needs the types of windows.h first.
#include <windows.h>
#include <dbghelp.h>

#include <atomic>
#include <string>

#include "base/logging.h"
#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

std::atomic<MinidumpWriteFunction> g_test_writer{nullptr};

constexpr MINIDUMP_TYPE kDumpTypes[] = {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal};
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057);

bool ReadExactly(HANDLE process, uint64_t address, void* out, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &read) &&
         read == size;
}

base::win::ScopedHandle OpenCrashedProcess(DWORD pid) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process.IsValid())
    PLOG(ERROR) << "Cannot open crashed process " << pid << " for its minidump";
  return process;
}

}  // namespace

bool WriteSizeLimitedMinidump(HANDLE process, DWORD pid, const ExceptionInfoBlock& block,
                              HANDLE file, uint64_t size_limit) {
  base::win::LibraryHolder dbghelp;
  MinidumpWriteFunction write_dump = g_test_writer.load();
  if (!write_dump) {
    if (!dbghelp.Load(L"dbghelp.dll"))
      return false;
    write_dump = dbghelp.GetFunction<MinidumpWriteFunction>("MiniDumpWriteDump");
    if (!write_dump)
      return false;
  }

  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = block.thread_id;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(block.exception_pointers));
  exception.ClientPointers = TRUE;  // addresses in the crashed process

  std::string version =
      installer::GetVersionString() + " " + std::to_string(installer::GetBuildNumber());
  MINIDUMP_USER_STREAM streams[2] = {};
  streams[0].Type = kVersionStreamType;
  streams[0].BufferSize = static_cast<ULONG>(version.size());
  streams[0].Buffer = version.data();
  ULONG stream_count = 1;
  if (block.assertion.type == kInvalidParameterAssertion) {
    streams[1].Type = kAssertionStreamType;
    streams[1].BufferSize = sizeof(block.assertion);
    streams[1].Buffer = const_cast<AssertionInfo*>(&block.assertion);
    ++stream_count;
  }
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};

  for (MINIDUMP_TYPE type : kDumpTypes) {
    bool written = write_dump(process, pid, file, type, &exception, &user_streams, nullptr);
    HRESULT error = written ? S_OK : static_cast<HRESULT>(::GetLastError());
    if (written) {
      LARGE_INTEGER size = {};
      if (!::GetFileSizeEx(file, &size)) {
        PLOG(ERROR) << "Cannot size the minidump of process " << pid;
        return false;
      }
      if (static_cast<uint64_t>(size.QuadPart) <= size_limit)
        return true;
      LOG(WARNING) << "Minidump of type 0x" << std::hex << type << std::dec << " has "
                   << size.QuadPart << " bytes, more than " << size_limit;
    } else if (error != kInvalidArgument) {
      ELOG(ERROR, error) << "MiniDumpWriteDump failed for process " << pid;
      return false;
    }
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
      PLOG(ERROR) << "Cannot empty the minidump file for another attempt";
      return false;
    }
  }
  LOG(ERROR) << "No minidump of process " << pid << " fits " << size_limit << " bytes";
  return false;
}

MinidumpWriteFunction SetMinidumpWriterForTesting(MinidumpWriteFunction writer) {
  return g_test_writer.exchange(writer);
}

bool WriteMinidumpFile(HANDLE process, DWORD pid, const ExceptionInfoBlock& block,
                       const base::FilePath& path, uint64_t size_limit) {
  bool ok = false;
  {
    base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
    if (!file.IsValid()) {
      PLOG(ERROR) << "Cannot create the minidump " << path.value();
      return false;
    }
    ok = WriteSizeLimitedMinidump(process, pid, block, file.Get(), size_limit);
  }
  if (!ok)
    ::DeleteFileW(path.c_str());
  return ok;
}

bool WriteClientMinidump(DWORD pid, uint64_t thread_id_address, uint64_t exception_pointers_address,
                         uint64_t assertion_address, const base::FilePath& path,
                         uint64_t size_limit) {
  base::win::ScopedHandle process = OpenCrashedProcess(pid);
  if (!process.IsValid())
    return false;
  ExceptionInfoBlock block = {};
  if (!ReadExactly(process.Get(), exception_pointers_address, &block.exception_pointers,
                   sizeof(block.exception_pointers)) ||
      !ReadExactly(process.Get(), thread_id_address, &block.thread_id, sizeof(block.thread_id)) ||
      (assertion_address &&
       !ReadExactly(process.Get(), assertion_address, &block.assertion, sizeof(block.assertion)))) {
    PLOG(ERROR) << "Cannot read the crash details of process " << pid;
    return false;
  }
  return WriteMinidumpFile(process.Get(), pid, block, path, size_limit);
}

bool WriteMinidumpFromBlock(DWORD pid, uint64_t block_address, const base::FilePath& path,
                            uint64_t size_limit) {
  base::win::ScopedHandle process = OpenCrashedProcess(pid);
  if (!process.IsValid())
    return false;
  ExceptionInfoBlock block = {};
  if (!ReadExactly(process.Get(), block_address, &block, sizeof(block))) {
    PLOG(ERROR) << "Cannot read the exception-info block of process " << pid;
    return false;
  }
  return WriteMinidumpFile(process.Get(), pid, block, path, size_limit);
}

}  // namespace crash_reporter
