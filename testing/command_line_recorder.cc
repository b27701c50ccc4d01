// A program that only writes down how it was started: its command line, in
// UTF-16, added to the file beside it named after it with ".txt" appended
// (one line per start). Tests put it where another program is expected
// (a browser, a URL handler) to see what that program would have been given.
#include <windows.h>

#include <string>

#include "base/win/scoped_handle.h"

int wmain() {
  wchar_t own_path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  const std::wstring record = std::wstring(own_path, length) + L".txt";
  base::win::ScopedHandle file(::CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return 2;
  const std::wstring line = std::wstring(::GetCommandLineW()) + L"\n";
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.Get(), line.data(),
                              static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
  return ok ? 0 : 3;
}
