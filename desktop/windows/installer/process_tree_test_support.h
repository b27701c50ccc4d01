// The processes of one installer run, for tests that start the installers
// a user gets: the front end and every process started below it (back ends,
// the package's installer, the crash reporter, the clean-up batch file's
// command processor). A test waits for all of them before it looks at the
// machine, so that no late effect of a run lands in the next one.
#ifndef DESKTOP_WINDOWS_INSTALLER_PROCESS_TREE_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_PROCESS_TREE_TEST_SUPPORT_H_

#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace installer::test {

// The command line of |process|, read from its process parameters.
inline std::wstring CommandLineOf(HANDLE process) {
  using QueryFunction = NTSTATUS(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic = {};
  PEB peb = {};
  RTL_USER_PROCESS_PARAMETERS parameters = {};
  if (!query || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
      !::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), nullptr) ||
      !::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters),
                           nullptr)) {
    return std::wstring();
  }
  std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!::ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                           parameters.CommandLine.Length, nullptr)) {
    return std::wstring();
  }
  return text;
}

// Whether |pid| has got through its start-up: the emulator cannot end a
// process that it is still loading (the process then hangs for good). An
// installer process has loaded the engine by then; any other has its
// system libraries in its module list.
inline bool HasStarted(DWORD pid) {
  HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (raw == INVALID_HANDLE_VALUE)
    return false;
  base::win::ScopedHandle snapshot(raw);
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool ours = false, engine = false, kernel32 = false;
  for (BOOL ok = ::Module32FirstW(snapshot.Get(), &entry); ok;
       ok = ::Module32NextW(snapshot.Get(), &entry)) {
    std::wstring name = entry.szModule;
    for (wchar_t& c : name)
      c = static_cast<wchar_t>(std::towlower(c));
    ours = ours || name.find(L"installer") != std::wstring::npos;
    engine = engine || name == L"installer_engine.dll";
    kernel32 = kernel32 || name == L"kernel32.dll";
  }
  return ours ? engine : kernel32;
}

// Whether |pid| has run no code of its own yet: not even the system
// libraries that the loader maps before a program's first instruction are
// in its module list.
inline bool HasRunNoCode(DWORD pid) {
  HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (raw == INVALID_HANDLE_VALUE)
    return true;
  base::win::ScopedHandle snapshot(raw);
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = ::Module32FirstW(snapshot.Get(), &entry); ok;
       ok = ::Module32NextW(snapshot.Get(), &entry)) {
    std::wstring name = entry.szModule;
    for (wchar_t& c : name)
      c = static_cast<wchar_t>(std::towlower(c));
    if (name == L"kernel32.dll")
      return false;
  }
  return true;
}

// The front end and every process started below it, found by their
// parent's id (kept after the parent has ended), each held open so that its
// id cannot be reused meanwhile. Look often (Refresh) while the run goes
// on: a process that starts a child and ends between two looks hides that
// child.
class ProcessTree {
 public:
  // A running process of the tree.
  struct Running {
    HANDLE handle;
    // 0 for the front end, 1 for what it started, and so on.
    int depth;
    // Started with "--backend": not the crash reporter, not a command
    // processor.
    bool back_end;
  };

  explicit ProcessTree(HANDLE front_end) {
    Add(::GetProcessId(front_end), 0, front_end, /*own=*/false);
  }
  ProcessTree(const ProcessTree&) = delete;
  ProcessTree& operator=(const ProcessTree&) = delete;

  ~ProcessTree() {
    for (const auto& [pid, member] : members_) {
      if (member.own)
        ::CloseHandle(member.handle);
    }
  }

  // Takes in the processes started since the last look.
  void Refresh() {
    HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (raw == INVALID_HANDLE_VALUE)
      return;
    base::win::ScopedHandle snapshot(raw);
    // A parent listed after its child is found in the next round.
    for (int round = 0; round < 3; ++round) {
      PROCESSENTRY32W entry = {};
      entry.dwSize = sizeof(entry);
      for (BOOL ok = ::Process32FirstW(snapshot.Get(), &entry); ok;
           ok = ::Process32NextW(snapshot.Get(), &entry)) {
        auto parent = members_.find(entry.th32ParentProcessID);
        if (parent == members_.end() || members_.count(entry.th32ProcessID))
          continue;
        HANDLE process = ::OpenProcess(
            PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
            entry.th32ProcessID);
        if (!process)
          continue;
        // Started after its parent, or the id is an older one's.
        if (StartTime(process) < parent->second.start_time) {
          ::CloseHandle(process);
          continue;
        }
        Add(entry.th32ProcessID, parent->second.depth + 1, process, /*own=*/true);
      }
    }
  }

  // The processes of the tree that still run, after a look for new ones.
  std::vector<Running> FindRunning() {
    Refresh();
    std::vector<Running> running;
    for (auto& [pid, member] : members_) {
      if (::WaitForSingleObject(member.handle, 0) == WAIT_TIMEOUT)
        running.push_back(Running{member.handle, member.depth, member.IsBackEnd()});
    }
    return running;
  }

