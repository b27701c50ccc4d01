// The installer's start, measured from process start to its visible welcome
// page, against a minimal dialog program measured the same way in the same
// run:
//   welcome_page_benchmark.exe --installer=<exe> --minimal=<exe> [--runs=20]
//                              [--max-ratio=2.0] [--temp=<folder>]
// tools/bench_welcome_page.sh builds both and runs this under Wine with an X
// display. The two programs start alternately. A start counts from just
// before the process is created until a visible top-level dialog of the
// process shows its first button (the installer's Accept, the minimal
// dialog's OK) and the dialog's thread answers a message sent to it, that is,
// until its set-up has returned to the message loop. Each program is then
// closed the way a user closes it (the close button, and Yes when asked), and
// the next start waits until the process and the processes it started have
// ended. Prints every time, both medians and their ratio; exits 1 when the
// ratio exceeds the maximum, 2 when a program could not be measured. With
// --temp both programs get that folder as their temporary folder (the
// installer writes its log and download folder there).
#include <windows.h>

#include <tlhelp32.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"

namespace {

// The button that tells each program's first page is there.
constexpr int kInstallerAcceptButton = 1003;
constexpr int kMinimalOkButton = IDOK;

constexpr DWORD kShowTimeoutMs = 60000;
constexpr DWORD kCloseTimeoutMs = 60000;
constexpr DWORD kPollMs = 2;

double NowMilliseconds() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const size_t middle = samples.size() / 2;
  return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

struct WindowSearch {
  DWORD pid;
  int button;    // a visible child with this id is required, or 0
  HWND exclude;  // a window not to report
  HWND found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || window == search->exclude || !::IsWindowVisible(window))
    return TRUE;
  wchar_t class_name[16] = {};
  ::GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) != L"#32770")
    return TRUE;
  HWND button = ::GetDlgItem(window, search->button);
  if (!button || !::IsWindowVisible(button))
    return TRUE;
  search->found = window;
  return FALSE;
}

// A visible top-level dialog of |pid| with a visible control |button|.
HWND FindDialog(DWORD pid, int button, HWND exclude) {
  WindowSearch search = {pid, button, exclude, nullptr};
  ::EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The processes that |pid| started and that still run.
std::vector<base::Process> ChildrenOf(DWORD pid) {
  std::vector<base::Process> children;
  base::win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid())
    return children;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID != pid || entry.th32ProcessID == pid)
      continue;
    base::Process child = base::Process::Open(entry.th32ProcessID);
    if (child.IsValid())
      children.push_back(std::move(child));
  }
  return children;
}

// Milliseconds from the start of |command_line| to its first page, or a
// negative number when it did not show it. The program is closed again
// before this returns.
double MeasureOnce(const base::CommandLine& command_line, int button) {
  const double start = NowMilliseconds();
  base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
  if (!process.IsValid()) {
    fwprintf(stderr, L"cannot start %ls\n", command_line.GetCommandLineString().c_str());
    return -1;
  }
  const DWORD pid = process.Pid();
  HWND window = nullptr;
  int exit_code = 0;
  while (!(window = FindDialog(pid, button, nullptr))) {
    if (NowMilliseconds() - start > kShowTimeoutMs ||
        process.WaitForExitWithTimeout(kPollMs, &exit_code)) {
      fwprintf(stderr, L"%ls showed no window\n", command_line.GetProgram().value().c_str());
      process.Terminate(1, true);
      return -1;
    }
  }
  // Shown is not yet usable: the set-up after showing must have returned to
  // the message loop, which answers this.
  DWORD_PTR ignored = 0;
  const bool answered =
      ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kShowTimeoutMs, &ignored) != 0;
  const double elapsed = NowMilliseconds() - start;
  if (!answered)
    fwprintf(stderr, L"%ls does not answer\n", command_line.GetProgram().value().c_str());

  // Closed like a user closes it; the processes it started (a crash
  // reporter) must be gone too before the next start.
  std::vector<base::Process> children = ChildrenOf(pid);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  const double close_start = NowMilliseconds();
  while (!process.WaitForExitWithTimeout(20, &exit_code)) {
    if (NowMilliseconds() - close_start > kCloseTimeoutMs) {
      fwprintf(stderr, L"%ls did not end when closed\n", command_line.GetProgram().value().c_str());
      process.Terminate(1, true);
      break;
    }
    if (HWND box = FindDialog(pid, IDYES, window))
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(box, IDYES)));
  }
  for (const base::Process& child : children) {
    if (!child.WaitForExitWithTimeout(kCloseTimeoutMs, &exit_code))
      child.Terminate(1, true);
  }
  return answered ? elapsed : -1;
}

