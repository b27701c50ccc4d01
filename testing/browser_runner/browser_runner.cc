// Keeps the installed stand-in browser running for the soak run, which
// cannot make a named event from the Linux side:
//
//   browser_runner.exe <stop file> <browser>
//
// Makes a named event, starts "<browser> --run-until-event=<event>" (the
// stand-in browser then runs until the event is signalled), and writes
// "<stop file>.running" once the browser has started. When <stop file>
// exists, it signals the event and waits for the browser to end. Exits with
// the browser's exit code; 2 when it cannot start it.
#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3)
    return 2;
  const std::wstring stop_file = argv[1];
  const std::wstring event_name =
      L"Local\\VelmoBrowserRunner" + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!event.IsValid())
    return 2;
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\" --run-until-event=" + event_name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 2;
  }
  base::win::ScopedHandle process(info.hProcess);
  base::win::ScopedHandle thread(info.hThread);
  base::win::ScopedHandle running(::CreateFileW((stop_file + L".running").c_str(), GENERIC_WRITE, 0,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
  // The soak waits for the browser: nothing else ends it.
  while (::GetFileAttributesW(stop_file.c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::WaitForSingleObject(process.Get(), 100) == WAIT_TIMEOUT) {
  }
  ::SetEvent(event.Get());
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exit_code = 2;
  ::GetExitCodeProcess(process.Get(), &exit_code);
  return static_cast<int>(exit_code);
}
