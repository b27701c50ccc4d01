// The sinks without a network: response writers and the statistics reports.
#include "desktop/windows/installer/wininet/download_report.h"

#include <string>

#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/stats_node.h"
#include "desktop/windows/installer/wininet/wininet.h"
#include "desktop/windows/installer/wininet/wininet_response_writer.h"
#include "desktop/windows/installer/wininet/wininet_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ResponseWriterTest, StringWriterStartsEmptyAppendsAndRewinds) {
  std::string out = "left over from before";
  StringResponseWriter writer(&out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(writer.Write("ab\0c", 4));
  EXPECT_TRUE(writer.Write("de", 2));
  EXPECT_EQ(std::string("ab\0cde", 6), out);
  EXPECT_TRUE(writer.Rewind());
  EXPECT_TRUE(out.empty());
}

TEST(ResponseWriterTest, FileWriterReplacesTruncatesAndRefusesAfterClose) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  base::FilePath path = dir.GetPath().Append(L"body.bin");
  {
    FileResponseWriter first;
    ASSERT_TRUE(first.Open(path));
    ASSERT_TRUE(first.Write("0123456789", 10));
  }
  FileResponseWriter writer;
  ASSERT_TRUE(writer.Open(path));  // Replaces the old file.
  ASSERT_TRUE(writer.Write("abc", 3));
  ASSERT_TRUE(writer.Rewind());
  ASSERT_TRUE(writer.Write("xy", 2));
  writer.Close();
  EXPECT_EQ("xy", ReadWholeFile(path));
  // A closed writer keeps nothing more: the download must fail, not lose
  // the block silently.
  EXPECT_FALSE(writer.Write("z", 1));
  writer.Close();  // Closing twice is harmless.
  EXPECT_EQ("xy", ReadWholeFile(path));
}

TEST(ResponseWriterTest, FileWriterCannotOpenAFolder) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  FileResponseWriter writer;
  EXPECT_FALSE(writer.Open(dir.GetPath()));
  EXPECT_FALSE(writer.Write("a", 1));
}

TEST(DownloadReportTest, ErrorReportKeepsTheLastOutcomeUnderItsPrefix) {
  StatsReport stats;
  StatsNode root = stats.root_node();
  DownloadErrorReport report(&root, "fetch_download_url_");
  report.OnChunkStart(0);
  report.OnWinInetError(12030);
  report.OnHttpStatus(503);
  report.OnWinInetError(0);
  report.OnHttpStatus(200);
  report.OnChunkEnd(10);
  base::AutoLock lock(stats.lock());
  int value = -1;
  ASSERT_TRUE(
      stats.root().GetIntegerWithoutPathExpansion("fetch_download_url_wininet_error", &value));
  EXPECT_EQ(0, value);
  ASSERT_TRUE(
      stats.root().GetIntegerWithoutPathExpansion("fetch_download_url_http_status", &value));
  EXPECT_EQ(200, value);
  EXPECT_EQ(2u, stats.root().size());
}

TEST(DownloadReportTest, ChunksReportNumbersEntriesAndRecordsEveryEvent) {
  StatsReport stats;
  StatsNode root = stats.root_node();
  DownloadChunksReport report(&root, "download_chunks");
  report.OnChunkStart(0);
  report.OnServerIp("127.0.0.1");
  report.OnHeader(L"X-Served-By", L"edge-1");
  report.OnWinInetError(0);
  report.OnHttpStatus(200);
  report.OnChunkEnd(1000);
  report.OnChunkStart(1000);
  report.OnRedirect(L"http://example.test/\u00e9");
  report.OnRetry(3);
  report.OnChunkEnd(2000);

  base::AutoLock lock(stats.lock());
  const base::ListValue* chunks = nullptr;
  ASSERT_TRUE(stats.root().GetListWithoutPathExpansion("download_chunks", &chunks));
  ASSERT_EQ(2u, chunks->size());
  const base::DictValue* first = nullptr;
  const base::DictValue* second = nullptr;
  ASSERT_TRUE(chunks->GetDictionary(0, &first));
  ASSERT_TRUE(chunks->GetDictionary(1, &second));
  int number = -1;
  std::string text;
  EXPECT_TRUE(first->GetIntegerWithoutPathExpansion("chunk_number", &number));
  EXPECT_EQ(0, number);
  EXPECT_TRUE(second->GetIntegerWithoutPathExpansion("chunk_number", &number));
  EXPECT_EQ(1, number);
  EXPECT_TRUE(first->GetIntegerWithoutPathExpansion("chunk_end", &number));
  EXPECT_EQ(1000, number);
  EXPECT_TRUE(second->GetIntegerWithoutPathExpansion("chunk_start", &number));
  EXPECT_EQ(1000, number);
  EXPECT_TRUE(first->GetStringWithoutPathExpansion("ip", &text));
  EXPECT_EQ("127.0.0.1", text);
  EXPECT_TRUE(first->GetStringWithoutPathExpansion("headers.X-Served-By", &text));
  EXPECT_EQ("edge-1", text);
  EXPECT_TRUE(first->GetIntegerWithoutPathExpansion("http_status", &number));
  EXPECT_EQ(200, number);
  EXPECT_TRUE(second->GetStringWithoutPathExpansion("redirected_url", &text));
  EXPECT_EQ("http://example.test/\xc3\xa9", text);
  EXPECT_TRUE(second->GetIntegerWithoutPathExpansion("retry_count", &number));
  EXPECT_EQ(3, number);
  for (const base::DictValue* chunk : {first, second}) {
    EXPECT_TRUE(chunk->HasKey("chunk_start_time.time"));
    EXPECT_TRUE(chunk->HasKey("chunk_start_time.elapsed"));
    EXPECT_TRUE(chunk->HasKey("chunk_end_time.time"));
    EXPECT_TRUE(chunk->HasKey("chunk_end_time.elapsed"));
  }
}

