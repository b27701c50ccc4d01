// The crash pipe server's own minidump writer: names each dump by a fresh
// GUID in the dump folder and adds the writer's streams (who asked, the
// assertion, and for an invalid-handle crash the handle's recorded history).
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

inline constexpr uint32_t kDumpRequestStreamType = 0x47670001;
inline constexpr uint32_t kServerAssertionStreamType = 0x47670002;
inline constexpr uint32_t kHandleOperationListStreamType = 18;
inline constexpr size_t kHandleOperationSize = 288;

// The 0x47670001 stream.
struct DumpRequestInfo {
  uint32_t validity;  // 3 with both ids, 0 when the pointers are the client's
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};
static_assert(sizeof(DumpRequestInfo) == 12);

class ServerMinidumpWriter {
 public:
  // |exception_pointers| and |assertion_address| are addresses in |process|
  // when |client_pointers| is set, else in this process; 0 when absent.
  ServerMinidumpWriter(std::wstring dump_folder, HANDLE process, DWORD pid, DWORD thread_id,
                       DWORD requesting_thread_id, uint64_t exception_pointers,
                       uint64_t assertion_address, uint32_t dump_type, bool client_pointers);
  ServerMinidumpWriter(const ServerMinidumpWriter&) = delete;
  ServerMinidumpWriter& operator=(const ServerMinidumpWriter&) = delete;
  ~ServerMinidumpWriter();

  // Creates "<dump folder>\<guid>.dmp"; false (logged) when a dump file is
  // already open or it cannot be created.
  bool CreateDumpFile(std::wstring* path);
  // Writes the dump into the file CreateDumpFile() made; on failure the
  // file is closed and deleted.
  bool WriteMinidump();

 private:
  bool WriteIntoDumpFile();
  // Closes and deletes the file CreateDumpFile() made, if any.
  void DiscardDumpFile();
  bool LoadDbghelp();
  // Reads |size| bytes at |address| of the client or of this process.
  bool ReadBytes(uint64_t address, void* out, size_t size) const;
  // The records of the handle whose bad reference the verifier recorded;
  // false when no trace is available.
  bool ReadHandleTrace(std::string* stream);

  const std::wstring dump_folder_;
  const HANDLE process_;
  const DWORD pid_;
  const DWORD thread_id_;
  const DWORD requesting_thread_id_;
  const uint64_t exception_pointers_;
  const uint64_t assertion_address_;
  const uint32_t dump_type_;
  const bool client_pointers_;

  base::win::LibraryHolder dbghelp_;
  void* write_dump_ = nullptr;
  base::win::LibraryHolder rpcrt4_;
  base::win::ScopedHandle dump_file_;
  std::wstring dump_path_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_
