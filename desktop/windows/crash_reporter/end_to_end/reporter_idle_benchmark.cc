// What an idle reporter costs, read from outside:
//   tools/wine_exec.sh build/bin/reporter_idle_benchmark.exe
// Starts a reporter serving this program, lets it wait 10 s, and prints the
// CPU time it used meanwhile and its commit charge. Exits 1 when it used 50 ms
// of CPU or more, or commits 16 MB or more.
#include <windows.h>

#include <psapi.h>
#include <stdio.h>

#include "desktop/windows/crash_reporter/end_to_end/reporter_benchmark_support.h"

namespace {

uint64_t CpuTime100ns(HANDLE process) {
  FILETIME creation, exit, kernel, user;
  if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user))
    return 0;
  auto value = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

}  // namespace

int main() {
  base::Process reporter = crash_reporter::StartOwnReporter({});
  if (!reporter.IsValid()) {
    printf("the reporter did not start\n");
    return 2;
  }
  // Its start-up is not part of the idle cost.
  ::Sleep(1000);
  const uint64_t before = CpuTime100ns(reporter.Handle());
  ::Sleep(10000);
  const uint64_t after = CpuTime100ns(reporter.Handle());
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  const bool have_memory =
      ::GetProcessMemoryInfo(reporter.Handle(), &counters, sizeof(counters)) != FALSE;
  reporter.Terminate(0, true);

  const double cpu_ms = static_cast<double>(after - before) / 10000.0;
  const double commit_mb = static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
  printf("idle reporter: %.1f ms of CPU in 10 s (limit 50), %.2f MB committed (limit 16)\n", cpu_ms,
         commit_mb);
  if (!have_memory)
    printf("the memory figures could not be read\n");
  return (cpu_ms < 50.0 && have_memory && commit_mb < 16.0) ? 0 : 1;
}
