// What a reporter adds to an installer's crash, against a direct minidump of
// the same program:
//   tools/wine_exec.sh build/bin/reporter_crash_benchmark.exe [--rounds=5]
// For each round: an installer crashing with its own reporter (crash log and
// minidump, crash server unreachable), the same crash without a reporter, and
// a MiniDumpWriteDump of a frozen instance of the same program. Prints the
// medians; exits 1 when the reporter's share (the first minus the second) is
// more than 1.5 times the direct minidump.
#include <windows.h>

#include <dbghelp.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/end_to_end/reporter_benchmark_support.h"

namespace {

using crash_reporter::EnvironmentList;

double NowMs() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Milliseconds from the start of a crashing front end to its end; a
// negative value when it did not end within a minute.
double TimeCrash(const base::CommandLine& command_line, const EnvironmentList& environment) {
  const double start = NowMs();
  base::Process installer = crash_reporter::LaunchWithEnvironment(command_line, environment);
  if (!installer.IsValid() || !installer.WaitForExitWithTimeout(60000, nullptr))
    return -1;
  return NowMs() - start;
}

// Milliseconds of one MiniDumpWriteDump of a frozen reporter process.
double TimeDirectMinidump(const base::FilePath& dump_path) {
  base::Process target = crash_reporter::StartOwnReporter({});
  if (!target.IsValid() || !::DebugActiveProcess(target.Pid()))
    return -1;
  base::win::ScopedHandle file(::CreateFileW(dump_path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const double start = NowMs();
  const bool written =
      file.IsValid() &&
      ::MiniDumpWriteDump(target.Handle(), target.Pid(), file.Get(),
                          MiniDumpWithIndirectlyReferencedMemory, nullptr, nullptr, nullptr);
  const double elapsed = NowMs() - start;
  ::DebugActiveProcessStop(target.Pid());
  target.Terminate(0, true);
  return written ? elapsed : -1;
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  int rounds = 5;
  base::StringToInt(base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII("rounds"), &rounds);
  rounds = std::max(rounds, 1);
  base::ScopedTempDir temp;
  if (!temp.CreateUniqueTempDir())
    return 2;
  const EnvironmentList crash_environment = {
      {L"VELMO_TEST_CRASH", L"frontend:access-violation"},
      {L"VELMO_CRASH_LOG_DIR", temp.GetPath().Append(L"logs").value()},
      {L"VELMO_CRASH_SERVER_URL", L"http://127.0.0.1:1/crash"},
      {L"VELMO_ALTERNATIVE_CRASH_SERVER_URL", L"http://127.0.0.1:1/collector"}};

  base::CommandLine with_reporter(crash_reporter::HostExecutable());
  with_reporter.AppendSwitchNative("temp-folder", temp.GetPath().value());
  with_reporter.AppendSwitchASCII("with-feature:alternative-crash-logging", "on");
  // A reporter pid that names no reporter: the installer runs without one.
  base::CommandLine without_reporter = with_reporter;
  without_reporter.AppendSwitchASCII("crash-reporter-pid", "4294967291");

  std::vector<double> reported, plain, direct;
  for (int i = 0; i < rounds; ++i) {
    reported.push_back(TimeCrash(with_reporter, crash_environment));
    plain.push_back(TimeCrash(without_reporter, crash_environment));
    direct.push_back(TimeDirectMinidump(temp.GetPath().Append(L"direct.dmp")));
    if (reported.back() < 0 || plain.back() < 0 || direct.back() < 0) {
      printf("round %d failed\n", i + 1);
      return 2;
    }
  }
  const double share = Median(reported) - Median(plain);
  const double ratio = share / Median(direct);
  printf(
      "crash with reporter %.0f ms, without %.0f ms, reporter's share %.0f ms; "
      "direct minidump %.0f ms; ratio %.2f (limit 1.5)\n",
      Median(reported), Median(plain), share, Median(direct), ratio);
  return ratio <= 1.5 ? 0 : 1;
}
