// How a host says that it cannot start the engine (see host_support.h).
#include <windows.h>

#include <cwchar>
#include <string>

#include "desktop/windows/installer/host/host_support.h"

namespace installer_host {
namespace {

// The resource of the product configuration, and the key of the name that
// the log folder and the log file are named after.
constexpr int kProductConfigResource = 133;
constexpr char kProductNameKey[] = "\"product_name\"";

// The product name from the host's own configuration: the first string
// after its key. Empty when the resource or the key is missing.
std::string ProductName() {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kProductConfigResource), L"TXT");
  HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
  const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  if (!data)
    return std::string();
  const std::string text(data, ::SizeofResource(nullptr, resource));
  const size_t key = text.find(kProductNameKey);
  const size_t colon = key == std::string::npos ? key : text.find(':', key);
  const size_t open = colon == std::string::npos ? colon : text.find('"', colon);
  const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
  if (close == std::string::npos)
    return std::string();
  return text.substr(open + 1, close - open - 1);
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        static_cast<int>(narrow.size()), nullptr, nullptr);
  return narrow;
}

// "<error> (<its text>)".
std::wstring ErrorText(DWORD error) {
  wchar_t buffer[256];
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, 256, nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                        buffer[length - 1] == L'.' || buffer[length - 1] == L' ')) {
    --length;
  }
  std::wstring text = L"error " + std::to_wstring(error);
  if (length > 0)
    text += L": " + std::wstring(buffer, length);
  return text;
}

void WriteAll(HANDLE file, const std::string& text) {
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Runs started in one second that may each get a log of their own.
constexpr int kMaxLogNameSuffix = 999;

// Writes |line| into a new log file of its own in the installer's log folder,
// named as the engine names its logs, by the start second; never into a log
// that exists (another run's of the same second gets "_1", "_2" ...).
void WriteToLogFolder(const std::string& line) {
  const std::string product = ProductName();
  wchar_t temp[MAX_PATH + 1];
  const DWORD temp_length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (product.empty() || temp_length == 0 || temp_length > MAX_PATH)
    return;
  std::wstring folder(temp, temp_length);
  folder += Widen(product) + L" Installer";
  ::CreateDirectoryW(folder.c_str(), nullptr);  // Fails when it exists.
  std::wstring name = Widen(product);
  for (wchar_t& c : name) {
    if (c >= L'A' && c <= L'Z')
      c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"_installer_%04u%02u%02u%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  const std::wstring stem = folder + L"\\" + name + stamp;
  ScopedFile file;
  for (int suffix = 0; suffix <= kMaxLogNameSuffix && !file.IsValid(); ++suffix) {
    const std::wstring path =
        stem + (suffix == 0 ? std::wstring() : L"_" + std::to_wstring(suffix)) + L".log";
    file.Reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() && ::GetLastError() != ERROR_FILE_EXISTS &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return;
    }
  }
  if (!file.IsValid())
    return;
  char prefix[48];
  std::snprintf(prefix, sizeof(prefix), "[%02u%02u/%02u%02u%02u.%03u:ERROR:installer_host] ",
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  WriteAll(file.Get(), prefix + line + "\r\n");
}

}  // namespace

void ReportStartFailure(const wchar_t* what, const std::wstring& detail) {
  const DWORD error = ::GetLastError();
  std::wstring text = L"Installer start failed: ";
  text += what;
  if (!detail.empty())
    text += L" " + detail;
  text += L" (" + ErrorText(error) + L")";
  ::OutputDebugStringW((text + L"\n").c_str());
  const std::string line = Narrow(text);
  HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error_output && error_output != INVALID_HANDLE_VALUE)
    WriteAll(error_output, line + "\n");
  WriteToLogFolder(line);
}

}  // namespace installer_host
