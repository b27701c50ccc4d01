// The C++ side of the crash server (crash_server.py): where it listens and
// what it recorded. Only for tests run through run_with_crash_server.py.
#ifndef TESTING_CRASH_SERVER_CRASH_SERVER_CLIENT_H_
#define TESTING_CRASH_SERVER_CRASH_SERVER_CLIENT_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/values.h"
#include "testing/http_server/test_server.h"

namespace testing_crash {

// "http://127.0.0.1:PORT" + |path|; "http://127.0.0.1:1" + |path| (and a
// test failure) when the test was not started beside the server.
std::wstring CrashServerUrl(std::string_view path);

// A path of its own for one test ("/<prefix>-<n>"), so that the test can
// pick its requests out of the shared record.
std::string UniqueUploadPath(std::string_view prefix);

// Every request recorded so far whose path (query removed) is |path|, in
// arrival order. Each is a dictionary: "method", "path", "status",
// "headers" (a list of [name, value]), and for POSTs "body_length",
// "fields" (name to value), "files" (a list of {"name", "filename",
// "content_type", "data" in hex}) or "error".
std::vector<std::unique_ptr<base::DictValue>> RecordedRequests(std::string_view path);

// Waits up to |timeout_ms| until at least |count| requests for |path| are
// recorded (uploads queued on the thread pool arrive later).
std::vector<std::unique_ptr<base::DictValue>> WaitForRequests(std::string_view path, size_t count,
                                                              int timeout_ms);

// A header of a recorded request (case-insensitive name); empty when absent.
// Both servers record headers alike.
using testing_http::RecordedHeader;
// A text field of a recorded POST; |found| tells whether it was there.
std::string RecordedField(const base::DictValue& request, std::string_view name,
                          bool* found = nullptr);
// The number of text fields of a recorded POST.
size_t RecordedFieldCount(const base::DictValue& request);
// The file part named |name| as {filename, content_type, bytes}; false when
// there is none.
struct RecordedFile {
  std::string filename;
  std::string content_type;
  std::string data;
};
bool FindRecordedFile(const base::DictValue& request, std::string_view name, RecordedFile* out);
size_t RecordedFileCount(const base::DictValue& request);

}  // namespace testing_crash

#endif  // TESTING_CRASH_SERVER_CRASH_SERVER_CLIENT_H_