  // Waits until every process of the run has ended; false after
  // |timeout_ms|.
  bool WaitForAll(DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
      // Twice empty: one more look for a process started by the last one
      // to end.
      if (FindRunning().empty() && FindRunning().empty())
        return true;
      if (::GetTickCount64() > deadline)
        return false;
      ::Sleep(20);
    }
  }

  // The ids and command lines of the processes still running.
  std::string Describe() {
    std::string text;
    for (auto& [pid, member] : members_) {
      if (::WaitForSingleObject(member.handle, 0) == WAIT_TIMEOUT)
        text += std::to_string(pid) + ": " + base::WideToUTF8(CommandLineOf(member.handle)) + "\n";
    }
    return text;
  }

  // Whether every process of the tree that still runs has run no code of
  // its own: the emulator loses a process whose parent is ended while it
  // creates it, and such a process never gets past its loader. Nothing of
  // the installer ran in it.
  bool OnlyProcessesThatRanNoCodeRemain() {
    bool any = false;
    for (const auto& [pid, member] : members_) {
      if (::WaitForSingleObject(member.handle, 0) != WAIT_TIMEOUT)
        continue;
      if (!HasRunNoCode(pid))
        return false;
      any = true;
    }
    return any;
  }

  // Ends every process of the run (again while one is still there: the
  // emulator may drop the end of a process it is still starting).
  void TerminateAll() {
    // Two minutes for every start-up together, not for each one in each
    // round: a process that never gets through its start-up must not hold
    // the test past its own time-out without a word.
    const ULONGLONG start_up_deadline = ::GetTickCount64() + kStartUpTimeoutMs;
    for (int tries = 0; tries < 10; ++tries) {
      WaitUntilAllStarted(start_up_deadline);
      bool running = false;
      for (const auto& [pid, member] : members_) {
        if (::WaitForSingleObject(member.handle, 0) == WAIT_TIMEOUT) {
          ::TerminateProcess(member.handle, 1);
          running = true;
        }
      }
      if (!running)
        return;
      ::Sleep(100);
    }
  }

  // Waits until every running process that the tree holds has got through
  // its start-up, without looking for new ones: call it between the last
  // look and ending a process. Ending a back end ends its whole job, and the
  // emulator's server crashes when a process of it that had not yet made its
  // first request to the server is ended while another process (this one)
  // holds a handle to it: the server declares it dead, keeps it for the
  // handle, and then reads the first message of the still starting process
  // for a thread that no longer exists. A process started after the last
  // look is not held here, so it is freed at once when it is ended.
  void WaitUntilAllStarted() { WaitUntilAllStarted(::GetTickCount64() + kStartUpTimeoutMs); }

  // Waits until |process| has got through its start-up or has ended (two
  // minutes at most, on a loaded machine).
  static void WaitUntilStarted(HANDLE process) {
    WaitUntilStarted(process, ::GetTickCount64() + kStartUpTimeoutMs);
  }

  // The same, until |deadline| (a GetTickCount64 value) at most. Every look
  // reads the module list of the process through the emulator's server,
  // which stops the process for each read and serves no other process
  // meanwhile; on a loaded machine a look takes long. Looks are spaced by
  // twice their own time, so that the process waited for (and every other)
  // keeps most of the server for its start-up; without a pause the looks
  // could keep the server busy nearly all the time.
  static void WaitUntilStarted(HANDLE process, ULONGLONG deadline) {
    const DWORD pid = ::GetProcessId(process);
    for (;;) {
      const ULONGLONG before = ::GetTickCount64();
      if (HasStarted(pid) || before >= deadline)
        return;
      const ULONGLONG spent = ::GetTickCount64() - before;
      const DWORD pause = static_cast<DWORD>(std::max<ULONGLONG>(10, 2 * spent));
      if (::WaitForSingleObject(process, pause) != WAIT_TIMEOUT)
        return;
    }
  }

 private:
  static constexpr ULONGLONG kStartUpTimeoutMs = 120 * 1000;

  void WaitUntilAllStarted(ULONGLONG deadline) {
    for (const auto& [pid, member] : members_) {
      if (::WaitForSingleObject(member.handle, 0) == WAIT_TIMEOUT)
        WaitUntilStarted(member.handle, deadline);
    }
  }

  struct Member {
    HANDLE handle;
    int depth;
    uint64_t start_time;
    bool own;
    // Read again while empty: a process just made may not show it yet.
    std::wstring command_line;

    bool IsBackEnd() {
      if (command_line.empty())
        command_line = CommandLineOf(handle);
      return depth > 0 && command_line.find(L"--backend") != std::wstring::npos;
    }
  };

  static uint64_t StartTime(HANDLE process) {
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user))
      return 0;
    return (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
  }

  void Add(DWORD pid, int depth, HANDLE handle, bool own) {
    members_[pid] = Member{handle, depth, StartTime(handle), own, std::wstring()};
  }

  std::map<DWORD, Member> members_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_PROCESS_TREE_TEST_SUPPORT_H_
