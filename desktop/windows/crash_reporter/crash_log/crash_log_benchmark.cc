// The crash log of a crashed child with 20 threads (snapshot, text, close)
// beside MiniDumpWriteDump of the same frozen child, measured in one run. The
// crash log is the reporter's first report of a crash and must cost at most
// half of the minidump.
//
//   crash_log_benchmark.exe
// Exits with 0 when the ratio is met, 1 when not, 2 when it cannot measure.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>

#include "base/command_line.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/time.h"
#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"
#include "desktop/windows/crash_reporter/crash_log/crashed_child_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"
#include "desktop/windows/crash_reporter/crash_log/process_state_impl.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {

CHILD_PROCESS_MAIN(CrashIntoWaitingFilter) { return RunCrashedChild(); }

namespace {

constexpr int kThreads = 20;

double Seconds(base::MonotonicTime start) {
  return static_cast<double>((base::MonotonicTime::Now() - start).InMicroseconds()) / 1e6;
}

int Run() {
  base::ScopedTempDir temp;
  CrashedChild child;
  if (!temp.CreateUniqueTempDir() || !child.Start(kThreads - 1)) {
    fprintf(stderr, "cannot start the crashed child\n");
    return 2;
  }
  // Built before the clock starts: the reporter builds it once per process.
  CrashMetadata::GetInstance();

  base::MonotonicTime start = base::MonotonicTime::Now();
  size_t threads = 0;
  bool logged = false;
  {
    ProcessStateImpl state;
    if (state.Snapshot(child.pid(), child.data().exception_pointers_address,
                       child.data().thread_id_address, {})) {
      threads = state.GetThreads().size();
      CrashInfo info;
      AddMemoryMetrics(state.working_set_size(), state.peak_working_set_size(),
                       state.private_bytes(), &info);
      FillCrashInfoDefaults(&info);
      MemoryRangeList ranges;
      logged = WriteCrashLogFile(temp.GetPath().Append(L"crash.txt"), state, info, &ranges);
    }
  }
  const double log_seconds = Seconds(start);

  base::win::LibraryHolder dbghelp(L"dbghelp.dll");
  auto write_dump = dbghelp.GetFunction<decltype(&::MiniDumpWriteDump)>("MiniDumpWriteDump");
  uint64_t pointers = 0;
  SIZE_T read = 0;
  ::ReadProcessMemory(child.process(),
                      reinterpret_cast<const void*>(child.data().exception_pointers_address),
                      &pointers, sizeof(pointers), &read);
  base::win::ScopedHandle file(::CreateFileW(temp.GetPath().Append(L"crash.dmp").c_str(),
                                             GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  MINIDUMP_EXCEPTION_INFORMATION exception = {
      child.data().thread_id, reinterpret_cast<EXCEPTION_POINTERS*>(pointers), TRUE};
  start = base::MonotonicTime::Now();
  bool dumped = write_dump && file.IsValid() &&
                write_dump(child.process(), child.pid(), file.Get(), MiniDumpNormal, &exception,
                           nullptr, nullptr);
  const double dump_seconds = Seconds(start);

  if (!logged || !dumped) {
    fprintf(stderr, "crash log %s, minidump %s\n", logged ? "written" : "failed",
            dumped ? "written" : "failed");
    return 2;
  }
  const double ratio = log_seconds / dump_seconds;
  printf("threads %zu: crash log %.3f s, minidump %.3f s, ratio %.3f (goal at most 0.5)\n", threads,
         log_seconds, dump_seconds, ratio);
  return ratio <= 0.5 ? 0 : 1;
}

}  // namespace
}  // namespace crash_reporter

int main() {
  base::CommandLine::InitForCurrentProcess();
  int exit_code = 0;
  if (testing::MaybeRunChildMain(&exit_code))
    return exit_code;
  logging::SetMinLogLevel(logging::LOG_ERROR);
  return crash_reporter::Run();
}
