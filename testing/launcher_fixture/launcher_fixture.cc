// Appends its whole command line (UTF-16 as written by GetCommandLineW, one
// line per start) to "launcher_command_line.txt" beside itself, then exits
// with 0. Exits with 1 when it cannot record.
//
// Installed as the browser, it stands for a browser that runs: started with
// "--run-until-event=NAME" it records nothing (what an installation holds
// stays as installed) and runs until the named event, which the test made,
// is signalled; it then exits with 0 (1 when there is no such event).
#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

namespace {

constexpr wchar_t kRunUntilEventSwitch[] = L"--run-until-event=";

int RunUntilEvent(const std::wstring& name) {
  base::win::ScopedHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!event.IsValid())
    return 1;
  return ::WaitForSingleObject(event.Get(), INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.rfind(kRunUntilEventSwitch, 0) == 0)
      return RunUntilEvent(arg.substr(std::wstring(kRunUntilEventSwitch).size()));
  }

  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  std::wstring record(path, length);
  const size_t slash = record.find_last_of(L'\\');
  if (slash == std::wstring::npos)
    return 1;
  record.resize(slash + 1);
  record += L"launcher_command_line.txt";

  base::win::ScopedHandle file(::CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return 1;
  std::wstring line = ::GetCommandLineW();
  line += L"\n";
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(line.size() * sizeof(wchar_t));
  const BOOL ok = ::WriteFile(file.Get(), line.data(), size, &written, nullptr);
  return ok && written == size ? 0 : 1;
}
