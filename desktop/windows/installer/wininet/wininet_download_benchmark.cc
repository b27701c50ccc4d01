// Download throughput of the WinInetDownloader against a plain synchronous
// WinInet loop (64 KiB reads into a file), in one run, for the same address.
// Run by tools/bench_wininet.sh, which serves the file with nginx, adds curl
// as the third figure and prints the ratios:
//   wininet_download_benchmark.exe URL OUTPUT_FOLDER [ROUNDS]
// Prints one line per method: "<method> <bytes> <seconds> <MB/s>".
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/scoped_generic.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/wininet/wininet.h"

namespace {

struct InternetTraits {
  static HINTERNET InvalidValue() { return nullptr; }
  static void Free(HINTERNET& handle) { InternetCloseHandle(handle); }
};
using ScopedInternet = base::ScopedGeneric<HINTERNET, InternetTraits>;

class NoUI : public installer::FetcherUIDelegate {
 public:
  void RunUICallbackAndPostReply(UITask, base::SharedRef<base::TaskRunner> reply_runner,
                                 base::Closure reply) override {
    reply_runner->PostTask(FROM_HERE, reply);
  }
};

// Returns the bytes written, or -1.
int64_t PlainLoop(const std::wstring& url, const base::FilePath& path) {
  ScopedInternet session(InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  ScopedInternet request(InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0,
                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!request.IsValid() || !file.IsValid())
    return -1;
  std::unique_ptr<char[]> buffer(new char[64 * 1024]);
  int64_t total = 0;
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(request.Get(), buffer.get(), 64 * 1024, &read))
      return -1;
    if (read == 0)
      return total;
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.get(), read, &written, nullptr) || written != read)
      return -1;
    total += read;
  }
}

int64_t WithDownloader(const std::wstring& url, const base::FilePath& path) {
  NoUI ui;
  installer::WinInetDownloader downloader(&ui, nullptr);
  auto writer = std::make_unique<installer::FileResponseWriter>();
  if (!writer->Open(path))
    return -1;
  base::LoopRunner runner;
  if (!downloader.Start(url, std::string(), runner.QuitClosure(), std::move(writer),
                        std::make_unique<installer::DownloadReport>())) {
    return -1;
  }
  runner.Run();
  if (downloader.state() != installer::WinInetDownloader::kCompleted)
    return -1;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data))
    return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Report(const char* method, int64_t bytes, double seconds) {
  std::printf("%s %lld %.3f %.1f\n", method, static_cast<long long>(bytes), seconds,
              bytes / seconds / (1024.0 * 1024.0));
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wininet_download_benchmark URL OUTPUT_FOLDER [ROUNDS]\n");
    return 2;
  }
  base::CommandLine::InitForCurrentProcess();
  base::MessageLoop loop;
  std::wstring url = argv[1];
  base::FilePath folder(argv[2]);
  int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
  // Alternating rounds, so that both methods see the same machine load; the
  // best round of each counts.
  double best_downloader = 1e9, best_plain = 1e9;
  int64_t bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    base::MonotonicTime start = base::MonotonicTime::Now();
    int64_t got = WithDownloader(url, folder.Append(L"downloader.bin"));
    double seconds = (base::MonotonicTime::Now() - start).InSecondsF();
    if (got <= 0) {
      std::fprintf(stderr, "the downloader failed\n");
      return 1;
    }
    best_downloader = std::min(best_downloader, seconds);
    bytes = got;
    start = base::MonotonicTime::Now();
    got = PlainLoop(url, folder.Append(L"plain.bin"));
    seconds = (base::MonotonicTime::Now() - start).InSecondsF();
    if (got != bytes) {
      std::fprintf(stderr, "the plain loop failed\n");
      return 1;
    }
    best_plain = std::min(best_plain, seconds);
  }
  Report("downloader", bytes, best_downloader);
  Report("wininet_loop", bytes, best_plain);
  DeleteFileW(folder.Append(L"downloader.bin").value().c_str());
  DeleteFileW(folder.Append(L"plain.bin").value().c_str());
  return 0;
}
