#include "testing/http_server/test_server.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>

#include "base/json_reader.h"
#include "base/scoped_generic.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace testing_http {
namespace {

constexpr uint32_t kPatternPeriod = 65521;

struct InternetTraits {
  static HINTERNET InvalidValue() { return nullptr; }
  static void Free(HINTERNET& handle) { InternetCloseHandle(handle); }
};
using ScopedInternet = base::ScopedGeneric<HINTERNET, InternetTraits>;

std::string Environment(const wchar_t* name) {
  wchar_t buffer[1024];
  DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  if (n == 0 || n >= 1024)
    return std::string();
  return base::WideToUTF8(std::wstring_view(buffer, n));
}

const std::string& PatternPeriod() {
  static const std::string* pattern = [] {
    auto* out = new std::string(kPatternPeriod, '\0');
    uint32_t x = 20161207;
    for (uint32_t i = 0; i < kPatternPeriod; ++i) {
      x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
      (*out)[i] = static_cast<char>((x >> 16) & 0xFF);
    }
    return out;
  }();
  return *pattern;
}

// A plain synchronous GET, independent of the code under test. The server
// closes its connection after the answer: WinInet's pool, which the
// process's downloads share, keeps no connection of the test's own for
// them to take over.
bool HttpGet(const std::wstring& url, std::string* body) {
  ScopedInternet session(
      InternetOpenW(L"velmo-test-client", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session.IsValid())
    return false;
  static const wchar_t kClose[] = L"Connection: close\r\n";
  ScopedInternet request(InternetOpenUrlW(
      session.Get(), url.c_str(), kClose, static_cast<DWORD>(wcslen(kClose)),
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
  if (!request.IsValid())
    return false;
  char buffer[16384];
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(request.Get(), buffer, sizeof(buffer), &read))
      return false;
    if (read == 0)
      return true;
    body->append(buffer, read);
  }
}

}  // namespace

std::string ServerAddress() {
  std::string address = Environment(L"VELMO_TEST_SERVER");
  EXPECT_FALSE(address.empty()) << "VELMO_TEST_SERVER is not set: run beside the test server";
  return address;
}

std::wstring ServerUrl(std::string_view path_and_query) {
  return base::UTF8ToWide("http://" + ServerAddress() + std::string(path_and_query));
}

std::wstring SecondServerUrl(std::string_view path_and_query) {
  const std::string port = Environment(L"VELMO_TEST_SECOND_PORT");
  EXPECT_FALSE(port.empty()) << "VELMO_TEST_SECOND_PORT is not set";
  if (port.empty())
    return std::wstring();
  return base::UTF8ToWide("http://127.0.0.1:" + port + std::string(path_and_query));
}

std::wstring TlsServerUrl(std::string_view path_and_query) {
  std::string port = Environment(L"VELMO_TEST_TLS_PORT");
  if (port.empty())
    return std::wstring();
  return base::UTF8ToWide("https://localhost:" + port + std::string(path_and_query));
}

std::wstring TlsRootPath() { return base::UTF8ToWide(Environment(L"VELMO_TEST_TLS_ROOT")); }

uint8_t PatternByte(uint64_t offset) {
  return static_cast<uint8_t>(PatternPeriod()[offset % kPatternPeriod]);
}

std::string Pattern(uint64_t start, size_t size) {
  const std::string& period = PatternPeriod();
  std::string out;
  out.reserve(size);
  uint64_t pos = start;
  while (out.size() < size) {
    size_t offset = static_cast<size_t>(pos % kPatternPeriod);
    size_t n = std::min<size_t>(size - out.size(), kPatternPeriod - offset);
    out.append(period, offset, n);
    pos += n;
  }
  return out;
}

bool MatchesPattern(std::string_view data, std::string* where) {
  const std::string& period = PatternPeriod();
  for (size_t pos = 0; pos < data.size(); pos += kPatternPeriod) {
    size_t n = std::min<size_t>(data.size() - pos, kPatternPeriod);
    if (data.compare(pos, n, period, 0, n) != 0) {
      for (size_t i = 0; i < n; ++i) {
        if (data[pos + i] != period[i]) {
          *where = "first difference at byte " + std::to_string(pos + i);
          return false;
        }
      }
    }
  }
  return true;
}

::testing::AssertionResult IsPatternBody(std::string_view data, size_t size) {
  if (data.size() != size) {
    return ::testing::AssertionFailure()
           << "body of " << data.size() << " bytes, expected " << size;
  }
  std::string where;
  if (!MatchesPattern(data, &where))
    return ::testing::AssertionFailure() << "wrong bytes: " << where;
  return ::testing::AssertionSuccess();
}

std::unique_ptr<base::ListValue> RecordedRequests(std::string_view key) {
  return RecordedRequestsAt(ServerAddress(), key);
}

std::unique_ptr<base::ListValue> RecordedRequestsAt(std::string_view address,
                                                    std::string_view key) {
  std::string body;
  const std::wstring url =
      base::UTF8ToWide("http://" + std::string(address) + "/requests?key=" + std::string(key));
  if (!HttpGet(url, &body)) {
    ADD_FAILURE() << "could not read the recorded requests, error " << GetLastError();
    return nullptr;
  }
  std::unique_ptr<base::Value> value = base::JsonReader::Read(body);
  base::ListValue* list = nullptr;
  if (!value || !value->GetAsList(&list)) {
    ADD_FAILURE() << "recorded requests are not a JSON list: " << body.substr(0, 200);
    return nullptr;
  }
  return std::unique_ptr<base::ListValue>(static_cast<base::ListValue*>(value.release()));
}

int OpenConnections(std::string_view key) {
  std::string body;
  int count = -1;
  if (!HttpGet(
          base::UTF8ToWide("http://" + ServerAddress() + "/connections?key=" + std::string(key)),
          &body) ||
      !base::StringToInt(body, &count)) {
    ADD_FAILURE() << "could not read the open connections, error " << GetLastError();
    return -1;
  }
  return count;
}

std::string RecordedHeader(const base::DictValue& request, std::string_view name) {
  const base::ListValue* headers = nullptr;
  if (!request.GetList("headers", &headers))
    return std::string();
  for (size_t i = 0; i < headers->size(); ++i) {
    const base::ListValue* pair = nullptr;
    std::string header_name, value;
    if (headers->GetList(i, &pair) && pair->GetString(0, &header_name) &&
        pair->GetString(1, &value) && base::EqualsCaseInsensitiveASCII(header_name, name)) {
      return value;
    }
  }
  return std::string();
}

std::string UniqueKey(std::string_view prefix) {
  static std::atomic<int> counter{0};
  return std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace testing_http