struct Subject {
  const wchar_t* name;
  base::CommandLine command_line;
  int button;
  std::vector<double> times;
};

}  // namespace

int wmain() {
  base::CommandLine::InitForCurrentProcess();
  const base::CommandLine& arguments = *base::CommandLine::ForCurrentProcess();
  if (!arguments.HasSwitch("installer") || !arguments.HasSwitch("minimal")) {
    fprintf(stderr,
            "usage: welcome_page_benchmark.exe --installer=<exe> --minimal=<exe> [--runs=20] "
            "[--max-ratio=2.0] [--temp=<folder>]\n");
    return 2;
  }
  uint32_t runs = 20;
  if (arguments.HasSwitch("runs"))
    base::StringToUint(arguments.GetSwitchValueASCII("runs"), &runs);
  runs = std::max<uint32_t>(runs, 1);
  double max_ratio = 2.0;
  if (arguments.HasSwitch("max-ratio"))
    base::StringToDouble(arguments.GetSwitchValueASCII("max-ratio"), &max_ratio);

  if (arguments.HasSwitch("temp")) {
    const std::wstring temp = arguments.GetSwitchValuePath("temp").value();
    if (!::SetEnvironmentVariableW(L"TEMP", temp.c_str()) ||
        !::SetEnvironmentVariableW(L"TMP", temp.c_str())) {
      fprintf(stderr, "cannot set the temporary folder\n");
      return 2;
    }
  }

  // The installer as a user starts it, but with nothing that waits for a
  // network when it is closed: no statistics, and a package server where
  // nothing listens.
  base::CommandLine installer(arguments.GetSwitchValuePath("installer"));
  installer.AppendSwitchASCII("enable-installer-stats", "0");
  installer.AppendSwitchASCII("internal-package-server", "http://127.0.0.1:1/");
  Subject subjects[] = {
      {L"minimal dialog",
       base::CommandLine(arguments.GetSwitchValuePath("minimal")),
       kMinimalOkButton,
       {}},
      {L"installer", installer, kInstallerAcceptButton, {}},
  };

  // One start of each that is not counted: Wine maps its own DLLs once.
  for (Subject& subject : subjects) {
    if (MeasureOnce(subject.command_line, subject.button) < 0)
      return 2;
  }
  for (uint32_t run = 0; run < runs; ++run) {
    // Which goes first alternates too, so that neither always follows the
    // other's shutdown.
    for (int k = 0; k < 2; ++k) {
      Subject& subject = subjects[(run + static_cast<uint32_t>(k)) % 2];
      const double time = MeasureOnce(subject.command_line, subject.button);
      if (time < 0)
        return 2;
      subject.times.push_back(time);
    }
  }

  for (const Subject& subject : subjects) {
    wprintf(L"%-15ls", subject.name);
    for (double time : subject.times)
      wprintf(L" %.0f", time);
    wprintf(L" ms\n");
  }
  const double minimal = Median(subjects[0].times);
  const double installer_time = Median(subjects[1].times);
  const double ratio = installer_time / minimal;
  wprintf(
      L"minimal dialog median %.0f ms, installer welcome page median %.0f ms, ratio %.2f "
      L"(at most %.2f)\n",
      minimal, installer_time, ratio, max_ratio);
  return ratio > max_ratio ? 1 : 0;
}
