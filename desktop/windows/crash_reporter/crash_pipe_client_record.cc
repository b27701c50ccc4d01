#include "desktop/windows/crash_reporter/crash_pipe_client_record.h"

#include <wchar.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"

namespace crash_reporter {

namespace {

uint64_t FileTimeToUint64(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

CrashPipeClientRecord::CrashPipeClientRecord(CrashPipeServer* server,
                                             const CrashPipeMessage& request)
    : server_(server),
      pid_(request.id),
      dump_type_(request.dump_type),
      thread_id_address_(request.thread_id_address),
      exception_pointers_address_(request.exception_pointers_address),
      assertion_info_address_(request.assertion_info_address),
      custom_info_address_(request.custom_info_entries_address),
      custom_info_count_(request.custom_info_count) {}

CrashPipeClientRecord::~CrashPipeClientRecord() {
  // The exit callback stops the dump-request wait itself: it must have
  // finished before that wait is touched here.
  process_wait_.Reset();
  dump_request_wait_.Reset();
}

bool CrashPipeClientRecord::Initialize(base::win::ScopedHandle* spare_dump_request,
                                       base::win::ScopedHandle* spare_dump_generated) {
  process_.Reset(::OpenProcess(GENERIC_ALL, FALSE, pid_));
  if (!process_.IsValid()) {
    PLOG(WARNING) << "Cannot open crash client process " << pid_;
    return false;
  }
  // Stands in for the start until ReadCreationTime() learns it.
  ::GetSystemTimeAsFileTime(&creation_time_);
  if (spare_dump_request->IsValid() && spare_dump_generated->IsValid()) {
    dump_request_event_ = std::move(*spare_dump_request);
    dump_generated_event_ = std::move(*spare_dump_generated);
    return true;
  }
  dump_request_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  dump_generated_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!dump_request_event_.IsValid() || !dump_generated_event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the events of crash client " << pid_;
    return false;
  }
  return true;
}

void CrashPipeClientRecord::ReadCreationTime() {
  FILETIME creation_time, exit_time, kernel_time, user_time;
  // On failure the registration time stays: "ptime" then undercounts, which
  // is better than no value.
  if (::GetProcessTimes(process_.Get(), &creation_time, &exit_time, &kernel_time, &user_time))
    creation_time_ = creation_time;
}

CustomInfo CrashPipeClientRecord::GetCustomInfo() const {
  if (!custom_info_read_)
    return CustomInfo();
  return CustomInfo{custom_info_copy_.get(), custom_info_copy_count_};
}

bool CrashPipeClientRecord::ReadCustomInfo() {
  if (custom_info_count_ > kMaxCustomInfoEntries) {
    LOG(WARNING) << "Crash client " << pid_ << " claims " << custom_info_count_
                 << " custom-info entries; none are read";
    return false;
  }
  size_t count = static_cast<size_t>(custom_info_count_);
  if (!custom_info_copy_) {
    custom_info_copy_ = std::make_unique<CustomInfoEntry[]>(count + 1);
    custom_info_copy_count_ = count + 1;
    wcscpy(custom_info_copy_[count].name, L"ptime");
  }
  for (size_t i = 0; i < custom_info_copy_count_; ++i)
    custom_info_copy_[i].value[0] = L'\0';
  custom_info_read_ = false;
  SIZE_T read = 0;
  if (count > 0 &&
      (!::ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(custom_info_address_),
                            custom_info_copy_.get(), count * sizeof(CustomInfoEntry), &read) ||
       read != count * sizeof(CustomInfoEntry))) {
    PLOG(WARNING) << "Cannot read the custom info of crash client " << pid_;
    return false;
  }
  // The copy keeps all 64 units of every field as the client wrote them:
  // a value that fills its field has no terminator and is read as 64 units,
  // and a name that fills its field is refused by the readers. Every reader
  // stops after 64 units (CrashKeyText), so nothing is read past a field.
  // "ptime" is the reporter's own key, and readers take the first entry of
  // a name: one the client sent itself is no key at all.
  for (size_t i = 0; i < count; ++i) {
    if (CrashKeyText(custom_info_copy_[i].name) == L"ptime")
      custom_info_copy_[i].name[0] = L'\0';
  }
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  uint64_t start = FileTimeToUint64(creation_time_);
  uint64_t end = FileTimeToUint64(now);
  uint64_t elapsed_ms = end > start ? (end - start) / 10000 : 0;
  swprintf(custom_info_copy_[count].value, kCustomInfoTextUnits, L"%llu",
           static_cast<unsigned long long>(elapsed_ms));
  custom_info_read_ = true;
  return true;
}

}  // namespace crash_reporter
