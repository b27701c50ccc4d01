// The C++ side of the HTTP test server (test_http_server.py): its address,
// the byte pattern of its bodies, and what it recorded.
#ifndef TESTING_HTTP_SERVER_TEST_SERVER_H_
#define TESTING_HTTP_SERVER_TEST_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/values.h"
#include "gtest/gtest.h"

namespace testing_http {

// "127.0.0.1:PORT" from VELMO_TEST_SERVER; empty (and a test failure) when
// the test was not started beside the server.
std::string ServerAddress();
// "http://127.0.0.1:PORT" followed by |path_and_query|.
std::wstring ServerUrl(std::string_view path_and_query);
// The server's second plain listener, another server to a client:
// "http://127.0.0.1:SECONDPORT" + |path_and_query| from
// VELMO_TEST_SECOND_PORT; empty (and a test failure) without it.
std::wstring SecondServerUrl(std::string_view path_and_query);
// The HTTPS listener, addressed as "localhost" (the name its certificate
// carries): "https://localhost:TLSPORT" + |path_and_query|; empty when the
// server runs without TLS.
std::wstring TlsServerUrl(std::string_view path_and_query);
// The DER test root that issued the server's certificate, as a Wine path.
std::wstring TlsRootPath();

// Byte |offset| of every body the server sends.
uint8_t PatternByte(uint64_t offset);
// Bytes [start, start + size) of the pattern.
std::string Pattern(uint64_t start, size_t size);
// Whether |data| equals the pattern from offset 0; on a difference, where
// it is goes into |where| (for the failure message).
bool MatchesPattern(std::string_view data, std::string* where);

// The requests the server recorded under |key| (a list of dictionaries
// with "method", "path", "headers" (a list of [name, value]), "body",
// "body_length"); null (and a test failure) when they cannot be read.
std::unique_ptr<base::ListValue> RecordedRequests(std::string_view key);
// The same, from the server at |address| ("HOST:PORT"), e.g. a second server
// started beside the test.
std::unique_ptr<base::ListValue> RecordedRequestsAt(std::string_view address, std::string_view key);
// The value of header |name| (case-insensitive) of one recorded request;
// empty when absent.
std::string RecordedHeader(const base::DictValue& request, std::string_view name);

// How many connections that asked for |key| the server holds open; -1 (and
// a test failure) when it cannot be asked.
int OpenConnections(std::string_view key);

// Success when |data| is exactly the first |size| bytes of the pattern.
::testing::AssertionResult IsPatternBody(std::string_view data, size_t size);

// A fresh key for the server's per-key counters, unique in this process.
std::string UniqueKey(std::string_view prefix);

}  // namespace testing_http

#endif  // TESTING_HTTP_SERVER_TEST_SERVER_H_