TEST(DownloadReportTest, ChunksReportIgnoresEventsBeforeTheFirstChunk) {
  StatsReport stats;
  StatsNode root = stats.root_node();
  DownloadChunksReport report(&root, "download_chunks");
  report.OnServerIp("10.0.0.1");
  report.OnChunkEnd(5);
  report.OnChunkStart(5);
  base::AutoLock lock(stats.lock());
  const base::ListValue* chunks = nullptr;
  ASSERT_TRUE(stats.root().GetListWithoutPathExpansion("download_chunks", &chunks));
  ASSERT_EQ(1u, chunks->size());
  const base::DictValue* chunk = nullptr;
  ASSERT_TRUE(chunks->GetDictionary(0, &chunk));
  EXPECT_FALSE(chunk->HasKey("ip"));
  int number = -1;
  // The stray end still counted as a request.
  EXPECT_TRUE(chunk->GetIntegerWithoutPathExpansion("chunk_number", &number));
  EXPECT_EQ(1, number);
}

// An entry allows its host and the hosts below it after a dot, whatever
// the case; a host that only ends with its letters is another host, and an
// address entry allows that address alone.
TEST(AllowedHostsTest, EntriesMatchTheirHostAndItsSubdomains) {
  EXPECT_TRUE(WinInetDownloader::IsHostAllowed(L"anything.example", {}));
  const std::vector<std::wstring> allowed = {L".velmo.test", L"localhost", L"127.0.0.1"};
  struct {
    const wchar_t* host;
    bool allowed;
  } cases[] = {
      {L"download.velmo.test", true},
      {L"DL.VELMO.TEST", true},
      {L"velmo.test", true},
      {L"localhost", true},
      {L"LocalHost", true},
      {L"a.localhost", true},
      {L"127.0.0.1", true},
      {L"evilvelmo.test", false},
      {L"notlocalhost", false},
      {L"1127.0.0.1", false},
      // An address allows only itself.
      {L"a.127.0.0.1", false},
      {L"0.0.127.0.0.1", false},
      {L"velmo.test.evil", false},
      {L"127.0.0.2", false},
      {L"test", false},
      {L"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.allowed, WinInetDownloader::IsHostAllowed(c.host, allowed)) << c.host;
  EXPECT_TRUE(WinInetDownloader::IsHostAllowed(L"download.Velmo.test", {L".VELMO.Test"}));
  EXPECT_TRUE(WinInetDownloader::IsHostAllowed(L"[::1]", {L"[::1]"}));
  EXPECT_FALSE(WinInetDownloader::IsHostAllowed(L"a.[::1]", {L"[::1]"}));
}

// However many requests a download makes, its report keeps a bounded list
// whose last entry stands for the latest requests and counts them all.
TEST(DownloadChunksReportTest, ManyRequestsKeepABoundedList) {
  StatsReport stats;
  StatsNode root = stats.root_node();
  DownloadChunksReport report(&root, "download_chunks");
  for (uint32_t i = 0; i < 1000; ++i) {
    report.OnChunkStart(i);
    report.OnHttpStatus(206);
    report.OnChunkEnd(i + 1);
  }
  base::AutoLock lock(stats.lock());
  const base::ListValue* chunks = nullptr;
  ASSERT_TRUE(stats.root().GetListWithoutPathExpansion("download_chunks", &chunks));
  EXPECT_EQ(static_cast<size_t>(DownloadChunksReport::kMaxEntries), chunks->size());
  const base::DictValue* last = nullptr;
  ASSERT_TRUE(chunks->GetDictionary(chunks->size() - 1, &last));
  int number = -1, end = -1;
  EXPECT_TRUE(last->GetIntegerWithoutPathExpansion("chunk_number", &number));
  EXPECT_TRUE(last->GetIntegerWithoutPathExpansion("chunk_end", &end));
  EXPECT_EQ(999, number);
  EXPECT_EQ(1000, end);
}

// The watchdog looks when the request would be stalled, so that a request is
// given up at the time-out after its last byte, not up to a period later.
TEST(StallWatchdogTest, LooksWhenTheTimeOutRunsOut) {
  using base::TimeSpan;
  const TimeSpan minute = TimeSpan::FromSeconds(60);
  struct {
    int64_t idle_ms;
    bool waiting;
    int64_t next_ms;
  } cases[] = {{0, false, 60000}, {59500, false, 500}, {20000, false, 40000},
               {60000, false, 1}, {0, true, 60000},    {30000, true, 60000}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.next_ms, WinInetDownloader::NextStallCheck(
                             minute, TimeSpan::FromMilliseconds(c.idle_ms), c.waiting)
                             .InMilliseconds())
        << c.idle_ms << (c.waiting ? " waiting" : "");
  }
}

}  // namespace
}  // namespace installer
