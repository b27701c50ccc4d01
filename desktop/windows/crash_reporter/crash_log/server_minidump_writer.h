// The crash pipe server's own minidump writer: names each dump by a fresh
// GUID in the dump folder and adds the writer's streams (who asked, the
// assertion, and for an invalid-handle crash the handle's recorded history).
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_

#include <windows.h>
#include <dbghelp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

  // Creates "<dump folder>\<guid>.dmp" and, when the dump type asks for
  // full memory, "<guid>-full.dmp" beside it for that memory (its path goes
  // to |full_memory_path| when given); false (logged) when a dump file is
  // already open or one cannot be created.
  bool CreateDumpFile(std::wstring* path, std::wstring* full_memory_path = nullptr);
  // Adds a stream to the dump; |data| must stay valid until WriteMinidump()
  // returns.
  void AddUserStream(uint32_t type, const void* data, uint32_t size);
  // Handed to the system's dump writer for the dump file.
  void set_callback(const MINIDUMP_CALLBACK_INFORMATION& callback) { callback_ = callback; }
  // Writes the full memory first when asked, then the dump without it; on
  // failure the files CreateDumpFile() made are closed and deleted.
  bool WriteMinidump();

 private:
  bool WriteIntoDumpFiles();
  // Closes and deletes the files CreateDumpFile() made, if any.
  void DiscardDumpFiles();
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
  base::win::ScopedHandle full_memory_file_;
  std::wstring full_memory_path_;
  std::vector<MINIDUMP_USER_STREAM> additional_streams_;
  std::optional<MINIDUMP_CALLBACK_INFORMATION> callback_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SERVER_MINIDUMP_WRITER_H_
