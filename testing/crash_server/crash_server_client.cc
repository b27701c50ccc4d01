#include "testing/crash_server/crash_server_client.h"

#include <windows.h>

#include <atomic>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json_reader.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace testing_crash {
namespace {

std::wstring Environment(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0)
    return std::wstring();
  std::wstring value(size, L'\0');
  DWORD n = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(n < size ? n : 0);
  return value;
}

}  // namespace

std::wstring CrashServerUrl(std::string_view path) {
  std::wstring base = Environment(L"VELMO_TEST_CRASH_SERVER");
  if (base.empty()) {
    ADD_FAILURE() << "VELMO_TEST_CRASH_SERVER is not set: run through run_with_crash_server.py";
    base = L"http://127.0.0.1:1";
  }
  return base + base::UTF8ToWide(path);
}

std::string UniqueUploadPath(std::string_view prefix) {
  static std::atomic<int> counter{0};
  return "/" + std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

std::vector<std::unique_ptr<base::DictValue>> RecordedRequests(std::string_view path) {
  std::vector<std::unique_ptr<base::DictValue>> out;
  std::wstring record = Environment(L"VELMO_TEST_CRASH_RECORD");
  if (record.empty()) {
    ADD_FAILURE() << "VELMO_TEST_CRASH_RECORD is not set";
    return out;
  }
  std::string text;
  if (!base::ReadFileToString(base::FilePath(record), &text)) {
    ADD_FAILURE() << "cannot read the crash server's record";
    return out;
  }
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos)
      break;  // a line still being written
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    std::unique_ptr<base::Value> value = base::JsonReader::Read(line);
    base::DictValue* dict = nullptr;
    if (!value || !value->GetAsDictionary(&dict)) {
      ADD_FAILURE() << "bad record line: " << line;
      continue;
    }
    std::string request_path;
    dict->GetString("path", &request_path);
    request_path = request_path.substr(0, request_path.find('?'));
    if (request_path != path)
      continue;
    value.release();
    out.emplace_back(dict);
  }
  return out;
}

std::vector<std::unique_ptr<base::DictValue>> WaitForRequests(std::string_view path, size_t count,
                                                              int timeout_ms) {
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    std::vector<std::unique_ptr<base::DictValue>> requests = RecordedRequests(path);
    if (requests.size() >= count || GetTickCount64() >= deadline)
      return requests;
    Sleep(50);
  }
}

std::string RecordedField(const base::DictValue& request, std::string_view name, bool* found) {
  const base::DictValue* fields = nullptr;
  std::string value;
  bool present = request.GetDictionary("fields", &fields) &&
                 fields->GetStringWithoutPathExpansion(name, &value);
  if (found)
    *found = present;
  return value;
}

size_t RecordedFieldCount(const base::DictValue& request) {
  const base::DictValue* fields = nullptr;
  return request.GetDictionary("fields", &fields) ? fields->size() : 0;
}

bool FindRecordedFile(const base::DictValue& request, std::string_view name, RecordedFile* out) {
  const base::ListValue* files = nullptr;
  if (!request.GetList("files", &files))
    return false;
  for (size_t i = 0; i < files->size(); ++i) {
    const base::DictValue* file = nullptr;
    std::string part_name, hex;
    if (!files->GetDictionary(i, &file) || !file->GetString("name", &part_name) ||
        part_name != name) {
      continue;
    }
    file->GetString("filename", &out->filename);
    file->GetString("content_type", &out->content_type);
    file->GetString("data", &hex);
    // An empty part is recorded as empty text, which the converter refuses.
    out->data.clear();
    if (!hex.empty() && !base::HexStringToString(hex, &out->data)) {
      ADD_FAILURE() << "bad hex in the record";
      return false;
    }
    return true;
  }
  return false;
}

size_t RecordedFileCount(const base::DictValue& request) {
  const base::ListValue* files = nullptr;
  return request.GetList("files", &files) ? files->size() : 0;
}

}  // namespace testing_crash
