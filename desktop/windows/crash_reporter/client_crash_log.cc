#include "desktop/windows/crash_reporter/client_crash_log.h"

#include <string>
#include <vector>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/crash_info.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_log/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"
#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"
#include "desktop/windows/crash_reporter/crash_log/process_state_impl.h"
#include "desktop/windows/crash_reporter/crash_pipe_client_record.h"
#include "desktop/windows/crash_reporter/handle_trace_description.h"
#include "desktop/windows/crash_reporter/module_list_text.h"
#include "desktop/windows/crash_reporter/scoped_debug_attach.h"

namespace crash_reporter {
namespace {

// Where a crash log can be opened: its name is handed to the C runtime as
// 8-bit text.
bool IsAsciiPath(const base::FilePath& path) {
  for (wchar_t c : path.value()) {
    if (c > 0x7F)
      return false;
  }
  return true;
}

bool WriteSnapshotLog(const ProcessStateImpl& state, const CrashInfo& info,
                      const base::FilePath& path) {
  if (!IsAsciiPath(path)) {
    LOG(ERROR) << "A crash log path must be ASCII";
    return false;
  }
  MemoryRangeList ranges;
  const bool written = WriteCrashLogFile(path, state, info, &ranges);
  ranges.Clear();
  return written;
}

}  // namespace

bool WriteClientCrashLog(const CrashPipeClientRecord& record, const base::FilePath& path) {
  ScopedDebugAttach attach(record.pid());
  const CustomInfo keys = record.GetCustomInfo();
  std::wstring modules_text;
  JoinCrashKeyValues(keys, L"modules", &modules_text);

  ProcessStateImpl state;
  if (!state.Snapshot(record.pid(), record.exception_pointers_address(), record.thread_id_address(),
                      SplitModuleList(modules_text))) {
    return false;
  }
  CrashInfo info;
  FillCrashInfoFromKeys(keys, &info);
  AddMemoryMetrics(state.working_set_size(), state.peak_working_set_size(), state.private_bytes(),
                   &info);
  DescribeHandleTrace(record.process(), keys);
  return WriteSnapshotLog(state, info, path);
}

bool WriteAttachedSelfCrashLog(DWORD pid, uint64_t block_address, const base::FilePath& path) {
  ScopedDebugAttach attach(pid);
  ProcessStateImpl state;
  // The block starts with the crashing thread's id; its EXCEPTION_POINTERS
  // address follows 8 bytes further.
  if (!state.Snapshot(pid, block_address + 8, block_address, std::vector<FallbackModule>()))
    return false;
  CrashInfo info;
  AddMemoryMetrics(state.working_set_size(), state.peak_working_set_size(), state.private_bytes(),
                   &info);
  MarkCrashInfoAsReporter(&info);
  return WriteSnapshotLog(state, info, path);
}

}  // namespace crash_reporter
