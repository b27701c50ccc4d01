// DownloadReport: what a download tells about each of its requests. The base
// class ignores every event; the reports below record them as statistics.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_REPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_REPORT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/windows/installer/stats_node.h"

namespace installer {

class DownloadReport {
 public:
  virtual ~DownloadReport() = default;
  // A request is about to be sent; |bytes_so_far| of the body are already in.
  virtual void OnChunkStart(uint32_t /*bytes_so_far*/) {}
  // The server's address as WinInet reports it on connecting.
  virtual void OnServerIp(const std::string& /*ip*/) {}
  virtual void OnRedirect(const std::wstring& /*url*/) {}
  // A response header ("Date", "Server", "X-Served-By"); empty when absent.
  virtual void OnHeader(const std::wstring& /*name*/, const std::wstring& /*value*/) {}
  // The error code of a request completion (0 for success).
  virtual void OnWinInetError(uint32_t /*error*/) {}
  virtual void OnHttpStatus(uint32_t /*status*/) {}
  // A resumption is being sent.
  virtual void OnRetry(uint32_t /*retry_count*/) {}
  // A request has ended with |bytes_so_far| of the body in.
  virtual void OnChunkEnd(uint32_t /*bytes_so_far*/) {}
};

// Keeps only the outcome of the last request: prefix + "wininet_error" and
// prefix + "http_status" in |node|.
class DownloadErrorReport : public DownloadReport {
 public:
  DownloadErrorReport(StatsNode* node, std::string prefix);
  void OnWinInetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;

 private:
  StatsNode node_;
  std::string prefix_;
};

// One dictionary per request in the list |list_key| of |node|, up to
// kMaxEntries: the last entry then stands for every later request, with the
// figures of the latest and its "chunk_number", so that a download of many
// requests keeps a report of bounded size.
class DownloadChunksReport : public DownloadReport {
 public:
  static constexpr uint32_t kMaxEntries = 100;

  DownloadChunksReport(StatsNode* node, std::string list_key);
  void OnChunkStart(uint32_t bytes_so_far) override;
  void OnServerIp(const std::string& ip) override;
  void OnRedirect(const std::wstring& url) override;
  void OnHeader(const std::wstring& name, const std::wstring& value) override;
  void OnWinInetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnRetry(uint32_t retry_count) override;
  void OnChunkEnd(uint32_t bytes_so_far) override;

 private:
  // The entry of the current request; logged and null when an event comes
  // before any OnChunkStart.
  StatsNode* CurrentChunk();

  StatsNode node_;
  std::string list_key_;
  std::unique_ptr<StatsNode> chunk_;
  uint32_t chunk_counter_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_REPORT_H_
