#include "desktop/windows/installer/wininet/download_report.h"

#include <utility>

#include "base/logging.h"
#include "base/utf_string_conversions.h"

namespace installer {

DownloadErrorReport::DownloadErrorReport(StatsNode* node, std::string prefix)
    : node_(*node), prefix_(std::move(prefix)) {}

void DownloadErrorReport::OnWinInetError(uint32_t error) {
  node_.SetInteger(prefix_ + "wininet_error", static_cast<int32_t>(error));
}

void DownloadErrorReport::OnHttpStatus(uint32_t status) {
  node_.SetInteger(prefix_ + "http_status", static_cast<int32_t>(status));
}

DownloadChunksReport::DownloadChunksReport(StatsNode* node, std::string list_key)
    : node_(*node), list_key_(std::move(list_key)) {}

StatsNode* DownloadChunksReport::CurrentChunk() {
  if (!chunk_)
    LOG(ERROR) << "Download event without a chunk entry";
  return chunk_.get();
}

void DownloadChunksReport::OnChunkStart(uint32_t bytes_so_far) {
  if (!chunk_ || chunk_counter_ < kMaxEntries)
    chunk_ = node_.AddListEntry(list_key_);
  chunk_->SetInteger("chunk_start", static_cast<int32_t>(bytes_so_far));
  chunk_->SetInteger("chunk_number", static_cast<int32_t>(chunk_counter_));
  chunk_->SetTimestampAndElapsed("chunk_start_time");
}

void DownloadChunksReport::OnServerIp(const std::string& ip) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetString("ip", ip);
}

void DownloadChunksReport::OnRedirect(const std::wstring& url) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetString("redirected_url", base::WideToUTF8(url));
}

void DownloadChunksReport::OnHeader(const std::wstring& name, const std::wstring& value) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetString("headers." + base::WideToUTF8(name), base::WideToUTF8(value));
}

void DownloadChunksReport::OnWinInetError(uint32_t error) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetInteger("wininet_error", static_cast<int32_t>(error));
}

void DownloadChunksReport::OnHttpStatus(uint32_t status) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetInteger("http_status", static_cast<int32_t>(status));
}

void DownloadChunksReport::OnRetry(uint32_t retry_count) {
  if (StatsNode* chunk = CurrentChunk())
    chunk->SetInteger("retry_count", static_cast<int32_t>(retry_count));
}

void DownloadChunksReport::OnChunkEnd(uint32_t bytes_so_far) {
  if (StatsNode* chunk = CurrentChunk()) {
    chunk->SetInteger("chunk_end", static_cast<int32_t>(bytes_so_far));
    chunk->SetTimestampAndElapsed("chunk_end_time");
  }
  ++chunk_counter_;
}

}  // namespace installer
