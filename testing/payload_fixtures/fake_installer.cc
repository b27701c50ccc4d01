// A stand-in for a downloaded installer, steered by the environment it
// inherits from the test:
//   --internal-version   prints VELMO_FAKE_INTERNAL_VERSION; with
//                        VELMO_FAKE_HANG set it never answers, with
//                        VELMO_FAKE_FLOOD set it writes without end
//   --stream             prints VELMO_FAKE_STREAM
//   --installfolder=...  behaves as a component's installer: appends its
//                        command line to the file named after itself
//                        followed by ".calls" and exits with 0
//   no argument          behaves as a component's self-extracting archive:
//                        copies itself beside itself as
//                        VELMO_FAKE_SFX_CREATES (when set) and exits with
//                        VELMO_FAKE_SFX_EXIT_CODE (0 when unset); with
//                        VELMO_FAKE_SFX_HANG set it never ends
// The test makes installers of it with a 7z payload through the
// installer-making tool, so the fetcher sees a whole package.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

void Print(const std::wstring& text) {
  const std::string narrow(text.begin(), text.end());
  fputs(narrow.c_str(), stdout);
  fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && wcscmp(argv[1], L"--internal-version") == 0) {
    if (!Env(L"VELMO_FAKE_HANG").empty())
      Sleep(INFINITE);
    if (!Env(L"VELMO_FAKE_FLOOD").empty()) {
      const std::string line(4096, '9');
      for (;;)
        fputs(line.c_str(), stdout);
    }
    Print(Env(L"VELMO_FAKE_INTERNAL_VERSION"));
    return 0;
  }
  if (argc > 1 && wcscmp(argv[1], L"--stream") == 0) {
    Print(Env(L"VELMO_FAKE_STREAM"));
    return 0;
  }
  if (argc > 1 && wcsncmp(argv[1], L"--installfolder=", 16) == 0) {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    FILE* calls = _wfopen((std::wstring(module) + L".calls").c_str(), L"a");
    if (!calls)
      return 100;
    const std::wstring line = GetCommandLineW();
    fputs(std::string(line.begin(), line.end()).c_str(), calls);
    fputs("\n", calls);
    fclose(calls);
    return 0;
  }
  const std::wstring creates = Env(L"VELMO_FAKE_SFX_CREATES");
  if (!creates.empty()) {
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring self = module;
    const std::wstring folder = self.substr(0, self.find_last_of(L'\\'));
    if (!CopyFileW(module, (folder + L"\\" + creates).c_str(), FALSE))
      return 3;
  }
  if (!Env(L"VELMO_FAKE_SFX_HANG").empty())
    Sleep(INFINITE);
  const std::wstring code = Env(L"VELMO_FAKE_SFX_EXIT_CODE");
  return code.empty() ? 0 : _wtoi(code.c_str());
}
