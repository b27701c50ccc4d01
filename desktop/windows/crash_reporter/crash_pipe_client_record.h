// What the reporter keeps about one registered client: where the crash
// details lie in the client's memory, the kernel objects shared with it, and
// the copy of its custom info.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_RECORD_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_RECORD_H_

#include <windows.h>

#include <stdint.h>

#include <memory>

#include "base/threading/scoped_wait_handle.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashPipeServer;

class CrashPipeClientRecord {
 public:
  // The fields of a registration request.
  CrashPipeClientRecord(CrashPipeServer* server, const CrashPipeMessage& request);
  // Unregisters both waits, waiting for their callbacks, before anything
  // they use goes away.
  ~CrashPipeClientRecord();

  CrashPipeClientRecord(const CrashPipeClientRecord&) = delete;
  CrashPipeClientRecord& operator=(const CrashPipeClientRecord&) = delete;

  // Opens the client process and takes the two events: |spare_dump_request|
  // and |spare_dump_generated| when the server made them ahead (both are
  // then left empty), new ones otherwise. False (logged) when any of them
  // fails.
  bool Initialize(base::win::ScopedHandle* spare_dump_request,
                  base::win::ScopedHandle* spare_dump_generated);
  // Reads the client's start time, which "ptime" counts from. Kept apart
  // from Initialize() so that the server can do it once the client is
  // answered: the client need not wait for a value only a crash uses.
  void ReadCreationTime();

  // The copied entries and their count including the appended "ptime"
  // entry; no entries (count 0) before a successful read.
  CustomInfo GetCustomInfo() const;
  // Copies the client's custom info out of its memory and sets "ptime" to
  // the milliseconds since the client started. False when the count is too
  // large or the memory cannot be read.
  bool ReadCustomInfo();

  CrashPipeServer* server() const { return server_; }
  DWORD pid() const { return pid_; }
  uint32_t dump_type() const { return dump_type_; }
  uint64_t thread_id_address() const { return thread_id_address_; }
  uint64_t exception_pointers_address() const { return exception_pointers_address_; }
  uint64_t assertion_info_address() const { return assertion_info_address_; }
  HANDLE process() const { return process_.Get(); }
  HANDLE dump_request_event() const { return dump_request_event_.Get(); }
  HANDLE dump_generated_event() const { return dump_generated_event_.Get(); }
  FILETIME creation_time() const { return creation_time_; }

 private:
  friend class CrashPipeServer;

  CrashPipeServer* const server_;
  const DWORD pid_;
  const uint32_t dump_type_;
  const uint64_t thread_id_address_;
  const uint64_t exception_pointers_address_;
  const uint64_t assertion_info_address_;
  const uint64_t custom_info_address_;
  const uint64_t custom_info_count_;

  std::unique_ptr<CustomInfoEntry[]> custom_info_copy_;
  size_t custom_info_copy_count_ = 0;
  bool custom_info_read_ = false;

  FILETIME creation_time_ = {};
  base::win::ScopedHandle process_;
  base::win::ScopedHandle dump_request_event_;
  base::win::ScopedHandle dump_generated_event_;
  // Declared last: stopped (by the destructor) before the handles above
  // close, so that no callback runs while they do.
  base::ScopedWaitHandle dump_request_wait_;
  base::ScopedWaitHandle process_wait_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_RECORD_H_
