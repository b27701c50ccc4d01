// The floor of the many-small-files benchmark: writes the files of a list
// once, as plainly as Win32 allows (create, one write, close), so that an
// installer's time can be set against what the system needs at least.
//
//   write_once_floor.exe <source folder> <list file> <destination folder>
//
// The list holds one relative path a line (UTF-8, CRLF or LF). Every source
// file is read into memory first; only the writing is timed. Prints
// "write_once_ms=<ms> files=<n> bytes=<b>"; exit code 0 on success.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty())
    return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

bool ReadWhole(const std::wstring& path, std::string* data) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size = {};
  bool ok = ::GetFileSizeEx(file, &size) != 0;
  data->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (ok && size.QuadPart > 0) {
    ok = ::ReadFile(file, data->data(), static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
         read == size.QuadPart;
  }
  ::CloseHandle(file);
  return ok;
}

// Makes |folder| and its missing parents; |made| remembers what exists.
bool MakeFolder(const std::wstring& folder, std::set<std::wstring>* made) {
  if (folder.empty() || made->count(folder))
    return true;
  const size_t slash = folder.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2 && !MakeFolder(folder.substr(0, slash), made))
    return false;
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  made->insert(folder);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: write_once_floor <source> <list> <destination>\n");
    return 2;
  }
  const std::wstring source = argv[1], destination = argv[3];
  std::string list;
  if (!ReadWhole(argv[2], &list)) {
    std::fprintf(stderr, "cannot read the list\n");
    return 2;
  }
  std::vector<std::wstring> names;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos)
      end = list.size();
    std::string line = list.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!line.empty()) {
      std::wstring name = Wide(line);
      for (wchar_t& c : name) {
        if (c == L'/')
          c = L'\\';
      }
      names.push_back(name);
    }
    start = end + 1;
  }
  std::vector<std::string> contents(names.size());
  unsigned long long bytes = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!ReadWhole(source + L"\\" + names[i], &contents[i])) {
      std::fprintf(stderr, "cannot read %ls\n", names[i].c_str());
      return 2;
    }
    bytes += contents[i].size();
  }

  LARGE_INTEGER frequency = {}, t0 = {}, t1 = {};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&t0);
  std::set<std::wstring> made;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::wstring path = destination + L"\\" + names[i];
    if (!MakeFolder(path.substr(0, path.find_last_of(L'\\')), &made)) {
      std::fprintf(stderr, "cannot make the folder of %ls\n", path.c_str());
      return 1;
    }
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "cannot create %ls (%lu)\n", path.c_str(), ::GetLastError());
      return 1;
    }
    DWORD written = 0;
    const bool ok = contents[i].empty() ||
                    (::WriteFile(file, contents[i].data(), static_cast<DWORD>(contents[i].size()),
                                 &written, nullptr) &&
                     written == contents[i].size());
    if (!::CloseHandle(file) || !ok) {
      std::fprintf(stderr, "cannot write %ls\n", path.c_str());
      return 1;
    }
  }
  ::QueryPerformanceCounter(&t1);
  const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                    static_cast<double>(frequency.QuadPart);
  std::printf("write_once_ms=%.0f files=%zu bytes=%llu\n", ms, names.size(), bytes);
  return 0;
}
